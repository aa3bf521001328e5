#pragma once

#include <QByteArray>
#include <QVector>
#include <QtGui/qrgb.h>

#include <cstdint>
#include <vector>

namespace artgen {

// A picture stored as palette indices, row by row from the top.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // width * height indices into palette
    QVector<QRgb> palette;       // 2, 4, 8, ... or 256 entries
};

// The colour table every picture of the console uses: the 6x6x6 colour cube with
// levels 0, 51, ..., 255 (red varying fastest), followed by 40 black entries.
QVector<QRgb> CubePalette();

// GIF's variable-width LZW: starts with a clear code, widens codes up to 12 bits,
// sends a clear code whenever the 4096-entry table is full, ends with the
// end-of-information code. Returns the packed bit stream (not yet split into blocks).
std::vector<uint8_t> LzwCompress(const std::vector<uint8_t>& indices, int minCodeSize);

// A complete "GIF87a" file: logical screen the size of the image, a global colour
// table, one graphic-control block with every field zero (no transparency, no delay),
// one non-interlaced image at 0,0 and the trailer.
QByteArray EncodeGif(const IndexedImage& image);

} // namespace artgen
