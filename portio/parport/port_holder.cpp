#include "port_holder.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace parport {
namespace {

// The process number a /proc entry stands for, or 0 for other entries.
long ProcessNumber(const std::string& name) {
    long pid = 0;
    auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    return ec == std::errc() && end == name.data() + name.size() ? pid : 0;
}

bool HoldsOpen(const fs::path& processDir, const fs::path& device) {
    std::error_code ec;
    for (fs::directory_iterator it(processDir / "fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code linkError;
        if (fs::read_symlink(it->path(), linkError) == device && !linkError) {
            return true;
        }
    }
    return false;
}

void FindProgram(PortHolder& holder, const std::string& procRoot, const fs::path& device) {
    const long self = ::getpid();
    std::error_code ec;
    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const long pid = ProcessNumber(it->path().filename().string());
        if (pid == 0 || pid == self || !HoldsOpen(it->path(), device)) {
            continue;
        }
        std::string name;
        std::getline(std::ifstream(it->path() / "comm"), name);
        holder.pid = pid;
        holder.name = name;
        return;
    }
}

} // namespace

PortHolder FindHolder(const std::string& parportProcDir, unsigned portNumber,
                      const std::string& procRoot, const std::string& devicePath) {
    const fs::path devices =
        fs::path(parportProcDir) / ("parport" + std::to_string(portNumber)) / "devices";
    std::error_code ec;
    if (!fs::is_directory(devices, ec)) {
        return {PortHolder::Kind::NoPort, {}, 0};
    }

    bool program = false, printer = false;
    std::string other;
    for (fs::directory_iterator it(devices, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("ppdev", 0) == 0) {
            program = true;
        } else if (name == "lp") {
            printer = true;
        } else if (name != "active") {
            other = name;
        }
    }

    PortHolder holder;
    if (program) {
        holder.kind = PortHolder::Kind::Program;
        // The holder's descriptor names the device node as the kernel resolved it.
        fs::path device = fs::weakly_canonical(devicePath, ec);
        FindProgram(holder, procRoot, ec ? fs::path(devicePath) : device);
    } else if (printer) {
        holder.kind = PortHolder::Kind::PrinterDriver;
    } else if (!other.empty()) {
        holder.kind = PortHolder::Kind::OtherDriver;
        holder.name = other;
    }
    return holder;
}

} // namespace parport
