#include "readiness.h"

#include "device_choice.h"
#include "messages.h"
#include "port_holder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <linux/major.h>
#include <sys/sysmacros.h>

namespace parport {
namespace {

// The group Debian's udev gives the parallel-port nodes.
constexpr const char* PortGroup = "lp";

// What the device check found, for the two checks after it.
struct Device {
    DeviceChoice choice;
    std::string label;
    bool exists = false; // a ppdev node the kernel has a port behind
    struct stat info {};
    unsigned number = 0; // N of parportN
};

// The port's I/O base from procDir/parportN/base-addr, -1 when not listed.
long BaseAddress(const std::string& procDir, unsigned number) {
    std::ifstream file(procDir + "/parport" + std::to_string(number) + "/base-addr");
    long base = -1;
    return file >> base ? base : -1;
}

Requirement CheckDevice(PortSystem& system, Device& device) {
    int rc = system.FileStatus(device.choice.path, device.info);
    if (rc < 0) {
        return {false, "Puerto: " + DeviceFailure(Stage::Open, "stat", device.label, -rc)};
    }
    if (!S_ISCHR(device.info.st_mode) || major(device.info.st_rdev) != PP_MAJOR) {
        return {false, "Puerto: " + NotAParallelPort(device.label, device.info)};
    }
    device.number = minor(device.info.st_rdev);
    const long base = BaseAddress(system.ParportProcDir(), device.number);
    if (base < 0) {
        // A node left over with no port behind it.
        return {false, "Puerto: " + DeviceFailure(Stage::Open, "stat", device.label, ENXIO)};
    }
    device.exists = true;
    char address[64];
    std::snprintf(address, sizeof address, "%ld (0x%lX)", base, base);
    return {true, "Puerto: " + device.label + ", dirección base " + address + "."};
}

bool Listed(const GroupEntry& group, const UserIdentity& user) {
    return user.loginGroup == group.gid ||
           std::find(group.members.begin(), group.members.end(), user.name) != group.members.end();
}

bool HasNow(const GroupEntry& group, const UserIdentity& user) {
    return std::find(user.groups.begin(), user.groups.end(), group.gid) != user.groups.end();
}

Requirement CheckPermission(PortSystem& system, const Device& device) {
    const UserIdentity user = system.CurrentUser();
    if (user.uid == 0) {
        return {true, "Permiso: es el administrador (root), que puede usar el puerto."};
    }
    const std::string who = "su usuario" + (user.name.empty() ? "" : " (" + user.name + ")");
    const std::string account = user.name.empty() ? "USUARIO" : user.name;
    const GroupEntry group =
        device.exists ? system.GroupById(device.info.st_gid) : system.GroupByName(PortGroup);
    const std::string groupName = group.found     ? group.name
                                  : device.exists ? std::to_string(device.info.st_gid)
                                                  : PortGroup;
    if (device.exists && system.AccessReadWrite(device.choice.path) == 0) {
        return {true, "Permiso: " + who + " puede usar " + device.choice.path + " (grupo " +
                          groupName + ")."};
    }
    const bool groupWorks =
        !device.exists || (device.info.st_mode & S_IRWXG) == (S_IRGRP | S_IWGRP);
    if (!groupWorks || (group.found && HasNow(group, user))) {
        if (!device.exists) {
            return {true, "Permiso: " + who + " está en el grupo " + groupName + "."};
        }
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o",
                      static_cast<unsigned>(device.info.st_mode & 07777));
        return {false, "Permiso: " + who + " no puede usar " + device.choice.path + " (permisos " +
                           mode + ", grupo " + groupName +
                           "). En Debian, udev lo deja en el grupo lp con permisos 0660: "
                           "compruebe las reglas de udev."};
    }
    if (group.found && Listed(group, user)) {
        return {false, "Permiso: " + who + " ya está en el grupo " + groupName +
                           ", pero esta sesión empezó antes de entrar en él. Vuelva a iniciar "
                           "sesión."};
    }
    return {false, "Permiso: " + who + " no está en el grupo " + groupName +
                       ". Añádalo con «adduser " + account + " " + groupName +
                       "» (como administrador) y vuelva a iniciar sesión."};
}

Requirement CheckHolder(PortSystem& system, const Device& device) {
    if (!device.exists) {
        return {false, "Uso: sin el puerto no se puede saber si el controlador de impresora (lp) "
                       "u otro programa lo tendrán."};
    }
    const PortHolder holder =
        FindHolder(system.ParportProcDir(), device.number, system.ProcRoot(), device.choice.path);
    if (holder.kind == PortHolder::Kind::Nobody) {
        return {true, "Uso: ni el controlador de impresora (lp) ni otro programa tienen el "
                      "puerto."};
    }
    return {false, "Uso: " + PortBusy(device.label, holder)};
}

} // namespace

std::vector<Requirement> CheckReadiness(PortSystem& system) {
    Device device;
    device.choice = ChooseDevice(system.ParportProcDir(), system.Getenv(DeviceVariable));
    device.label = device.choice.Label();
    std::vector<Requirement> requirements;
    requirements.push_back(CheckDevice(system, device));
    requirements.push_back(CheckPermission(system, device));
    requirements.push_back(CheckHolder(system, device));
    return requirements;
}

} // namespace parport
