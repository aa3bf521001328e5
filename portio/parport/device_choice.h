// Which /dev/parportN the library opens.
#pragma once

#include <string>

namespace parport {

// Environment variable naming the device node to use instead of the one found.
inline constexpr const char* DeviceVariable = "PORTIO_DEVICE";

struct DeviceChoice {
    std::string path;
    bool fromVariable = false;

    // The device as operator messages name it, a very long path shortened.
    std::string Label() const;
};

// The device named in the override if it is not empty; otherwise the
// lowest-numbered port whose base address is 888 (0x378) in procDir; otherwise
// /dev/parport0, the first port whatever its base (e.g. a PCIe card).
DeviceChoice ChooseDevice(const std::string& procDir, const std::string& override);

} // namespace parport
