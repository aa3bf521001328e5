// The few operating-system calls the parallel port library needs, behind an
// interface so the device logic can run against a scripted kernel in tests.
#ifndef VELANTRO_PARPORT_PORT_SYSTEM_H
#define VELANTRO_PARPORT_PORT_SYSTEM_H

#include <string>
#include <sys/stat.h>

namespace parport {

class PortSystem {
public:
    virtual ~PortSystem() = default;

    // stat(2) of a path, following links. Returns 0, or -errno.
    virtual int fileStatus(const std::string& path, struct stat& info) = 0;

    // Opens a device node. Returns the file descriptor, or -errno.
    virtual int open(const std::string& path, int flags) = 0;

    // Issues a ppdev ioctl. arg points at the register byte for the
    // PPR*/PPW* requests and is null for the others. Returns 0, or -errno.
    virtual int ioctl(int fd, unsigned long request, unsigned char* arg) = 0;

    virtual void close(int fd) = 0;

    // The value of an environment variable, empty when it is unset.
    virtual std::string getenv(const char* name) = 0;

    // The directory in which the kernel lists its parallel ports
    // (parport0/base-addr, parport1/base-addr, ...).
    virtual std::string parportProcDir() = 0;

    // The process directory (/proc), where the holder of a busy port is looked for.
    virtual std::string procRoot() = 0;
};

} // namespace parport

#endif
