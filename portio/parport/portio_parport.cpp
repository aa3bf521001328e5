// libportio.so for a real parallel port: the C functions of portio.h on top of
// ParportDevice bound to the Linux system calls.
#include "messages.h"
#include "parport_device.h"
#include "portio.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class LinuxSystem final : public parport::PortSystem {
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

// Built at the first call; destroyed at exit or when the library is unloaded,
// which releases the port (the system object outlives the device).
parport::ParportDevice& Device() {
    static LinuxSystem system;
    static parport::ParportDevice device(system);
    return device;
}

// One message per thread, like errno, in a fixed buffer: a pointer PortError()
// returned stays valid for the thread's lifetime and always holds the latest
// message, even if the caller fetched it before a later failure.
thread_local char lastError[1024];

void KeepError(std::string_view message) noexcept {
    size_t length = std::min(message.size(), sizeof lastError - 1);
    // Never cut a UTF-8 sequence in half.
    while (length < message.size() && length > 0 &&
           (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::memcpy(lastError, message.data(), length);
    lastError[length] = '\0';
}

template <typename Call> int Run(Call call) noexcept {
    try {
        parport::PortResult result = call(Device());
        if (result.Failed()) {
            KeepError(result.error);
        }
        return result.value;
    } catch (const std::exception& e) {
        try {
            KeepError(parport::InternalFailure(e.what()));
        } catch (...) {
            KeepError("Error interno de la biblioteca del puerto paralelo.");
        }
        return -1;
    }
}

} // namespace

extern "C" {

int PortOut(int port, int value) {
    return Run([=](parport::ParportDevice& d) { return d.Write(port, value); });
}

int PortIn(int port) {
    return Run([=](parport::ParportDevice& d) { return d.Read(port); });
}

const char* PortError(void) {
    return lastError;
}
}
