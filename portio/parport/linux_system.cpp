// The Linux system calls behind libportio.so for a real parallel port.
#include "port_system.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parport {
namespace {

class LinuxSystem final : public PortSystem {
public:
    int FileStatus(const std::string& path, struct stat& info) override {
        return ::stat(path.c_str(), &info) == 0 ? 0 : -errno;
    }
    int Open(const std::string& path, int flags) override {
        const int fd = ::open(path.c_str(), flags);
        // The descriptor goes to the caller, which closes it.
        return fd >= 0 ? fd : -errno; // cppcheck-suppress resourceLeak
    }
    int Ioctl(int fd, unsigned long request, unsigned char* arg) override {
        return ::ioctl(fd, request, arg) >= 0 ? 0 : -errno;
    }
    void Close(int fd) override { ::close(fd); }
    std::string Getenv(const char* name) override {
        const char* value = std::getenv(name);
        return value ? value : "";
    }
    std::string ParportProcDir() override { return "/proc/sys/dev/parport"; }
    std::string ProcRoot() override { return "/proc"; }
};

} // namespace

PortSystem& TheSystem() {
    static LinuxSystem system;
    return system;
}

} // namespace parport
