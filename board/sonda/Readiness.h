// What the probe says about the board's inputs, and its check of a whole PC
// (velantro-sonda --comprobar).
#pragma once

#include <cstdint>

namespace sonda {

// The lamp the first input group reports, in words.
const char* LampWords(std::int32_t InputCode);

// What the second input group reports: whether the board is there and its
// mode, in words.
const char* ModeWords(std::int32_t SecondCode);

// Prints one line per requirement of this PC (the port library's own, when it
// has PortReadiness) and one for the board answering, then a summary line.
// The board check writes manual red, amber, green and no lamp, checks what
// both input groups report after each, and writes 0 at the end. Returns the
// exit status: 0 when everything is ready, 1 otherwise.
int CheckReadiness();

} // namespace sonda
