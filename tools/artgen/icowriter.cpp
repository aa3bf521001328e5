#include "icowriter.h"

#include <stdexcept>

namespace artgen {

namespace {

void Put16(QByteArray& out, uint32_t value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(QByteArray& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

int RowBytes(int width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// Bottom-up rows of `bits`-wide values, each row padded to a multiple of 4 bytes.
template <typename ValueAt> QByteArray PackRows(int width, int height, int bits, ValueAt valueAt) {
    const int stride = RowBytes(width, bits);
    QByteArray out(static_cast<qsizetype>(stride) * height, '\0');
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(out.data()) +
                    static_cast<qsizetype>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const int bit = x * bits;
            const int shift = 8 - bits - bit % 8; // leftmost pixel in the high bits
            row[bit / 8] |= static_cast<uint8_t>(valueAt(x, y) << shift);
        }
    }
    return out;
}

QByteArray ImageData(const IconImage& image) {
    const size_t count = static_cast<size_t>(image.width) * image.height;
    if (image.width < 1 || image.width > 256 || image.height < 1 || image.height > 256 ||
        (image.bitsPerPixel != 1 && image.bitsPerPixel != 4) ||
        image.palette.size() != (1 << image.bitsPerPixel) || image.pixels.size() != count ||
        image.transparent.size() != count) {
        throw std::invalid_argument("icon image is inconsistent");
    }

    auto at = [&](int x, int y) { return static_cast<size_t>(y) * image.width + x; };
    const QByteArray colours =
        PackRows(image.width, image.height, image.bitsPerPixel, [&](int x, int y) {
            const size_t i = at(x, y);
            return image.transparent[i] ? 0 : image.pixels[i];
        });
    const QByteArray mask = PackRows(image.width, image.height, 1, [&](int x, int y) {
        return image.transparent[at(x, y)] ? 1 : 0;
    });

    QByteArray out;
    Put32(out, 40); // BITMAPINFOHEADER size
    Put32(out, image.width);
    Put32(out, image.height * 2); // colour bitmap and mask stacked
    Put16(out, 1);                // planes
    Put16(out, image.bitsPerPixel);
    Put32(out, 0); // BI_RGB
    Put32(out, colours.size() + mask.size());
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    for (QRgb colour : image.palette) {
        out.append(static_cast<char>(qBlue(colour)));
        out.append(static_cast<char>(qGreen(colour)));
        out.append(static_cast<char>(qRed(colour)));
        out.append('\0');
    }
    return out + colours + mask;
}

} // namespace

QByteArray EncodeIco(const std::vector<IconImage>& images) {
    QByteArray header;
    Put16(header, 0); // reserved
    Put16(header, 1); // icon resource
    Put16(header, static_cast<uint32_t>(images.size()));

    QByteArray bodies;
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (const IconImage& image : images) {
        const QByteArray body = ImageData(image);
        header.append(static_cast<char>(image.width & 0xFF)); // 256 is written as 0
        header.append(static_cast<char>(image.height & 0xFF));
        header.append(static_cast<char>(image.palette.size() & 0xFF));
        header.append('\0');
        Put16(header, 1);
        Put16(header, image.bitsPerPixel);
        Put32(header, body.size());
        Put32(header, offset);
        offset += body.size();
        bodies += body;
    }
    return header + bodies;
}

} // namespace artgen
