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
    int get() const { return fd_; }

private:
    int fd_;
};

// Whether the file holds its picture to the end: a JPEG's end-of-image
// marker after its last scan (0xFF is never followed by 0xD9 or 0xDA inside
// scan data), a GIF's trailer byte.
bool IsWhole(const QByteArray& format, const QByteArray& bytes) {
    if (format == "jpeg") {
        return bytes.lastIndexOf("\xFF\xD9") > bytes.lastIndexOf("\xFF\xDA");
    }
    return bytes.endsWith('\x3B');
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

} // namespace

void ReadPictureFile(const std::string& path, QByteArray& bytes) {
    // Non-blocking, so that a named pipe in place of a picture cannot hang the
    // console on open; it is refused below as not a plain file.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        Fail(path, SystemReason(errno));
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
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
        const ssize_t got = ::read(file.get(), bytes.data() + length, wanted);
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
}

QImage DecodePicture(const std::string& path, const QByteArray& bytes) {
    // The checks below give the reason for the common cases; the decoder's own
    // limit stops any other way of declaring more (a GIF's canvas can grow past
    // both its screen and its first frame). Decoded pictures are 32 bits a pixel.
    QImageReader::setAllocationLimit(MaxPicturePixels / (1024 * 1024) * 4);
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
    if (format == "gif") {
        CheckDeclaredSize(path, GifScreenSize(bytes));
    }
    CheckDeclaredSize(path, reader.size());
    // Qt decodes a cut-off file without complaint and fills the rest with
    // grey; a picture that is not whole is refused like a damaged one.
    if (!IsWhole(format, bytes)) {
        Fail(path, "la imagen " + format.toUpper().toStdString() +
                       " está incompleta: el archivo se corta antes de su final");
    }
    QImage image;
    if (!reader.read(&image)) {
        Fail(path, "los datos de la imagen " + format.toUpper().toStdString() + " están dañados (" +
                       reader.errorString().toStdString() + ")");
    }
    return image;
}
