// The Linux system calls behind libportio.so for a real parallel port.
#include "port_system.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parport {
namespace {

// The buffer getpwuid_r and getgrgid_r want, as sysconf suggests.
std::vector<char> EntryBuffer(int name) {
    const long size = ::sysconf(name);
    return std::vector<char>(size > 0 ? static_cast<size_t>(size) : 16384);
}

// Looks a group up with getgrgid_r or getgrnam_r, retrying with a bigger
// buffer while the entry (a group with many members) does not fit.
template <typename Lookup> GroupEntry FindGroup(Lookup lookup) {
    std::vector<char> buffer = EntryBuffer(_SC_GETGR_R_SIZE_MAX);
    struct group entry {};
    struct group* found = nullptr;
    int rc = 0;
    while ((rc = lookup(&entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1U << 24)) {
        buffer.resize(buffer.size() * 2);
    }
    GroupEntry group;
    if (rc != 0 || found == nullptr) {
        return group;
    }
    group.found = true;
    group.gid = found->gr_gid;
    group.name = found->gr_name;
    for (char** member = found->gr_mem; member != nullptr && *member != nullptr; ++member) {
        group.members.emplace_back(*member);
    }
    return group;
}

class LinuxSystem final : public PortSystem {
public:
    int FileStatus(const std::string& path, struct stat& info) override {
        return ::stat(path.c_str(), &info) == 0 ? 0 : -errno;
    }
    int Open(const std::string& path, int flags) override {
        const int fd = ::open(path.c_str(), flags);
        // The descriptor goes to the caller, which closes it.
        return fd >= 0 ? fd : -errno; // cppcheck-suppress resourceLeak
    }
    int Ioctl(int fd, unsigned long request, unsigned char* arg) override {
        return ::ioctl(fd, request, arg) >= 0 ? 0 : -errno;
    }
    void Close(int fd) override { ::close(fd); }
    std::string Getenv(const char* name) override {
        const char* value = std::getenv(name);
        return value ? value : "";
    }
    std::string ParportProcDir() override { return "/proc/sys/dev/parport"; }
    std::string ProcRoot() override { return "/proc"; }
    int AccessReadWrite(const std::string& path) override {
        return ::access(path.c_str(), R_OK | W_OK) == 0 ? 0 : -errno;
    }
    UserIdentity CurrentUser() override {
        UserIdentity user;
        user.uid = ::getuid();
        std::vector<char> buffer = EntryBuffer(_SC_GETPW_R_SIZE_MAX);
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(user.uid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr) {
            user.name = found->pw_name;
            user.loginGroup = found->pw_gid;
        }
        user.groups.push_back(::getegid());
        const int count = ::getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> more(static_cast<size_t>(count));
            const int got = ::getgroups(count, more.data());
            more.resize(got > 0 ? static_cast<size_t>(got) : 0);
            user.groups.insert(user.groups.end(), more.begin(), more.end());
        }
        return user;
    }
    GroupEntry GroupById(gid_t gid) override {
        return FindGroup(
            [gid](struct group* entry, char* buffer, size_t size, struct group** found) {
                return ::getgrgid_r(gid, entry, buffer, size, found);
            });
    }
    GroupEntry GroupByName(const std::string& name) override {
        return FindGroup(
            [&name](struct group* entry, char* buffer, size_t size, struct group** found) {
                return ::getgrnam_r(name.c_str(), entry, buffer, size, found);
            });
    }
};

} // namespace

PortSystem& TheSystem() {
    static LinuxSystem system;
    return system;
}

} // namespace parport
