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

PortResult failure(std::string error) {
    return {-1, std::move(error)};
}

} // namespace

ParportDevice::ParportDevice(PortSystem& system) : system_(system) {}

ParportDevice::~ParportDevice() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return;
    system_.ioctl(fd_, PPRELEASE, nullptr);
    system_.close(fd_);
}

std::string ParportDevice::claimDevice() {
    if (fd_ >= 0)
        return {};

    // Chosen again on every attempt: the port may have appeared since.
    DeviceChoice choice = chooseDevice(system_.parportProcDir(), system_.getenv(kDeviceVariable));
    device_ = choice.label();

    // Only a ppdev node is opened: opening other device nodes can have side
    // effects of its own (a terminal, a tape), and their ioctls mean other things.
    struct stat info {};
    if (int rc = system_.fileStatus(choice.path, info); rc < 0)
        return deviceFailure(Stage::Open, "stat", device_, -rc);
    if (!S_ISCHR(info.st_mode) || major(info.st_rdev) != PP_MAJOR)
        return notAParallelPort(device_, info);

    int fd = system_.open(choice.path, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return deviceFailure(Stage::Open, "open", device_, -fd);

    // PPEXCL keeps other drivers off the port for as long as it is claimed;
    // it only counts when it comes before PPCLAIM.
    struct Step {
        unsigned long request;
        const char* name;
    };
    for (Step step : {Step{PPEXCL, "PPEXCL"}, Step{PPCLAIM, "PPCLAIM"}}) {
        if (int rc = system_.ioctl(fd, step.request, nullptr); rc < 0) {
            system_.close(fd);
            // ppdev refuses the exclusive claim with ENXIO while anything else
            // is registered on the port, and when there is no such port.
            if (rc == -ENXIO || rc == -EBUSY)
                return portBusy(device_, findHolder(system_.parportProcDir(), minor(info.st_rdev),
                                                    system_.procRoot(), choice.path));
            return deviceFailure(Stage::Claim, step.name, device_, -rc);
        }
    }
    fd_ = fd;
    return {};
}

PortResult ParportDevice::transfer(unsigned long request, const char* name, unsigned char byte) {
    if (std::string error = claimDevice(); !error.empty())
        return failure(std::move(error));
    if (int rc = system_.ioctl(fd_, request, &byte); rc < 0)
        return failure(deviceFailure(Stage::Access, name, device_, -rc));
    return {byte, {}};
}

PortResult ParportDevice::write(int port, int value) {
    std::lock_guard lock(mutex_);
    PortResult result;
    switch (port) {
    case kDataRegister:
        result = transfer(PPWDATA, "PPWDATA", static_cast<unsigned char>(value & 0xFF));
        break;
    case kControlRegister:
        // ppdev hands bits 0-3 straight to the port but reads bit 5 as "data
        // lines to input" and bit 4 as "interrupts on". Anything beyond 0-15,
        // negative values included, is a caller fault and is not truncated.
        if (value < 0 || value > 0x0F)
            return failure(controlValueRefused(value));
        result = transfer(PPWCONTROL, "PPWCONTROL", static_cast<unsigned char>(value));
        break;
    case kStatusRegister:
        return failure(statusIsReadOnly());
    default:
        return failure(unknownRegister(port));
    }
    return result.failed() ? result : PortResult{};
}

PortResult ParportDevice::read(int port) {
    std::lock_guard lock(mutex_);
    switch (port) {
    case kDataRegister:
        return transfer(PPRDATA, "PPRDATA", 0);
    case kStatusRegister:
        return transfer(PPRSTATUS, "PPRSTATUS", 0);
    case kControlRegister:
        return transfer(PPRCONTROL, "PPRCONTROL", 0);
    default:
        return failure(unknownRegister(port));
    }
}

} // namespace parport
