#include "sourcefiles.h"

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

namespace {

uint32_t le(const QByteArray& data, qsizetype at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(data[at + i]);
    return value;
}

struct IconEntry {
    int size;
    int bits;
    bool colourful;
};

const IconEntry kEntries[] = {{32, 4, true}, {16, 4, true}, {32, 1, false}};

TEST(ProgramIcon, DirectoryAndBitmapHeaders) {
    const QByteArray ico = sourceFile("assets/velantro.ico");
    ASSERT_GE(ico.size(), 6 + 3 * 16);
    EXPECT_EQ(le(ico, 0, 2), 0u);
    EXPECT_EQ(le(ico, 2, 2), 1u) << "icon, not cursor";
    ASSERT_EQ(le(ico, 4, 2), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const IconEntry& e = kEntries[i];
        const qsizetype entry = 6 + 16 * i;
        EXPECT_EQ(le(ico, entry, 1), uint32_t(e.size));
        EXPECT_EQ(le(ico, entry + 1, 1), uint32_t(e.size));
        EXPECT_EQ(le(ico, entry + 2, 1), 1u << e.bits);
        EXPECT_EQ(le(ico, entry + 6, 2), uint32_t(e.bits));
        const uint32_t length = le(ico, entry + 8, 4);
        const uint32_t offset = le(ico, entry + 12, 4);
        ASSERT_LE(offset + length, uint32_t(ico.size()));
        // Header + palette + XOR rows + AND rows, rows padded to 32 bits.
        const uint32_t xorRow = (e.size * e.bits + 31) / 32 * 4;
        const uint32_t andRow = (e.size + 31) / 32 * 4;
        EXPECT_EQ(length, 40 + 4 * (1u << e.bits) + (xorRow + andRow) * e.size);
        EXPECT_EQ(le(ico, offset, 4), 40u);
        EXPECT_EQ(le(ico, offset + 4, 4), uint32_t(e.size));
        EXPECT_EQ(le(ico, offset + 8, 4), uint32_t(2 * e.size)) << "image and mask";
        EXPECT_EQ(le(ico, offset + 14, 2), uint32_t(e.bits));
    }
}

TEST(ProgramIcon, QtReadsAllThreeImages) {
    QByteArray ico = sourceFile("assets/velantro.ico");
    QBuffer buffer(&ico);
    QImageReader reader(&buffer, "ico");
    ASSERT_EQ(reader.imageCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const IconEntry& e = kEntries[i];
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(e.size, e.size)) << reader.errorString().toStdString();
        int clear = 0, cyan = 0, other = 0;
        for (int y = 0; y < e.size; ++y)
            for (int x = 0; x < e.size; ++x) {
                const QRgb c = image.pixel(x, y);
                if (qAlpha(c) == 0)
                    ++clear;
                else if (c == qRgb(0, 255, 255))
                    ++cyan;
                else if (c != qRgb(0, 0, 0) && c != qRgb(255, 255, 255))
                    ++other;
            }
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the mask leaves the corners clear";
        EXPECT_GT(clear, e.size * e.size / 8);
        EXPECT_LT(clear, e.size * e.size * 3 / 4) << "the window fills much of the icon";
        if (e.colourful) {
            EXPECT_GT(cyan, e.size) << "title bar";
        } else {
            EXPECT_EQ(cyan + other, 0) << "black and white only";
        }
    }
}

} // namespace
