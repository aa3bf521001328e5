// The C functions of portio.h on top of ParportDevice, bound to the system that
// TheSystem() gives: the Linux system calls in libportio.so, a scripted kernel
// in the tests' copy of the library.
#include "messages.h"
#include "parport_device.h"
#include "portio.h"
#include "readiness.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

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

// Item 0 checks everything afresh; the later items come from that check, so
// the lines of one --comprobar describe one moment.
int PortReadiness(int item, const char** line) {
    thread_local std::vector<parport::Requirement> checked;
    try {
        if (item == 0 || checked.empty()) {
            checked = parport::CheckReadiness(parport::TheSystem());
        }
    } catch (const std::exception& e) {
        try {
            checked = {{false, parport::InternalFailure(e.what())}};
        } catch (...) {
            return -1;
        }
    }
    if (line == nullptr || item < 0 || static_cast<size_t>(item) >= checked.size()) {
        return -1;
    }
    *line = checked[static_cast<size_t>(item)].line.c_str();
    return checked[static_cast<size_t>(item)].met ? 1 : 0;
}
}
