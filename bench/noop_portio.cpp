// A port library that does nothing, so that a benchmark measures the console
// and not a device. PortIn answers the status byte set with NoopSetStatus,
// which the benchmark looks up by name, whatever the register.
#include "portio.h"

namespace {
int status = 0;
}

extern "C" PORTIO_EXPORT void NoopSetStatus(int value) {
    status = value;
}

extern "C" int PortOut(int, int) {
    return 0;
}

extern "C" int PortIn(int) {
    return status;
}

extern "C" const char* PortError(void) {
    return "";
}
