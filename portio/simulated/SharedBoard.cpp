#include "SharedBoard.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace simulated {

namespace {

// The file's bytes, in the machine's own byte order: only programs of this
// machine's session read it.
struct Image {
    char magic[8];
    std::uint32_t version;
    std::uint8_t data;
    std::uint8_t latched;
    std::uint16_t reserved;
    std::int64_t autonomousSinceMs;
};
static_assert(sizeof(Image) == 24, "the file's layout has no padding");

constexpr char Magic[8] = {'V', 'E', 'L', 'A', 'N', 'T', 'R', 'O'};
constexpr std::uint32_t Version = 1;
constexpr mode_t Mode = 0600;
// Far beyond a session's runtime directory, and short enough that every
// message naming the file fits PortError's buffer.
constexpr std::size_t LongestPath = 1024;

Image ImageOf(const BoardState& board) {
    Image image{};
    std::memcpy(image.magic, Magic, sizeof Magic);
    image.version = Version;
    image.data = board.data;
    image.latched = board.latched;
    image.autonomousSinceMs = board.autonomousSinceMs;
    return image;
}

std::string Reason(int err) {
    switch (err) {
    case ENOENT:
        return "no existe";
    case EACCES:
    case EPERM:
        return "permiso denegado";
    case ENOSPC:
        return "no queda espacio";
    case EROFS:
        return "el sistema de archivos es de solo lectura";
    case ENOTDIR:
        return "una parte de la ruta no es una carpeta";
    case EMFILE:
    case ENFILE:
        return "hay demasiados archivos abiertos";
    case ENOLCK:
        return "no quedan cerrojos de archivo en el sistema";
    default:
        return "error del sistema número " + std::to_string(err);
    }
}

std::string TheFile(const std::string& path) {
    return "el archivo de la placa simulada " + path;
}

// For a file that is not the board's, or not as this version makes it.
std::string DeleteIt(const std::string& path) {
    return "cierre los programas que usan la placa simulada y bórrelo («rm " + path +
           "»); el siguiente programa que la use lo crea de nuevo, con la placa apagada";
}

std::string WrongSize(const std::string& path, long long size) {
    return TheFile(path) + " tiene " + std::to_string(size) + " bytes y no " +
           std::to_string(sizeof(Image)) +
           ": es de otra versión de Velantro o lo ha cambiado otro programa; " + DeleteIt(path);
}

std::string NotAFile(const std::string& path, bool directory) {
    return path + " no es el archivo de la placa simulada: es " +
           (directory ? "una carpeta" : "otra clase de archivo") +
           ". Quítelo de ahí y vuelva a intentarlo; no se ha tocado";
}

std::string OpenFailure(const std::string& path, int err) {
    if (err == EACCES || err == EPERM) {
        return "no se puede escribir en " + TheFile(path) +
               " (permiso denegado): devuélvale el permiso con «chmod 600 " + path + "»";
    }
    if (err == ELOOP) {
        return path + " es un enlace simbólico, no el archivo de la placa simulada: no se sigue. " +
               "Quítelo («rm " + path + "») y vuelva a intentarlo";
    }
    if (err == EISDIR) {
        return NotAFile(path, true);
    }
    return "no se puede abrir " + TheFile(path) + ": " + Reason(err);
}

std::string Directory(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

std::string CreateFailure(const std::string& path, int err) {
    const std::string reason = err == ENOENT ? "la carpeta no existe" : Reason(err);
    return "no se puede crear " + TheFile(path) + ": " + reason + ". Compruebe que la carpeta " +
           Directory(path) + " existe y es suya (la da XDG_RUNTIME_DIR, la carpeta de la sesión)";
}

// The outcome of making the file.
enum class Made { Yes, AnotherWasFirst, Failed };

// Makes the file complete under another name and then gives it its own, so no
// program ever opens it half made. fd is the made file's.
Made MakeFile(const std::string& path, int& fd, std::string& error) {
    std::string temporary = Directory(path) + "/.velantro-placa-XXXXXX";
    fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = CreateFailure(path, errno);
        return Made::Failed;
    }
    const Image dark = ImageOf(BoardState{});
    int err = 0;
    errno = 0;
    if (::fchmod(fd, Mode) != 0 ||
        ::pwrite(fd, &dark, sizeof dark, 0) != static_cast<ssize_t>(sizeof dark) ||
        ::link(temporary.c_str(), path.c_str()) != 0) {
        err = errno != 0 ? errno : ENOSPC;
    }
    ::unlink(temporary.c_str());
    if (err == 0) {
        return Made::Yes;
    }
    ::close(fd);
    fd = -1;
    if (err == EEXIST) {
        return Made::AnotherWasFirst;
    }
    error = CreateFailure(path, err);
    return Made::Failed;
}

} // namespace

