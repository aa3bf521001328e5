#include "sourcefiles.h"

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

uint32_t LittleEndian(const QByteArray& data, qsizetype at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(data[at + i]);
    }
    return value;
}

struct IconEntry {
    int size;
    int bits;
    bool colourful;
};

const IconEntry Entries[] = {{32, 4, true}, {16, 4, true}, {32, 1, false}};

struct Colours {
    int clear = 0;
    int cyan = 0;
    int other = 0; // neither clear, cyan, black nor white
};

// Counts the icon's colours and checks what every picture of it shares: clear
// corners and a window that fills much of it.
Colours CountColours(const QImage& image) {
    Colours colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qAlpha(c) == 0) {
                ++colours.clear;
            } else if (c == qRgb(0, 255, 255)) {
                ++colours.cyan;
            } else if (c != qRgb(0, 0, 0) && c != qRgb(255, 255, 255)) {
                ++colours.other;
            }
        }
    }
    const int area = image.width() * image.height();
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the mask leaves the corners clear";
    EXPECT_GT(colours.clear, area / 8);
    EXPECT_LT(colours.clear, area * 3 / 4) << "the window fills much of the icon";
    return colours;
}

TEST(ProgramIcon, DirectoryAndBitmapHeaders) {
    const QByteArray ico = SourceFile("assets/velantro.ico");
    ASSERT_GE(ico.size(), 6 + 3 * 16);
    EXPECT_EQ(LittleEndian(ico, 0, 2), 0u);
    EXPECT_EQ(LittleEndian(ico, 2, 2), 1u) << "icon, not cursor";
    ASSERT_EQ(LittleEndian(ico, 4, 2), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const IconEntry& e = Entries[i];
        const qsizetype entry = 6 + 16 * i;
        EXPECT_EQ(LittleEndian(ico, entry, 1), uint32_t(e.size));
        EXPECT_EQ(LittleEndian(ico, entry + 1, 1), uint32_t(e.size));
        EXPECT_EQ(LittleEndian(ico, entry + 2, 1), 1u << e.bits);
        EXPECT_EQ(LittleEndian(ico, entry + 6, 2), uint32_t(e.bits));
        const uint32_t length = LittleEndian(ico, entry + 8, 4);
        const uint32_t offset = LittleEndian(ico, entry + 12, 4);
        ASSERT_LE(offset + length, uint32_t(ico.size()));
        // Header + palette + XOR rows + AND rows, rows padded to 32 bits.
        const uint32_t xorRow = (e.size * e.bits + 31) / 32 * 4;
        const uint32_t andRow = (e.size + 31) / 32 * 4;
        EXPECT_EQ(length, 40 + 4 * (1u << e.bits) + (xorRow + andRow) * e.size);
        EXPECT_EQ(LittleEndian(ico, offset, 4), 40u);
        EXPECT_EQ(LittleEndian(ico, offset + 4, 4), uint32_t(e.size));
        EXPECT_EQ(LittleEndian(ico, offset + 8, 4), uint32_t(2 * e.size)) << "image and mask";
        EXPECT_EQ(LittleEndian(ico, offset + 14, 2), uint32_t(e.bits));
    }
}

TEST(ProgramIcon, QtReadsAllThreeImages) {
    QByteArray ico = SourceFile("assets/velantro.ico");
    QBuffer buffer(&ico);
    QImageReader reader(&buffer, "ico");
    ASSERT_EQ(reader.imageCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const IconEntry& e = Entries[i];
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(e.size, e.size)) << reader.errorString().toStdString();
        const Colours colours = CountColours(image);
        if (e.colourful) {
            EXPECT_GT(colours.cyan, e.size) << "title bar";
        } else {
            EXPECT_EQ(colours.cyan + colours.other, 0) << "black and white only";
        }
    }
}

// The icon theme's files: the same drawing at each size a desktop asks for,
// with a frame that grows with the icon instead of a one-pixel hairline.
TEST(ThemeIcons, EverySizeIsTheWindowDrawing) {
    for (int size : {16, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QByteArray path = QStringLiteral("assets/velantro-%1.png").arg(size).toLatin1();
        const QImage image = SourceImage(path.constData());
        ASSERT_EQ(image.size(), QSize(size, size));
        const Colours colours = CountColours(image);
        EXPECT_GT(colours.cyan, size) << "title bar";
        int frame = 0; // black pixels where the middle row enters the window
        int x = 0;
        while (x < size && qAlpha(image.pixel(x, size / 2)) == 0) {
            ++x;
        }
        for (; x < size && image.pixel(x, size / 2) == qRgb(0, 0, 0); ++x) {
            ++frame;
        }
        EXPECT_GE(frame, std::max(1, size / 32));
    }
}

} // namespace
