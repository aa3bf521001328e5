#include "ConsoleWindow.h"
#include "gifwriter.h"
#include "sourcefiles.h"

#include <QImage>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

namespace {

int Word(const QByteArray& data, qsizetype at) {
    return static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1]) << 8;
}

// The blocks of a GIF file after its header and global colour table.
struct GifLayout {
    std::vector<QByteArray> controlBlocks; // data of each graphic-control extension
    std::vector<QByteArray> descriptors;   // the 9 bytes after each 0x2C
    bool endsWithTrailer = false;
    bool wellFormed = false;
};

qsizetype SkipSubBlocks(const QByteArray& data, qsizetype at) {
    while (at < data.size() && data[at] != 0) {
        at += 1 + static_cast<uint8_t>(data[at]);
    }
    return at + 1;
}

GifLayout Walk(const QByteArray& data) {
    GifLayout layout;
    const uint8_t screenFlags = static_cast<uint8_t>(data[10]);
    qsizetype at = 13 + ((screenFlags & 0x80) ? 3 * (2 << (screenFlags & 7)) : 0);
    while (at < data.size()) {
        const uint8_t introducer = static_cast<uint8_t>(data[at]);
        if (introducer == 0x3B) {
            layout.endsWithTrailer = at == data.size() - 1;
            layout.wellFormed = true;
            return layout;
        }
        if (introducer == 0x21) {
            if (static_cast<uint8_t>(data[at + 1]) == 0xF9) {
                layout.controlBlocks.push_back(data.mid(at + 2, 6));
            }
            at = SkipSubBlocks(data, at + 2);
        } else if (introducer == 0x2C) {
            const QByteArray descriptor = data.mid(at + 1, 9);
            layout.descriptors.push_back(descriptor);
            at += 10;
            if (static_cast<uint8_t>(descriptor[8]) & 0x80) {
                at += 3 * static_cast<long long>(2 << (descriptor[8] & 7));
            }
            at = SkipSubBlocks(data, at + 1); // after the LZW code size byte
        } else {
            return layout;
        }
    }
    return layout;
}

TEST(StartupPicture, FileLayout) {
    const QByteArray gif = SourceFile("pictures/velantro.gif");
    ASSERT_GT(gif.size(), 13 + 768);
    EXPECT_EQ(gif.left(6), QByteArray("GIF87a"));
    EXPECT_EQ(Word(gif, 6), 246);
    EXPECT_EQ(Word(gif, 8), 520);
    EXPECT_EQ(static_cast<uint8_t>(gif[10]) & 0x80, 0x80) << "global colour table flag";
    EXPECT_EQ(static_cast<uint8_t>(gif[10]) & 0x07, 7) << "table of 256 entries";

    const int levels[6] = {0, 51, 102, 153, 204, 255};
    for (int i = 0; i < 256; ++i) {
        const int r = static_cast<uint8_t>(gif[13 + 3 * i]);
        const int g = static_cast<uint8_t>(gif[14 + 3 * i]);
        const int b = static_cast<uint8_t>(gif[15 + 3 * i]);
        if (i < 216) {
            EXPECT_EQ(r, levels[i % 6]) << "entry " << i;
            EXPECT_EQ(g, levels[(i / 6) % 6]) << "entry " << i;
            EXPECT_EQ(b, levels[i / 36]) << "entry " << i;
        } else {
            EXPECT_EQ(r + g + b, 0) << "entry " << i;
        }
    }

    const GifLayout layout = Walk(gif);
    ASSERT_TRUE(layout.wellFormed);
    EXPECT_TRUE(layout.endsWithTrailer);
    ASSERT_EQ(layout.controlBlocks.size(), 1u);
    EXPECT_EQ(layout.controlBlocks[0], QByteArray("\x04\0\0\0\0\0", 6));
    ASSERT_EQ(layout.descriptors.size(), 1u);
    const QByteArray& d = layout.descriptors[0];
    EXPECT_EQ(Word(d, 0), 0);
    EXPECT_EQ(Word(d, 2), 0);
    EXPECT_EQ(Word(d, 4), 246);
    EXPECT_EQ(Word(d, 6), 520);
    EXPECT_EQ(static_cast<uint8_t>(d[8]) & 0xC0, 0) << "no local table, not interlaced";
    EXPECT_LT(gif.size(), 16000) << "LZW should compress the flat drawing well";
}

