// The Spanish sentences the bridge's library hands to the operator through
// PortError(). device is the device as messages name it.
#pragma once

#include <string>

namespace puente {

// Where the firmware for the bridge is documented, for every message that
// asks to load it.
inline constexpr const char* LoadingAdvice =
    "Cargue el firmware del puente en la placa con avrdude, como explica «man 7 velantro-puente».";

// Opening failed with err at step (open, flock, TIOCEXCL, tcsetattr).
std::string OpenFailure(const std::string& device, const char* step, int err);
std::string NotACharacterDevice(const std::string& device);
std::string NoSerialDevices(const std::string& directory);
// No device answered: several candidates, each with its own reason.
std::string NoBridgeAmong(const std::string& directory, const std::string& reasons);

// What the device did when asked for the greeting. Lines from the device
// come as Quoted() gives them.
std::string Silent(const std::string& device);
std::string NotOurFirmware(const std::string& device, const std::string& said);
std::string OtherProtocolVersion(const std::string& device, const std::string& greeting);

// While running: the device went away, did not answer in time, or answered
// something else than the request asks for.
std::string Lost(const std::string& device, int err);
std::string NoReply(const std::string& device, const std::string& request, int milliseconds);
std::string UnexpectedReply(const std::string& device, const std::string& request,
                            const std::string& reply);

std::string ControlValueRefused(int value);

// A line from the device as a message may quote it: printable ASCII only, and
// not too long.
std::string Quoted(const std::string& line);

} // namespace puente
