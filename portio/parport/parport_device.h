// The parallel port reached through Linux ppdev (/dev/parportN).
#pragma once

#include "port_system.h"
#include "portio.h"

#include <mutex>
#include <string>

namespace parport {

constexpr int DataRegister = PortioDataRegister;
constexpr int StatusRegister = PortioStatusRegister;
constexpr int ControlRegister = PortioControlRegister;

struct PortResult {
    int value = 0;     // register contents for a read, 0 for a write, -1 on failure
    std::string error; // why it failed, when value is -1

    bool Failed() const { return value < 0; }
};

// Opens and claims the device at the first call and keeps it until destroyed.
// If opening or claiming fails, the device is closed again and the next call
// starts over, so loading a module or unloading lp takes effect without
// restarting the console. All calls are serialised by one mutex.
class ParportDevice {
public:
    explicit ParportDevice(PortSystem& system);
    ~ParportDevice(); // releases the port and closes the device
    ParportDevice(const ParportDevice&) = delete;
    ParportDevice& operator=(const ParportDevice&) = delete;

    // Writes a register: the data register takes the low 8 bits of value, the
    // control register only 0 to 15; the status register is read-only.
    PortResult Write(int port, int value);

    // Reads a register's raw byte.
    PortResult Read(int port);

private:
    std::string ClaimDevice(); // empty on success, else why it failed
    PortResult Transfer(unsigned long request, const char* name, unsigned char byte);

    PortSystem& system_;
    std::mutex mutex_;
    int fd_ = -1; // open and claimed while not -1
    std::string device_;
};

} // namespace parport
