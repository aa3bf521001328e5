#pragma once

#include <string>

namespace Module1_Velantro {

// The directory that holds the running program's executable file, resolved
// through /proc/self/exe so that a symbolic link to the program still finds
// its real directory. No trailing separator, except for the root directory,
// which is "/". Throws std::runtime_error when the link cannot be read.
const std::string& ProgramDirectory();

} // namespace Module1_Velantro
