// The C functions of portio.h on top of the bridge, found through
// PORTIO_DEVICE or /dev/serial/by-id.
#include "bridge.h"
#include "error_text.h"
#include "portio.h"

#include <cstdlib>
#include <exception>

namespace {

// Built at the first call; destroyed at exit or when the library is unloaded,
// which closes the device once the last writes are acknowledged.
puente::Bridge& TheBridge() {
    static puente::Bridge bridge([] {
        const char* device = std::getenv(puente::DeviceVariable);
        return std::string(device != nullptr ? device : "");
    });
    return bridge;
}

thread_local portio::ErrorText<2048> lastError;

int Outcome(const puente::PortResult& result) noexcept {
    if (result.Failed()) {
        lastError.Keep(result.error);
    }
    return result.value;
}

// No exception may leave a C function: one that comes (out of memory) is a
// failure of the call like any other.
int InternalFailure() noexcept {
    lastError.Keep("Error interno de la biblioteca del puente USB.");
    return -1;
}

} // namespace

extern "C" {

int PortOut(int port, int value) {
    try {
        return Outcome(TheBridge().Write(port, value));
    } catch (const std::exception&) {
        return InternalFailure();
    }
}

int PortIn(int port) {
    try {
        return Outcome(TheBridge().Read(port));
    } catch (const std::exception&) {
        return InternalFailure();
    }
}

const char* PortError(void) {
    return lastError.Text();
}
}
