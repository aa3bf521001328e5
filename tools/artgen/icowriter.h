#pragma once

#include <QByteArray>
#include <QVector>
#include <QtGui/qrgb.h>

#include <cstdint>
#include <vector>

namespace artgen {

// One picture of an icon file: palette indices plus the AND mask.
struct IconImage {
    int width = 0;                 // 1..256
    int height = 0;                // 1..256
    int bitsPerPixel = 4;          // 1 or 4
    QVector<QRgb> palette;         // 2^bitsPerPixel entries
    std::vector<uint8_t> pixels;   // width * height indices, top row first
    std::vector<bool> transparent; // width * height, true where the desktop shows through
};

// A Windows .ico file holding the images in the given order, each as a
// BITMAPINFOHEADER, palette, XOR bitmap and AND mask (both bottom-up, rows padded
// to 32 bits). Transparent pixels are written as index 0 with the mask bit set.
QByteArray EncodeIco(const std::vector<IconImage>& images);

} // namespace artgen
