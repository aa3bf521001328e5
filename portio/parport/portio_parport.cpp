// libportio.so for a real parallel port: the C functions of portio.h on top of
// ParportDevice bound to the Linux system calls.
#include "messages.h"
#include "parport_device.h"
#include "portio.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class LinuxSystem final : public parport::PortSystem {
public:
    int open(const std::string& path, int flags) override {
        int fd = ::open(path.c_str(), flags);
        return fd >= 0 ? fd : -errno;
    }
    int ioctl(int fd, unsigned long request, unsigned char* arg) override {
        return ::ioctl(fd, request, arg) >= 0 ? 0 : -errno;
    }
    void close(int fd) override { ::close(fd); }
    std::string getenv(const char* name) override {
        const char* value = std::getenv(name);
        return value ? value : "";
    }
    std::string parportProcDir() override { return "/proc/sys/dev/parport"; }
};

// Built at the first call; destroyed at exit or when the library is unloaded,
// which releases the port (the system object outlives the device).
parport::ParportDevice& device() {
    static LinuxSystem system;
    static parport::ParportDevice device(system);
    return device;
}

// One message per thread, like errno: the text returned by PortError() stays
// valid until the same thread's next failing call.
thread_local std::string lastError;

template <typename Call> int run(Call call) noexcept {
    try {
        parport::PortResult result = call(device());
        if (result.failed())
            lastError = std::move(result.error);
        return result.value;
    } catch (const std::exception& e) {
        try {
            lastError = parport::internalFailure(e.what());
        } catch (...) {
            lastError.clear();
        }
        return -1;
    }
}

} // namespace

extern "C" {

int PortOut(int port, int value) {
    return run([=](parport::ParportDevice& d) { return d.write(port, value); });
}

int PortIn(int port) {
    return run([=](parport::ParportDevice& d) { return d.read(port); });
}

const char* PortError(void) {
    return lastError.c_str();
}
}
