// A stand-in for the kernel's ppdev driver: records every call in order, keeps
// the port's registers, answers the way ppdev does (register ioctls before
// PPCLAIM fail with EINVAL) and fails the calls a test scripts to fail.
#pragma once

#include "port_system.h"

#include <cerrno>
#include <deque>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

class FakeKernel : public parport::PortSystem {
public:
    // Calls as "open /dev/parport0", "PPCLAIM", "PPWCONTROL 7", "PPRSTATUS", "close".
    std::vector<std::string> calls;
    int openFlags = 0;
    // Errno values the next calls named "open", "PPCLAIM", ... fail with, in turn.
    std::map<std::string, std::deque<int>> failures;
    std::map<std::string, std::string> environment;
    std::string procDir = "/nonexistent";
    std::string processDir = "/nonexistent";
    // stat(2) answers by path, as mode and device number. Paths not listed:
    // /dev/parportN is ppdev's character device 99:N, anything else is missing.
    std::map<std::string, std::pair<mode_t, dev_t>> nodes;
    gid_t nodeGroup = 7; // the group of every node, lp on Debian
    unsigned char data = 0, status = 0, control = 0;
    // Paths this process may open for reading and writing; others fail with EACCES.
    std::vector<std::string> accessible;
    parport::UserIdentity user;
    std::vector<parport::GroupEntry> groupDatabase;

    int FileStatus(const std::string& path, struct stat& info) override {
        info = {};
        info.st_gid = nodeGroup;
        if (auto it = nodes.find(path); it != nodes.end()) {
            info.st_mode = it->second.first;
            info.st_rdev = it->second.second;
            return 0;
        }
        const std::string prefix = "/dev/parport";
        if (path.rfind(prefix, 0) != 0 || path.size() == prefix.size()) {
            return -ENOENT;
        }
        info.st_mode = S_IFCHR | 0660;
        info.st_rdev = makedev(99, std::stoi(path.substr(prefix.size())));
        return 0;
    }

    int Open(const std::string& path, int flags) override {
        calls.push_back("open " + path);
        openFlags = flags;
        return ScriptedFailure("open", FakeFd);
    }

    int Ioctl(int fd, unsigned long request, unsigned char* arg) override {
        std::string name = RequestName(request);
        bool writes = request == PPWDATA || request == PPWCONTROL;
        calls.push_back(writes ? name + " " + std::to_string(*arg) : name);
        if (fd != FakeFd) {
            return -EBADF;
        }
        if (int rc = ScriptedFailure(name, 0); rc < 0) {
            return rc;
        }
        if (request == PPEXCL || request == PPCLAIM) {
            if (claimed_) {
                return -EINVAL;
            }
            claimed_ = request == PPCLAIM;
            return 0;
        }
        if (!claimed_) {
            return -EINVAL;
        }
        if (request == PPRELEASE) {
            claimed_ = false;
        } else if (request == PPWDATA) {
            data = *arg;
        } else if (request == PPWCONTROL) {
            control = *arg & 0x0F;
        } else {
            *arg = request == PPRDATA ? data : request == PPRSTATUS ? status : control;
        }
        return 0;
    }

    void Close(int fd) override {
        calls.push_back("close");
        if (fd == FakeFd) {
            claimed_ = false;
        }
    }

    std::string Getenv(const char* name) override {
        auto it = environment.find(name);
        return it == environment.end() ? "" : it->second;
    }

    std::string ParportProcDir() override { return procDir; }
    std::string ProcRoot() override { return processDir; }

    int AccessReadWrite(const std::string& path) override {
        for (const std::string& open : accessible) {
            if (open == path) {
                return 0;
            }
        }
        return -EACCES;
    }
    parport::UserIdentity CurrentUser() override { return user; }
    parport::GroupEntry GroupById(gid_t gid) override {
        for (const parport::GroupEntry& group : groupDatabase) {
            if (group.gid == gid) {
                return group;
            }
        }
        return {};
    }
    parport::GroupEntry GroupByName(const std::string& name) override {
        for (const parport::GroupEntry& group : groupDatabase) {
            if (group.name == name) {
                return group;
            }
        }
        return {};
    }

private:
    static constexpr int FakeFd = 7;
    bool claimed_ = false;

    int ScriptedFailure(const std::string& name, int success) {
        std::deque<int>& queue = failures[name];
        if (queue.empty()) {
            return success;
        }
        int err = queue.front();
        queue.pop_front();
        return -err;
    }

    // Built when the program or library starts, not at the first call, so that
    // it outlives a device built later that calls Ioctl as it is destroyed.
    static inline const std::map<unsigned long, std::string> RequestNames = {
        {PPEXCL, "PPEXCL"},         {PPCLAIM, "PPCLAIM"},      {PPRELEASE, "PPRELEASE"},
        {PPWDATA, "PPWDATA"},       {PPRDATA, "PPRDATA"},      {PPRSTATUS, "PPRSTATUS"},
        {PPWCONTROL, "PPWCONTROL"}, {PPRCONTROL, "PPRCONTROL"}};

    static std::string RequestName(unsigned long request) {
        auto it = RequestNames.find(request);
        return it == RequestNames.end() ? "ioctl " + std::to_string(request) : it->second;
    }
};