TEST(StartupPicture, GreyDrawingOnWhite) {
    const QImage image = SourceImage("pictures/velantro.gif");
    ASSERT_EQ(image.size(), QSize(246, 520));
    std::map<QRgb, int> counts;
    int grey = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            ++counts[c];
            grey += qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
        }
    }
    const int total = image.width() * image.height();
    EXPECT_LE(counts.size(), 9u);
    EXPECT_GE(counts.size(), 6u) << "outlines and shading need several greys";
    EXPECT_GT(counts[qRgb(255, 255, 255)], total / 2) << "white background";
    EXPECT_GT(grey, total * 9 / 10);

    // The console shows the top-left 245 x 517 of it: what it cuts off must be
    // background.
    const QSize shown = testsupport::controls::PictureArea.size();
    for (int y = 0; y < image.height(); ++y) {
        EXPECT_EQ(image.pixel(shown.width(), y), qRgb(255, 255, 255)) << "last column, row " << y;
    }
    for (int y = shown.height(); y < 520; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(image.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
        }
    }
}

// Encodes with our writer and decodes with Qt's reader; the pixels must come back.
struct RoundTrip {
    const char* name;
    int width;
    int height;
    int paletteSize;
    std::function<int(int x, int y, std::mt19937& random)> index;
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.name;
}

class LzwRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LzwRoundTrip, QtDecodesWhatWeEncode) {
    const RoundTrip& c = GetParam();
    artgen::IndexedImage image;
    image.width = c.width;
    image.height = c.height;
    for (int i = 0; i < c.paletteSize; ++i) {
        image.palette.append(qRgb(i, 255 - i, (i * 37) & 0xFF)); // all distinct
    }
    std::mt19937 random(12345);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            image.pixels.push_back(static_cast<uint8_t>(c.index(x, y, random)));
        }
    }

    const QImage decoded = QImage::fromData(artgen::EncodeGif(image), "GIF");
    ASSERT_EQ(decoded.size(), QSize(c.width, c.height));
    int wrong = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const uint8_t index = image.pixels[static_cast<size_t>(y) * c.width + x];
            if (decoded.pixel(x, y) != image.palette[index] && ++wrong <= 3) {
                ADD_FAILURE() << "pixel " << x << "," << y << " index " << int(index);
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Images, LzwRoundTrip,
    ::testing::Values(
        RoundTrip{"OneColour", 246, 520, 256, [](int, int, std::mt19937&) { return 215; }},
        RoundTrip{"SinglePixel", 1, 1, 2, [](int, int, std::mt19937&) { return 1; }},
        // Every code is new: the table fills up and is cleared again and again.
        RoundTrip{"Noise256", 300, 300, 256,
                  [](int, int, std::mt19937& r) { return static_cast<int>(r() % 256); }},
        RoundTrip{"Noise16", 311, 517, 16,
                  [](int, int, std::mt19937& r) { return static_cast<int>(r() % 16); }},
        // Two colours still use 2-bit minimum codes, with only two of four values used.
        RoundTrip{"Checker2", 97, 61, 2, [](int x, int y, std::mt19937&) { return (x + y) % 2; }},
        RoundTrip{"Stripes4", 246, 520, 4, [](int x, int, std::mt19937&) { return x / 7 % 4; }},
        RoundTrip{"Ramp256", 256, 200, 256,
                  [](int x, int y, std::mt19937&) { return (x + 3 * y) % 256; }},
        // Long repeats mixed with noise: long strings, then table resets mid-row.
        RoundTrip{"PatchyNoise", 400, 300, 256,
                  [](int x, int y, std::mt19937& r) {
                      return (x / 40 + y / 30) % 2 ? static_cast<int>(r() % 256) : y % 5;
                  }}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

} // namespace
