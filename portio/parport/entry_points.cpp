// The C functions of portio.h on top of ParportDevice, bound to the system that
// TheSystem() gives: the Linux system calls in libportio.so, a scripted kernel
// in the tests' copy of the library.
#include "error_text.h"
#include "messages.h"
#include "parport_device.h"
#include "portio.h"
#include "readiness.h"

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

thread_local portio::ErrorText<1024> lastError;

void KeepError(std::string_view message) noexcept {
    lastError.Keep(message);
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
    return lastError.Text();
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
