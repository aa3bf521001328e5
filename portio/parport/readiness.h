// What this PC needs before a program can use the parallel port, checked
// without opening it: for "velantro-sonda --comprobar", through PortReadiness.
#pragma once

#include "port_system.h"

#include <string>
#include <vector>

namespace parport {

struct Requirement {
    bool met = false;
    std::string line; // one Spanish line: what was found and, when not met, what to do
};

// Three requirements, in this order: the device node and its base address;
// the user's permission on it (in its group, or in it only after a new
// login); nothing else holding the port (lp, another program).
std::vector<Requirement> CheckReadiness(PortSystem& system);

} // namespace parport
