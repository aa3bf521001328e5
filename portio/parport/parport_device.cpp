#include "parport_device.h"

#include "device_choice.h"
#include "messages.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/major.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

namespace parport {
namespace {

PortResult Failure(std::string error) {
    return {-1, std::move(error)};
}

} // namespace

ParportDevice::ParportDevice(PortSystem& system) : system_(system) {}

ParportDevice::~ParportDevice() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    system_.Ioctl(fd_, PPRELEASE, nullptr);
    system_.Close(fd_);
}

std::string ParportDevice::ClaimDevice() {
    if (fd_ >= 0) {
        return {};
    }

    // Chosen again on every attempt: the port may have appeared since.
    DeviceChoice choice = ChooseDevice(system_.ParportProcDir(), system_.Getenv(DeviceVariable));
    device_ = choice.Label();

    // Only a ppdev node is opened: opening other device nodes can have side
    // effects of its own (a terminal, a tape), and their ioctls mean other things.
    struct stat info {};
    if (int rc = system_.FileStatus(choice.path, info); rc < 0) {
        return DeviceFailure(Stage::Open, "stat", device_, -rc);
    }
    if (!S_ISCHR(info.st_mode) || major(info.st_rdev) != PP_MAJOR) {
        return NotAParallelPort(device_, info);
    }

    int fd = system_.Open(choice.path, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return DeviceFailure(Stage::Open, "open", device_, -fd);
    }

    // PPEXCL keeps other drivers off the port for as long as it is claimed;
    // it only counts when it comes before PPCLAIM.
    struct Step {
        unsigned long request;
        const char* name;
    };
    for (Step step : {Step{PPEXCL, "PPEXCL"}, Step{PPCLAIM, "PPCLAIM"}}) {
        if (int rc = system_.Ioctl(fd, step.request, nullptr); rc < 0) {
            system_.Close(fd);
            // ppdev refuses the exclusive claim with ENXIO while anything else
            // is registered on the port, and when there is no such port.
            if (rc == -ENXIO || rc == -EBUSY) {
                return PortBusy(device_, FindHolder(system_.ParportProcDir(), minor(info.st_rdev),
                                                    system_.ProcRoot(), choice.path));
            }
            return DeviceFailure(Stage::Claim, step.name, device_, -rc);
        }
    }
    fd_ = fd;
    return {};
}

PortResult ParportDevice::Transfer(unsigned long request, const char* name, unsigned char byte) {
    if (std::string error = ClaimDevice(); !error.empty()) {
        return Failure(std::move(error));
    }
    if (int rc = system_.Ioctl(fd_, request, &byte); rc < 0) {
        return Failure(DeviceFailure(Stage::Access, name, device_, -rc));
    }
    return {byte, {}};
}

PortResult ParportDevice::Write(int port, int value) {
    std::lock_guard lock(mutex_);
    PortResult result;
    switch (port) {
    case DataRegister:
        result = Transfer(PPWDATA, "PPWDATA", static_cast<unsigned char>(value & 0xFF));
        break;
    case ControlRegister:
        // ppdev hands bits 0-3 straight to the port but reads bit 5 as "data
        // lines to input" and bit 4 as "interrupts on". Anything beyond 0-15,
        // negative values included, is a caller fault and is not truncated.
        if (value < 0 || value > 0x0F) {
            return Failure(ControlValueRefused(value));
        }
        result = Transfer(PPWCONTROL, "PPWCONTROL", static_cast<unsigned char>(value));
        break;
    case StatusRegister:
        return Failure(StatusIsReadOnly());
    default:
        return Failure(UnknownRegister(port));
    }
    return result.Failed() ? result : PortResult{};
}

PortResult ParportDevice::Read(int port) {
    std::lock_guard lock(mutex_);
    switch (port) {
    case DataRegister:
        return Transfer(PPRDATA, "PPRDATA", 0);
    case StatusRegister:
        return Transfer(PPRSTATUS, "PPRSTATUS", 0);
    case ControlRegister:
        return Transfer(PPRCONTROL, "PPRCONTROL", 0);
    default:
        return Failure(UnknownRegister(port));
    }
}

} // namespace parport
