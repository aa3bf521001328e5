// Who has the parallel port when ppdev refuses to claim it.
#pragma once

#include <string>

namespace parport {

struct PortHolder {
    enum class Kind {
        NoPort,        // the kernel has no port with that number
        Nobody,        // nothing registered on the port right now
        Program,       // another ppdev user (another program)
        PrinterDriver, // lp
        OtherDriver,   // another kernel driver, named in name
    };
    Kind kind = Kind::Nobody;
    std::string name; // the program's or the driver's name, when known
    long pid = 0;     // the program's process number, 0 when not found
};

// Reads the kernel's list of what is registered on port portNumber
// (parportProcDir/parportN/devices/: "ppdevM" for a ppdev user, "lp" for the
// printer driver). For a ppdev user, looks through procRoot/PID/fd for a
// process other than this one holding devicePath open; processes of other
// users are not readable, so the program may stay unnamed.
PortHolder FindHolder(const std::string& parportProcDir, unsigned portNumber,
                      const std::string& procRoot, const std::string& devicePath);

} // namespace parport
