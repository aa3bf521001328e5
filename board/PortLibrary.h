// The binding to the port library libportio.so, which sits in the directory of
// the running program. The library is loaded at the first call of either
// function; each function is looked up by name at its own first call and kept
// once found. Until a load or a lookup succeeds, every call tries again.
#pragma once

#include <stdexcept>
#include <string>

namespace Module1_Velantro {

// A failure to reach the board: the library is missing or unusable, a function
// is missing from it, or the library reported that a register access failed.
// The message is Spanish and names the library or the register.
class PortLibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The library file the binding uses: libportio.so beside the program.
std::string PortLibraryPath();

// Writes the low 8 bits of value to a register. Throws PortLibraryError.
void PortOut(int port, int value);

// Reads a register. Throws PortLibraryError.
int PortIn(int port);

// Forgets the current binding and uses another library file from now on. For
// tools and tests that run outside a program directory; the console never
// calls it.
void BindPortLibrary(const std::string& path);

} // namespace Module1_Velantro
