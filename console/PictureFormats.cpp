#include "PictureFormats.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// How far a file's structure reaches. Qt decodes a cut-off file without
// complaint and fills the rest with grey, so the file is walked first: a
// picture is whole when its blocks lead to their end marker. Whatever follows
// that marker is not part of the picture and is ignored.
enum class Layout { Whole, Short, Damaged };

struct JpegLayout {
    Layout layout = Layout::Short;
    std::string damage; // what is wrong, when the walk can tell
    // Progressive or arithmetic-coded, in several scans, or with a scan that
    // leaves out a component of the frame: the decoder then keeps every
    // pixel's coefficients until the last scan, whatever part of them is shown.
    bool wholeInDecoder = false;
    QSize size;
    int scans = 0;
    long long blocks = 0;     // 8 x 8 blocks of the frame, every component
    long long scanBlocks = 0; // the blocks each scan goes over, summed over the scans
};

// The 8 x 8 blocks of each component of a frame, by component identifier.
struct FrameBlocks {
    std::array<long long, 256> ofComponent{};
    long long total = 0;
};

// segment is a frame header's contents, past its length.
FrameBlocks BlocksOf(const unsigned char* segment, std::size_t size, QSize pixels) {
    FrameBlocks blocks;
    const std::size_t components = size >= 6 ? segment[5] : 0;
    if (size < 6 + 3 * components) {
        return blocks;
    }
    const auto sampling = [segment](std::size_t i, int shift) {
        return std::max(1, segment[6 + 3 * i + 1] >> shift & 0x0F);
    };
    int most[2] = {1, 1};
    for (std::size_t i = 0; i < components; ++i) {
        most[0] = std::max(most[0], sampling(i, 4));
        most[1] = std::max(most[1], sampling(i, 0));
    }
    const auto blocksAcross = [](long long pixels, int factor, int most) {
        return ((pixels * factor + most - 1) / most + 7) / 8;
    };
    for (std::size_t i = 0; i < components; ++i) {
        const long long count = blocksAcross(pixels.width(), sampling(i, 4), most[0]) *
                                blocksAcross(pixels.height(), sampling(i, 0), most[1]);
        blocks.ofComponent[segment[6 + 3 * i]] = count;
        blocks.total += count;
    }
    return blocks;
}

// A JPEG is a chain of marker segments, each with its length, and after every
// start-of-scan the entropy-coded data up to the next marker (0xFF followed by
// neither 0x00, a stuffed byte, nor a restart marker). It ends at end-of-image.
// Stray bytes between segments are skipped, as the decoder skips them.
JpegLayout WalkJpeg(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto end = static_cast<std::size_t>(bytes.size());
    JpegLayout found;
    const auto damaged = [&found](std::string damage) {
        found.layout = Layout::Damaged;
        found.damage = std::move(damage);
        return found;
    };
    int headerSegments = 0;
    bool framed = false;
    int frameComponents = 0;
    FrameBlocks frameBlocks;
    std::size_t at = 2; // past start-of-image
    for (;;) {
        const void* marker = at < end ? std::memchr(data + at, 0xFF, end - at) : nullptr;
        if (marker == nullptr) {
            return found;
        }
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(marker) - data);
        while (at < end && data[at] == 0xFF) {
            ++at;
        }
        if (at >= end) {
            return found;
        }
        const unsigned char code = data[at++];
        if (code == 0xD9) {
            found.layout = Layout::Whole;
            return found;
        }
        if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD8)) {
            continue; // no length follows these
        }
        if (found.scans == 0 && code != 0xDA && ++headerSegments > MaxJpegHeaderSegments) {
            return damaged("tiene más de " + std::to_string(MaxJpegHeaderSegments) +
                           " segmentos de cabecera");
        }
        if (end - at < 2) {
            return found;
        }
        const std::size_t length = std::size_t{data[at]} << 8 | data[at + 1];
        if (length < 2) {
            found.layout = Layout::Damaged;
            return found;
        }
        if (end - at < length) {
            return found;
        }
        const bool frame =
            code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) {
            if (framed) {
                return damaged("tiene más de una cabecera de imagen");
            }
            framed = true;
            frameComponents = length >= 8 ? data[at + 7] : 1;
            if (length >= 7) {
                found.size = {data[at + 5] << 8 | data[at + 6], data[at + 3] << 8 | data[at + 4]};
            }
            frameBlocks = BlocksOf(data + at + 2, length - 2, found.size);
            found.blocks = frameBlocks.total;
            // Only baseline and extended Huffman-coded frames, 0xC0 and 0xC1,
            // can be decoded a band of rows at a time.
            found.wholeInDecoder = found.wholeInDecoder || code > 0xC1;
        }
        if (code == 0xDA) {
            const int scanComponents = length >= 3 ? data[at + 2] : 0;
            found.wholeInDecoder =
                found.wholeInDecoder || found.scans > 0 || scanComponents < frameComponents;
            ++found.scans;
            const auto carried = static_cast<std::size_t>(scanComponents);
            for (std::size_t i = 0; i < carried && 3 + 2 * i < length; ++i) {
                found.scanBlocks += frameBlocks.ofComponent[data[at + 3 + 2 * i]];
            }
        }
        at += length;
        if (code != 0xDA) {
            continue;
        }
        // Scan data: look for the 0xFF that starts the next marker.
        for (;;) {
            marker = at < end ? std::memchr(data + at, 0xFF, end - at) : nullptr;
            if (marker == nullptr) {
                return found;
            }
            at = static_cast<std::size_t>(static_cast<const unsigned char*>(marker) - data);
            if (at + 1 >= end) {
                return found;
            }
            const unsigned char next = data[at + 1];
            if (next == 0xFF) {
                ++at; // fill byte: the marker may start at the next one
            } else if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                at += 2;
            } else {
                break;
            }
        }
    }
}

