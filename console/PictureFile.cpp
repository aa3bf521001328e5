#include "PictureFile.h"

#include <QBuffer>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Picture files are a few tens of kilobytes; anything far larger is refused
// rather than read into memory.
constexpr qint64 MaxFileBytes = qint64{64} * 1024 * 1024;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw PictureError("No se puede cargar la imagen " + path + ": " + reason + ".");
}

std::string SystemReason(int error) {
    switch (error) {
    case ENOENT:
        return "el archivo no existe";
    case EACCES:
    case EPERM:
        return "no hay permiso para leer el archivo";
    case EISDIR:
        return "es una carpeta, no un archivo";
    default:
        return std::string("error del sistema: ") + std::strerror(error);
    }
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// How far a file's structure reaches. Qt decodes a cut-off file without
// complaint and fills the rest with grey, so the file is walked first: a
// picture is whole when its blocks lead to their end marker. Whatever follows
// that marker is not part of the picture and is ignored.
enum class Layout { Whole, Short, Damaged };

struct JpegLayout {
    Layout layout = Layout::Short;
    // Progressive, or in several scans: the decoder then keeps every pixel's
    // coefficients until the last scan, whatever part of them is shown.
    bool wholeInDecoder = false;
    QSize size;
};

// A JPEG is a chain of marker segments, each with its length, and after every
// start-of-scan the entropy-coded data up to the next marker (0xFF followed by
// neither 0x00, a stuffed byte, nor a restart marker). It ends at end-of-image.
// Stray bytes between segments are skipped, as the decoder skips them.
JpegLayout WalkJpeg(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto end = static_cast<std::size_t>(bytes.size());
    JpegLayout found;
    int scans = 0;
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
        if (frame && length >= 7) {
            found.size = {data[at + 5] << 8 | data[at + 6], data[at + 3] << 8 | data[at + 4]};
            found.wholeInDecoder = found.wholeInDecoder || (code & 0x03) == 0x02;
        }
        at += length;
        if (code != 0xDA) {
            continue;
        }
        found.wholeInDecoder = found.wholeInDecoder || scans > 0;
        ++scans;
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
        Fail(path, "la imagen declara " + std::to_string(size.width()) + " x " +
                       std::to_string(size.height()) +
                       " píxeles, más de los que la consola admite");
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

FileStamp StampOf(const struct stat& status) {
    FileStamp stamp;
    stamp.device = status.st_dev;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modified = status.st_mtim;
    stamp.changed = status.st_ctim;
    return stamp;
}

bool operator==(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

bool FileStamp::IsRecent(const timespec& now) const {
    const auto age = [&now](const timespec& then) {
        return (static_cast<long long>(now.tv_sec) - then.tv_sec) * 1'000'000'000 +
               (now.tv_nsec - then.tv_nsec);
    };
    constexpr long long TwoSeconds = 2'000'000'000;
    return age(modified) < TwoSeconds || age(changed) < TwoSeconds;
}

FileStamp StampPictureFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        Fail(path, SystemReason(errno));
    }
    return StampOf(status);
}

FileStamp ReadPictureFile(const std::string& path, QByteArray& bytes) {
    // Non-blocking, so that a named pipe in place of a picture cannot hang the
    // console on open; it is refused below as not a plain file.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0) {
        Fail(path, SystemReason(errno));
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        Fail(path, SystemReason(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        Fail(path, SystemReason(EISDIR));
    }
    if (!S_ISREG(status.st_mode)) {
        Fail(path, "no es un archivo normal");
    }
    if (status.st_size > MaxFileBytes) {
        Fail(path, "el archivo es demasiado grande para ser una imagen de la consola");
    }

    // Ask for one byte more than fstat gave, so that a file that grew in the
    // meantime is still read whole; a plain file reads short only at its end.
    qint64 length = 0;
    bytes.resize(static_cast<qsizetype>(status.st_size) + 1);
    for (;;) {
        const auto wanted = static_cast<std::size_t>(bytes.size() - length);
        const ssize_t got = ::read(file.Get(), bytes.data() + length, wanted);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(path, SystemReason(errno));
        }
        length += got;
        if (static_cast<std::size_t>(got) < wanted) {
            break;
        }
        if (length > MaxFileBytes) {
            Fail(path, "el archivo es demasiado grande para ser una imagen de la consola");
        }
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(static_cast<qsizetype>(length));
    return StampOf(status);
}

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
        Fail(path,
             bytes.isEmpty() ? "el archivo está vacío" : "el archivo no es una imagen JPEG ni GIF");
    }
    const std::string name = format.toUpper().toStdString();
    Layout layout = Layout::Short;
    if (format == "gif") {
        CheckDeclaredSize(path, GifScreenSize(bytes));
        CheckDeclaredSize(path, reader.size());
        layout = WalkGif(bytes);
    } else {
        const JpegLayout jpeg = WalkJpeg(bytes);
        if (jpeg.wholeInDecoder) {
            CheckDeclaredSize(path, jpeg.size);
        }
        layout = jpeg.layout;
    }
    if (layout == Layout::Short) {
        Fail(path, "la imagen " + name + " está incompleta: el archivo se corta antes de su final");
    }
    if (layout == Layout::Damaged) {
        Fail(path, "los datos de la imagen " + name + " están dañados");
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
        Fail(path, "los datos de la imagen " + name + " están dañados (" +
                       reader.errorString().toStdString() + ")");
    }
    if (!shown.contains(image.rect())) {
        image = image.copy(image.rect().intersected(shown));
    }
    return image;
}
