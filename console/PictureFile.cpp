#include "PictureFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Picture files are a few tens of kilobytes; a camera's photo is a few
// megabytes. Anything far larger is refused rather than read into memory:
// reading and walking 16 MB takes about a tenth of a second.
constexpr qint64 MaxFileBytes = qint64{16} * 1024 * 1024;
constexpr const char* TooLarge = "el archivo es demasiado grande para ser una imagen de la consola";

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

FileStamp StampPictureFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        throw PictureError(path, SystemReason(errno));
    }
    return StampOf(status);
}

FileStamp ReadPictureFile(const std::string& path, QByteArray& bytes) {
    // Non-blocking, so that a named pipe in place of a picture cannot hang the
    // console on open; it is refused below as not a plain file.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0) {
        throw PictureError(path, SystemReason(errno));
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        throw PictureError(path, SystemReason(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        throw PictureError(path, SystemReason(EISDIR));
    }
    if (!S_ISREG(status.st_mode)) {
        throw PictureError(path, "no es un archivo normal");
    }
    if (status.st_size > MaxFileBytes) {
        throw PictureError(path, TooLarge);
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
            throw PictureError(path, SystemReason(errno));
        }
        length += got;
        if (static_cast<std::size_t>(got) < wanted) {
            break;
        }
        if (length > MaxFileBytes) {
            throw PictureError(path, TooLarge);
        }
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(static_cast<qsizetype>(length));
    return StampOf(status);
}