std::int64_t MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool SharedBoard::Path(std::string& path, std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        path = runtime;
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        path += path == "/" ? "velantro-placa" : "/velantro-placa";
    } else {
        path = "/dev/shm/velantro-placa-" + std::to_string(::geteuid());
    }
    if (path.size() > LongestPath) {
        error = "la carpeta de la sesión que da XDG_RUNTIME_DIR tiene una ruta demasiado larga (" +
                std::to_string(path.size()) +
                " caracteres) para el archivo de la placa simulada: deje XDG_RUNTIME_DIR como la "
                "pone la sesión (/run/user/" +
                std::to_string(::geteuid()) + ")";
        return false;
    }
    return true;
}

bool SharedBoard::Open(std::string& error) {
    std::string path;
    if (!Path(path, error)) {
        Close();
        return false;
    }
    if (fd_ >= 0) {
        // A file removed or replaced (by hand, or by a new session) is no
        // longer the session's board: the one now at the path is.
        struct stat held {};
        struct stat named {};
        if (path == path_ && ::fstat(fd_, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return true;
        }
        Close();
    }
    // Another program may make the file, or remove it, between the attempts.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno != ENOENT) {
            error = OpenFailure(path, errno);
            return false;
        }
        if (fd < 0) {
            const Made made = MakeFile(path, fd, error);
            if (made == Made::Failed) {
                return false;
            }
            if (made == Made::AnotherWasFirst) {
                continue;
            }
        }
        fd_ = fd;
        path_ = path;
        struct stat info {};
        if (::fstat(fd_, &info) != 0) {
            error = OpenFailure(path, errno);
        } else if (!S_ISREG(info.st_mode)) {
            error = NotAFile(path, S_ISDIR(info.st_mode));
        } else if (info.st_uid != ::geteuid()) {
            error = TheFile(path) + " es de otro usuario (número " + std::to_string(info.st_uid) +
                    ") y no del que ejecuta este programa (número " + std::to_string(::geteuid()) +
                    "): no se usa. Pida al administrador que lo borre, o use la carpeta de su "
                    "propia sesión (XDG_RUNTIME_DIR)";
        } else if ((info.st_mode & 07777) != Mode) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 07777));
            error = TheFile(path) + " tiene los permisos " + mode +
                    " y no 600 (leer y escribir, solo su dueño): póngaselos con «chmod 600 " +
                    path + "»";
        } else if (info.st_size != static_cast<off_t>(sizeof(Image))) {
            error = WrongSize(path, static_cast<long long>(info.st_size));
        } else {
            BoardState board;
            return Read(board, error);
        }
        Close();
        return false;
    }
    error = TheFile(path) + " aparece y desaparece sin parar: otro programa lo está borrando. " +
            "Ciérrelo y vuelva a intentarlo";
    return false;
}

void SharedBoard::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SharedBoard::Locked(short type, const std::function<bool()>& access, std::string& error) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd_, F_SETLKW, &lock) != 0) {
        if (errno != EINTR) {
            error = "no se puede reservar " + TheFile(path_) + ": " + Reason(errno);
            Close();
            return false;
        }
    }
    const bool done = access();
    lock.l_type = F_UNLCK;
    ::fcntl(fd_, F_SETLK, &lock);
    if (!done) {
        Close();
    }
    return done;
}

bool SharedBoard::ReadImage(BoardState& board, std::string& error) {
    // One byte more than the file should have tells a file that grew.
    unsigned char bytes[sizeof(Image) + 1];
    ssize_t got = 0;
    do {
        got = ::pread(fd_, bytes, sizeof bytes, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        error = "no se puede leer " + TheFile(path_) + ": " + Reason(errno);
        return false;
    }
    if (got != static_cast<ssize_t>(sizeof(Image))) {
        struct stat info {};
        const bool known = ::fstat(fd_, &info) == 0;
        error = WrongSize(path_, known ? static_cast<long long>(info.st_size) : got);
        return false;
    }
    Image image{};
    std::memcpy(&image, bytes, sizeof image);
    if (std::memcmp(image.magic, Magic, sizeof Magic) != 0 || image.version != Version) {
        error = TheFile(path_) +
                " no es de esta versión de Velantro, o lo ha cambiado otro programa; " +
                DeleteIt(path_);
        return false;
    }
    board.data = image.data;
    board.latched = image.latched;
    board.autonomousSinceMs = image.autonomousSinceMs;
    return true;
}

bool SharedBoard::Read(BoardState& board, std::string& error) {
    return Locked(
        F_RDLCK, [&] { return ReadImage(board, error); }, error);
}

bool SharedBoard::Update(const std::function<BoardState(BoardState, std::int64_t)>& change,
                         std::string& error) {
    return Locked(
        F_WRLCK,
        [&] {
            BoardState board;
            if (!ReadImage(board, error)) {
                return false;
            }
            const Image image = ImageOf(change(board, MonotonicMs()));
            errno = 0;
            if (::pwrite(fd_, &image, sizeof image, 0) != static_cast<ssize_t>(sizeof image)) {
                error = "no se puede escribir en " + TheFile(path_) + ": " +
                        Reason(errno != 0 ? errno : ENOSPC);
                return false;
            }
            return true;
        },
        error);
}

} // namespace simulated
