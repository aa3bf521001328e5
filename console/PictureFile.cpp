#include "PictureFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Picture files are a few tens of kilobytes; a camera's photo is a few
// megabytes. Anything far larger is refused rather than read into memory.
constexpr qint64 Megabyte = qint64{1024} * 1024;
constexpr qint64 MaxFileBytes = 16 * Megabyte;

std::string TooLarge(qint64 size) {
    const auto tenths =
        static_cast<long long>(static_cast<double>(size) * 10 / static_cast<double>(Megabyte));
    const std::string megabytes =
        size > MaxFileBytes ? std::to_string(tenths / 10) + "," + std::to_string(tenths % 10)
                            : "más de " + std::to_string(MaxFileBytes / Megabyte);
    return "el archivo ocupa " + megabytes + " MB, más de los " +
           std::to_string(MaxFileBytes / Megabyte) +
           " MB que admite la consola para un dibujo; redúzcalo o guárdelo con menos calidad "
           "hasta que ocupe menos";
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

PictureFileReader::PictureFileReader(const std::string& path) : path_(path) {
    // Non-blocking, so that a named pipe in place of a picture cannot hang the
    // console on open; it is refused below as not a plain file.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        throw PictureError(path, SystemReason(errno));
    }
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        const int error = errno;
        ::close(fd_);
        throw PictureError(path, SystemReason(error));
    }
    const auto refuse = [this, &path](const std::string& reason) {
        ::close(fd_);
        throw PictureError(path, reason);
    };
    if (S_ISDIR(status.st_mode)) {
        refuse(SystemReason(EISDIR));
    }
    if (!S_ISREG(status.st_mode)) {
        refuse("no es un archivo normal");
    }
    if (status.st_size > MaxFileBytes) {
        refuse(TooLarge(status.st_size));
    }
    stamp_ = StampOf(status);
    // One byte more than fstat gave, so that a file that grew in the
    // meantime is still read whole; a plain file reads short only at its end.
    bytes_.resize(static_cast<qsizetype>(status.st_size) + 1);
}

PictureFileReader::~PictureFileReader() {
    ::close(fd_);
}

qint64 PictureFileReader::ReadOn(qint64 most) {
    qint64 got = 0;
    while (!done_ && got < most) {
        if (length_ == bytes_.size()) {
            if (length_ > MaxFileBytes) {
                throw PictureError(path_, TooLarge(length_));
            }
            bytes_.resize(bytes_.size() * 2);
        }
        const auto wanted = static_cast<std::size_t>(std::min(bytes_.size() - length_, most - got));
        const ssize_t count = ::read(fd_, bytes_.data() + length_, wanted);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw PictureError(path_, SystemReason(errno));
        }
        length_ += count;
        got += count;
        if (count == 0) {
            done_ = true;
            bytes_.resize(static_cast<qsizetype>(length_));
        }
    }
    return got;
}
