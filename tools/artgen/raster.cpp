#include "raster.h"

#include <limits>
#include <stdexcept>

namespace artgen {

QImage Reduce(const QImage& large, int factor) {
    if (factor <= 0 || large.width() % factor != 0 || large.height() % factor != 0) {
        throw std::invalid_argument("image size is not a multiple of the reduction factor");
    }
    const QImage source = large.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage small(source.width() / factor, source.height() / factor,
                 QImage::Format_ARGB32_Premultiplied);
    const int samples = factor * factor;
    for (int y = 0; y < small.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(small.scanLine(y));
        for (int x = 0; x < small.width(); ++x) {
            int sum[4] = {0, 0, 0, 0};
            for (int sy = 0; sy < factor; ++sy) {
                const auto* in =
                    reinterpret_cast<const QRgb*>(source.constScanLine(y * factor + sy)) +
                    static_cast<std::ptrdiff_t>(x) * factor;
                for (int sx = 0; sx < factor; ++sx) {
                    sum[0] += qRed(in[sx]);
                    sum[1] += qGreen(in[sx]);
                    sum[2] += qBlue(in[sx]);
                    sum[3] += qAlpha(in[sx]);
                }
            }
            auto mean = [&](int total) { return (total + samples / 2) / samples; };
            out[x] = qRgba(mean(sum[0]), mean(sum[1]), mean(sum[2]), mean(sum[3]));
        }
    }
    return small.convertToFormat(large.hasAlphaChannel() ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
}

int NearestEntry(QRgb colour, const QVector<QRgb>& palette, const std::vector<int>& candidates) {
    int best = -1;
    int bestDistance = std::numeric_limits<int>::max();
    for (int index : candidates) {
        const QRgb entry = palette.at(index);
        const int dr = qRed(colour) - qRed(entry);
        const int dg = qGreen(colour) - qGreen(entry);
        const int db = qBlue(colour) - qBlue(entry);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = index;
        }
    }
    return best;
}

} // namespace artgen
