#include "ProgramDirectory.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace Module1_Velantro {

namespace {

std::string ReadExecutableDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            throw std::runtime_error(std::string("No se puede saber en qué carpeta está el "
                                                 "programa (/proc/self/exe): ") +
                                     std::strerror(errno));
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            const auto slash = path.rfind('/');
            return slash == 0 || slash == std::string::npos ? std::string("/")
                                                            : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

const std::string& ProgramDirectory() {
    // The executable does not move while it runs, so the answer is read once.
    static const std::string directory = ReadExecutableDirectory();
    return directory;
}

} // namespace Module1_Velantro
