// A port library that lacks PortIn: writes succeed, reads cannot be bound.
#include "portio.h"

extern "C" int PortOut(int, int) {
    return 0;
}

extern "C" const char* PortError(void) {
    return "";
}
