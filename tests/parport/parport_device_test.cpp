#include "device_choice.h"
#include "fake_kernel.h"
#include "parport_device.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using parport::ParportDevice;
using Calls = std::vector<std::string>;

namespace {

const Calls OpenAndClaim = {"open /dev/parport0", "PPEXCL", "PPCLAIM"};

Calls Concat(Calls head, const Calls& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

struct WriteCase {
    int port;
    int value;
    std::string expectedCall;
};

TEST(ParportDevice, WritesReachTheRegisterUnchanged) {
    for (const WriteCase& c :
         {WriteCase{890, 7, "PPWCONTROL 7"}, WriteCase{890, 0, "PPWCONTROL 0"},
          WriteCase{890, 15, "PPWCONTROL 15"}, WriteCase{888, 0xA5, "PPWDATA 165"},
          WriteCase{888, 0x1FF, "PPWDATA 255"}, WriteCase{888, -1, "PPWDATA 255"}}) {
        SCOPED_TRACE(c.expectedCall);
        FakeKernel kernel;
        ParportDevice device(kernel);
        parport::PortResult result = device.Write(c.port, c.value);
        EXPECT_EQ(result.value, 0) << result.error;
        EXPECT_EQ(kernel.calls, Concat(OpenAndClaim, {c.expectedCall}));
    }
}

TEST(ParportDevice, ReadsReturnTheRawByte) {
    struct Case {
        int port;
        unsigned char FakeKernel::*reg;
        unsigned char contents;
        std::string expectedCall;
    };
    for (const Case& c : {Case{889, &FakeKernel::status, 0x7F, "PPRSTATUS"},
                          Case{889, &FakeKernel::status, 0x80, "PPRSTATUS"},
                          Case{888, &FakeKernel::data, 0xFF, "PPRDATA"},
                          Case{890, &FakeKernel::control, 0x0B, "PPRCONTROL"}}) {
        SCOPED_TRACE(c.expectedCall + " " + std::to_string(c.contents));
        FakeKernel kernel;
        kernel.*c.reg = c.contents;
        ParportDevice device(kernel);
        EXPECT_EQ(device.Read(c.port).value, c.contents);
        EXPECT_EQ(kernel.calls, Concat(OpenAndClaim, {c.expectedCall}));
    }
}

TEST(ParportDevice, ClaimsOnceAndKeepsCallOrder) {
    FakeKernel kernel;
    {
        ParportDevice device(kernel);
        EXPECT_EQ(device.Write(888, 1).value, 0);
        EXPECT_EQ(device.Read(889).value, 0);
        EXPECT_EQ(device.Write(890, 4).value, 0);
        EXPECT_EQ(device.Read(888).value, 1);
        EXPECT_EQ(kernel.openFlags, O_RDWR | O_CLOEXEC | O_NOCTTY);
    }
    EXPECT_EQ(kernel.calls, Concat(OpenAndClaim, {"PPWDATA 1", "PPRSTATUS", "PPWCONTROL 4",
                                                  "PPRDATA", "PPRELEASE", "close"}));
}

TEST(ParportDevice, UnusedDeviceIsNeverOpened) {
    FakeKernel kernel;
    { ParportDevice device(kernel); }
    EXPECT_TRUE(kernel.calls.empty());
}

TEST(ParportDevice, RefusesBadRequestsWithoutTouchingTheDevice) {
    struct Case {
        bool write;
        int port;
        int value;
        std::string mentioned;
    };
    for (const Case& c :
         {Case{true, 890, 0x10, "890"}, Case{true, 890, 0x20, "890"}, Case{true, 890, 0xF7, "890"},
          Case{true, 890, 0x107, "890"}, Case{true, 890, -1, "890"}, Case{true, 890, -256, "890"},
          Case{true, 889, 0, "889"}, Case{true, 887, 0, "887"}, Case{true, 0, 0, "puerto 0 "},
          Case{false, 891, 0, "891"}, Case{false, -1, 0, "-1"}}) {
        SCOPED_TRACE(std::to_string(c.port) + " " + std::to_string(c.value));
        FakeKernel kernel;
        ParportDevice device(kernel);
        parport::PortResult result = c.write ? device.Write(c.port, c.value) : device.Read(c.port);
        EXPECT_EQ(result.value, -1);
        EXPECT_NE(result.error.find(c.mentioned), std::string::npos) << result.error;
        EXPECT_TRUE(kernel.calls.empty());
    }
}

TEST(ParportDevice, EachFailureExplainsWhatToDo) {
    struct Case {
        std::string failingCall;
        int err;
        std::string advice;
        Calls expectedCalls;
    };
    const Calls claimThenClose = {"open /dev/parport0", "PPEXCL", "PPCLAIM", "close"};
    for (const Case& c : {
             Case{"open", ENOENT, "«modprobe -a parport_pc ppdev»", {"open /dev/parport0"}},
             Case{"open", ENXIO, "«modprobe -a parport_pc ppdev»", {"open /dev/parport0"}},
             Case{"open", EACCES, "grupo lp", {"open /dev/parport0"}},
             Case{"open", EPERM, "grupo lp", {"open /dev/parport0"}},
             // Refused claims with no port in the kernel's list: there is no such port.
             Case{"PPEXCL", EBUSY, "No se encuentra", {"open /dev/parport0", "PPEXCL", "close"}},
             Case{"PPCLAIM", ENXIO, "No se encuentra", claimThenClose},
             Case{"PPCLAIM", EBUSY, "No se encuentra", claimThenClose},
             Case{"PPCLAIM", EINTR, "interrumpió PPCLAIM", claimThenClose},
             Case{"PPWDATA", EIO,
                  std::string("PPWDATA sobre el puerto paralelo /dev/parport0: ") +
                      std::strerror(EIO),
                  Concat(OpenAndClaim, {"PPWDATA 9"})},
         }) {
        SCOPED_TRACE(c.failingCall + " " + std::strerror(c.err));
        FakeKernel kernel;
        kernel.failures[c.failingCall] = {c.err};
        ParportDevice device(kernel);
        parport::PortResult result = device.Write(888, 9);
        EXPECT_EQ(result.value, -1);
        EXPECT_NE(result.error.find("puerto paralelo /dev/parport0"), std::string::npos)
            << result.error;
        EXPECT_NE(result.error.find(c.advice), std::string::npos) << result.error;
        EXPECT_EQ(kernel.calls, c.expectedCalls);
    }
}

// PORTIO_DEVICE may name anything: only ppdev's character devices are opened.
TEST(ParportDevice, RefusesWhatIsNotAParallelPortBeforeOpeningIt) {
    struct Case {
        std::string path;
        mode_t mode;
        dev_t device;
        std::string what;
    };
    const std::string longPath = "/tmp/" + std::string(2000, 'a') + "/ñ/puerto";
    for (const Case& c : {
             Case{"/dev/null", S_IFCHR | 0666, makedev(1, 3), "de caracteres 1:3"},
             Case{"/dev/ttyS0", S_IFCHR | 0660, makedev(4, 64), "de caracteres 4:64"},
             Case{"/dev/sda", S_IFBLK | 0660, makedev(8, 0), "de bloques"},
             Case{"/tmp/fifo", S_IFIFO | 0644, 0, "tubería"},
             Case{"/home/ana/parport0", S_IFREG | 0644, makedev(99, 0), "archivo normal"},
             Case{longPath, S_IFDIR | 0755, 0, "carpeta"},
         }) {
        SCOPED_TRACE(c.path.substr(0, 40));
        FakeKernel kernel;
        kernel.environment[parport::DeviceVariable] = c.path;
        kernel.nodes[c.path] = {c.mode, c.device};
        ParportDevice device(kernel);
        parport::PortResult result = device.Write(888, 9);
        EXPECT_EQ(result.value, -1);
        EXPECT_NE(result.error.find(c.what), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("(indicado en PORTIO_DEVICE) no es un puerto paralelo"),
                  std::string::npos)
            << result.error;
        // The reason and the advice stay whole within PortError's buffer.
        EXPECT_LT(result.error.size(), 1000U);
        EXPECT_NE(result.error.find("(número principal 99), como /dev/parport0. No se ha abierto."),
                  std::string::npos)
            << result.error;
        EXPECT_TRUE(kernel.calls.empty());
    }
}

TEST(ParportDevice, RetriesAfterAFailedOpenOrClaim) {
    for (std::string failingCall : {"open", "PPCLAIM"}) {
        SCOPED_TRACE(failingCall);
        FakeKernel kernel;
        kernel.failures[failingCall] = {ENOENT};
        ParportDevice device(kernel);
        EXPECT_EQ(device.Write(888, 3).value, -1);
        kernel.calls.clear();
        EXPECT_EQ(device.Write(888, 3).value, 0);
        EXPECT_EQ(kernel.calls, Concat(OpenAndClaim, {"PPWDATA 3"}));
    }
}

TEST(ParportDevice, FailedRegisterCallKeepsTheClaim) {
    FakeKernel kernel;
    kernel.failures["PPRSTATUS"] = {EIO};
    ParportDevice device(kernel);
    EXPECT_EQ(device.Read(889).value, -1);
    EXPECT_EQ(device.Read(889).value, 0);
    EXPECT_EQ(kernel.calls, Concat(OpenAndClaim, {"PPRSTATUS", "PPRSTATUS"}));
}

} // namespace
