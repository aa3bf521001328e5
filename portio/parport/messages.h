// The Spanish sentences the library hands to the operator through PortError().
#pragma once

#include "port_holder.h"

#include <string>
#include <sys/stat.h>

namespace parport {

// Where a device call failed; the same errno means different things at each.
enum class Stage {
    Open,   // opening the device node
    Claim,  // PPEXCL or PPCLAIM
    Access, // a register ioctl
};

// Why a call on the device failed and what the operator can do about it.
// operation names the ioctl; it is ignored for Stage::Open.
std::string DeviceFailure(Stage stage, const char* operation, const std::string& device, int err);

// Why ppdev refused to claim the port, from who holds it.
std::string PortBusy(const std::string& device, const PortHolder& holder);

// The device node is not a ppdev character device; info is its stat(2).
std::string NotAParallelPort(const std::string& device, const struct stat& info);

std::string ControlValueRefused(int value);
std::string StatusIsReadOnly();
std::string UnknownRegister(int port);
std::string InternalFailure(const char* what);

} // namespace parport
