// The C functions of portio.h on top of ParportDevice, bound to the system that
// TheSystem() gives: the Linux system calls in libportio.so, a scripted kernel
// in the tests' copy of the library.
#include "messages.h"
#include "parport_device.h"
#include "portio.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

namespace {

// Built at the first call; destroyed at exit or when the library is unloaded,
// which releases the port. The system object is built first, while the
// device is, and so outlives it.
parport::ParportDevice& Device() {
    static parport::ParportDevice device(parport::TheSystem());
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
