// The few operating-system calls the parallel port library needs, behind an
// interface so the device logic can run against a scripted kernel in tests.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace parport {

// The user a process runs as, for the permission check.
struct UserIdentity {
    uid_t uid = 0;
    std::string name;          // the login name; empty when the user database has none
    gid_t loginGroup = 0;      // the primary group, from the user database
    std::vector<gid_t> groups; // the groups the process has now, effective one included
};

// One entry of the group database.
struct GroupEntry {
    bool found = false;
    gid_t gid = 0;
    std::string name;
    std::vector<std::string> members; // the users listed in it (not those with it as primary)
};

class PortSystem {
public:
    virtual ~PortSystem() = default;

    // stat(2) of a path, following links. Returns 0, or -errno.
    virtual int FileStatus(const std::string& path, struct stat& info) = 0;

    // Opens a device node. Returns the file descriptor, or -errno.
    virtual int Open(const std::string& path, int flags) = 0;

    // Issues a ppdev ioctl. arg points at the register byte for the
    // PPR*/PPW* requests and is null for the others. Returns 0, or -errno.
    virtual int Ioctl(int fd, unsigned long request, unsigned char* arg) = 0;

    virtual void Close(int fd) = 0;

    // The value of an environment variable, empty when it is unset.
    virtual std::string Getenv(const char* name) = 0;

    // The directory in which the kernel lists its parallel ports
    // (parport0/base-addr, parport1/base-addr, ...).
    virtual std::string ParportProcDir() = 0;

    // The process directory (/proc), where the holder of a busy port is looked for.
    virtual std::string ProcRoot() = 0;

    // access(2) for reading and writing, with the process's real identity.
    // Returns 0, or -errno.
    virtual int AccessReadWrite(const std::string& path) = 0;

    virtual UserIdentity CurrentUser() = 0;
    virtual GroupEntry GroupById(gid_t gid) = 0;
    virtual GroupEntry GroupByName(const std::string& name) = 0;
};

// The system the port library's C functions use, built at its first call:
// defined once for each build of the library (the Linux calls, or a test's
// scripted kernel).
PortSystem& TheSystem();

} // namespace parport
