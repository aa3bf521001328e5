#include "gifwriter.h"

#include <stdexcept>
#include <unordered_map>

namespace artgen {

namespace {

constexpr int MaxCodeBits = 12;
constexpr int TableSize = 1 << MaxCodeBits;

// Packs codes least significant bit first, as GIF decoders read them.
class BitPacker {
public:
    explicit BitPacker(std::vector<uint8_t>& out) : out_(out) {}

    void Put(int code, int width) {
        acc_ |= static_cast<uint32_t>(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            out_.push_back(static_cast<uint8_t>(acc_ & 0xFF));
            acc_ >>= 8;
            bits_ -= 8;
        }
    }

    void Flush() {
        if (bits_ > 0) {
            out_.push_back(static_cast<uint8_t>(acc_ & 0xFF));
        }
        acc_ = 0;
        bits_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint32_t acc_ = 0;
    int bits_ = 0;
};

void PutWord(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

int BitsForEntries(qsizetype entries) {
    int bits = 1;
    while ((qsizetype{1} << bits) < entries) {
        ++bits;
    }
    return bits;
}

} // namespace

QVector<QRgb> CubePalette() {
    static const int levels[6] = {0, 51, 102, 153, 204, 255};
    QVector<QRgb> palette;
    palette.reserve(256);
    for (int i = 0; i < 216; ++i) {
        palette.append(qRgb(levels[i % 6], levels[(i / 6) % 6], levels[i / 36]));
    }
    while (palette.size() < 256) {
        palette.append(qRgb(0, 0, 0));
    }
    return palette;
}

std::vector<uint8_t> LzwCompress(const std::vector<uint8_t>& indices, int minCodeSize) {
    if (minCodeSize < 2 || minCodeSize > 8) {
        throw std::invalid_argument("LZW minimum code size must be 2..8");
    }
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    for (uint8_t index : indices) {
        if (index >= clearCode) {
            throw std::invalid_argument("pixel index does not fit the LZW code size");
        }
    }

    std::vector<uint8_t> out;
    BitPacker packer(out);
    // (prefix code << 8 | next index) -> code of that string
    std::unordered_map<uint32_t, int> table;
    table.reserve(TableSize);
    int width = minCodeSize + 1;
    int nextCode = endCode + 1;

    // The decoder widens its codes once its table has grown to 2^width entries; it
    // counts one entry per code read, so the check follows every data code sent.
    auto sendData = [&](int code) {
        packer.Put(code, width);
        if (nextCode >= (1 << width) && width < MaxCodeBits) {
            ++width;
        }
    };

    packer.Put(clearCode, width);
    if (!indices.empty()) {
        int prefix = indices[0];
        for (size_t i = 1; i < indices.size(); ++i) {
            const uint8_t index = indices[i];
            const uint32_t key = static_cast<uint32_t>(prefix) << 8 | index;
            const auto found = table.find(key);
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            sendData(prefix);
            if (nextCode < TableSize) {
                table.emplace(key, nextCode++);
            } else {
                packer.Put(clearCode, width);
                table.clear();
                width = minCodeSize + 1;
                nextCode = endCode + 1;
            }
            prefix = index;
        }
        sendData(prefix);
    }
    packer.Put(endCode, width);
    packer.Flush();
    return out;
}

QByteArray EncodeGif(const IndexedImage& image) {
    const qsizetype entries = image.palette.size();
    if (entries < 2 || entries > 256 || (entries & (entries - 1)) != 0) {
        throw std::invalid_argument("GIF colour table needs 2, 4, ... or 256 entries");
    }
    if (image.width <= 0 || image.height <= 0 || image.width > 0xFFFF || image.height > 0xFFFF ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
        throw std::invalid_argument("GIF image size does not match its pixels");
    }
    const int tableBits = BitsForEntries(entries);

    QByteArray out("GIF87a");
    // Logical screen: colour table present, 8 bits of colour resolution, unsorted.
    PutWord(out, image.width);
    PutWord(out, image.height);
    out.append(static_cast<char>(0x80 | 0x70 | (tableBits - 1)));
    out.append('\0'); // background colour index
    out.append('\0'); // pixel aspect ratio: not given
    for (QRgb colour : image.palette) {
        out.append(static_cast<char>(qRed(colour)));
        out.append(static_cast<char>(qGreen(colour)));
        out.append(static_cast<char>(qBlue(colour)));
    }

    // Graphic control: no disposal, no delay, no transparent colour.
    out.append("\x21\xF9\x04", 3);
    out.append(5, '\0');

    out.append('\x2C');
    PutWord(out, 0);
    PutWord(out, 0);
    PutWord(out, image.width);
    PutWord(out, image.height);
    out.append('\0'); // no local table, not interlaced

    const int minCodeSize = tableBits < 2 ? 2 : tableBits;
    out.append(static_cast<char>(minCodeSize));
    const std::vector<uint8_t> data = LzwCompress(image.pixels, minCodeSize);
    for (size_t pos = 0; pos < data.size(); pos += 255) {
        const size_t length = std::min<size_t>(255, data.size() - pos);
        out.append(static_cast<char>(length));
        out.append(reinterpret_cast<const char*>(data.data() + pos),
                   static_cast<qsizetype>(length));
    }
    out.append('\0');
    out.append('\x3B');
    return out;
}

} // namespace artgen