// A GIF is its header, logical screen and colour table, then blocks: an
// extension or an image, each ending with its chain of data sub-blocks, and
// last the trailer byte.
Layout WalkGif(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto end = static_cast<std::size_t>(bytes.size());
    const auto colourTable = [](unsigned char flags) -> std::size_t {
        return (flags & 0x80) != 0 ? 3 * (std::size_t{2} << (flags & 0x07)) : 0;
    };
    // Skips data sub-blocks up to their empty terminator.
    const auto subBlocks = [&](std::size_t& at) {
        while (at < end) {
            const std::size_t length = data[at++];
            if (length == 0) {
                return true;
            }
            at += length;
        }
        return false;
    };
    if (end < 13) {
        return Layout::Short;
    }
    std::size_t at = 13 + colourTable(data[10]);
    while (at < end) {
        switch (data[at++]) {
        case 0x3B:
            return Layout::Whole;
        case 0x21: // extension: label, then its data
            if (!subBlocks(++at)) {
                return Layout::Short;
            }
            break;
        case 0x2C: // image: descriptor, local colour table, code size, data
            if (end - at < 10) {
                return Layout::Short;
            }
            at += 9 + colourTable(data[at + 8]) + 1;
            if (!subBlocks(at)) {
                return Layout::Short;
            }
            break;
        default:
            return Layout::Damaged;
        }
    }
    return Layout::Short;
}

// Refuses a picture that declares more pixels than the console admits,
// before the decoder allocates them.
void CheckDeclaredSize(const std::string& path, const QSize& size) {
    if (size.isValid() && static_cast<qint64>(size.width()) * size.height() > MaxPicturePixels) {
        throw PictureError(path, "la imagen declara " + std::to_string(size.width()) + " x " +
                                     std::to_string(size.height()) +
                                     " píxeles, más de los que la consola admite");
    }
}

// A JPEG the decoder holds whole costs memory for every block and time for
// every block of every scan, and for every byte: each is bounded.
void CheckHeldJpeg(const std::string& path, const JpegLayout& jpeg, qsizetype bytes) {
    if (jpeg.blocks > MaxHeldJpegBlocks || jpeg.scanBlocks > MaxHeldJpegScanBlocks) {
        throw PictureError(path, "la imagen JPEG declara " + std::to_string(jpeg.size.width()) +
                                     " x " + std::to_string(jpeg.size.height()) + " píxeles en " +
                                     std::to_string(jpeg.scans) +
                                     " barridos, más de lo que la consola lee entero");
    }
    if (bytes > MaxHeldJpegBytes) {
        throw PictureError(path, "la imagen JPEG progresiva o en varios barridos ocupa " +
                                     std::to_string(bytes / 1024) +
                                     " kB, más de los que la consola lee enteros");
    }
}

// A GIF's logical screen, from its header. Qt decodes every GIF onto a canvas
// of this size, which may be far larger than the size of its first frame.
QSize GifScreenSize(const QByteArray& bytes) {
    if (bytes.size() < 10) {
        return {};
    }
    const auto le16 = [&bytes](int at) {
        const auto low = static_cast<unsigned char>(bytes[at]);
        const auto high = static_cast<unsigned char>(bytes[at + 1]);
        return low | high << 8;
    };
    return {le16(6), le16(8)};
}

} // namespace

void LimitPictureDecoding() {
    // In megabytes; decoded pictures are 32 bits a pixel.
    QImageReader::setAllocationLimit(MaxPicturePixels / (1024 * 1024) * 4);
}

QImage DecodePicture(const std::string& path, const QByteArray& bytes, QSize visible) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);

    const QByteArray format = reader.format();
    if (format != "jpeg" && format != "gif") {
        throw PictureError(path, bytes.isEmpty() ? "el archivo está vacío"
                                                 : "el archivo no es una imagen JPEG ni GIF");
    }
    const std::string name = format.toUpper().toStdString();
    Layout layout = Layout::Short;
    if (format == "gif") {
        CheckDeclaredSize(path, GifScreenSize(bytes));
        CheckDeclaredSize(path, reader.size());
        layout = WalkGif(bytes);
    } else {
        const JpegLayout jpeg = WalkJpeg(bytes);
        if (jpeg.layout == Layout::Damaged && !jpeg.damage.empty()) {
            throw PictureError(path, "los datos de la imagen JPEG están dañados: " + jpeg.damage);
        }
        if (jpeg.wholeInDecoder) {
            CheckDeclaredSize(path, jpeg.size);
            CheckHeldJpeg(path, jpeg, bytes.size());
        }
        layout = jpeg.layout;
    }
    if (layout == Layout::Short) {
        throw PictureError(path, "la imagen " + name +
                                     " está incompleta: el archivo se corta antes de su final");
    }
    if (layout == Layout::Damaged) {
        throw PictureError(path, "los datos de la imagen " + name + " están dañados");
    }
    // Only the top-left part the picture box shows is decoded: the JPEG
    // reader then never holds more than those rows. The GIF reader decodes
    // the whole canvas, and only the visible part of it is kept.
    const QRect shown(QPoint(0, 0), visible);
    const QRect clip = QRect(QPoint(0, 0), reader.size()).intersected(shown);
    if (!clip.isEmpty()) {
        reader.setClipRect(clip);
    }
    QImage image;
    if (!reader.read(&image)) {
        throw PictureError(path, "los datos de la imagen " + name + " están dañados (" +
                                     reader.errorString().toStdString() + ")");
    }
    if (!shown.contains(image.rect())) {
        image = image.copy(image.rect().intersected(shown));
    }
    return image;
}
