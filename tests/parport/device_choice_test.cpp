#include "TestSupport.h"
#include "device_choice.h"
#include "fake_kernel.h"
#include "parport_device.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A /proc/sys/dev/parport lookalike in a fresh temporary directory.
class ProcTree {
public:
    explicit ProcTree(const std::map<std::string, std::string>& baseAddrs) : root_(dir_.Path()) {
        for (const auto& [port, baseAddr] : baseAddrs) {
            fs::create_directories(root_ / port);
            std::ofstream(root_ / port / "base-addr") << baseAddr << "\n";
        }
    }
    std::string Path() const { return root_.string(); }

    void File(const std::string& relative, const std::string& contents) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << contents;
    }
    void Link(const std::string& relative, const std::string& target) {
        fs::create_directories((root_ / relative).parent_path());
        fs::create_symlink(target, root_ / relative);
    }

private:
    testsupport::TempDir dir_;
    fs::path root_;
};

TEST(DeviceChoice, FollowsBaseAddressThenFirstPortThenVariable) {
    struct Case {
        std::string name;
        std::map<std::string, std::string> ports;
        std::string variable;
        std::string expected;
    };
    for (const Case& c : {
             Case{"888 among several",
                  {{"parport0", "632\t1656"}, {"parport1", "888\t1912"}, {"parport2", "53248"}},
                  "",
                  "/dev/parport1"},
             Case{"lowest of two at 888",
                  {{"parport10", "888"}, {"parport3", "888\t1912"}, {"parport2", "8880"}},
                  "",
                  "/dev/parport3"},
             Case{"only another base", {{"parport0", "53248\t53256"}}, "", "/dev/parport0"},
             Case{"no ports", {}, "", "/dev/parport0"},
             Case{"stray entries", {{"default", "888"}, {"parportx", "888"}}, "", "/dev/parport0"},
             Case{"variable wins", {{"parport1", "888\t1912"}}, "/dev/parport5", "/dev/parport5"},
         }) {
        SCOPED_TRACE(c.name);
        ProcTree tree(c.ports);
        parport::DeviceChoice choice = parport::ChooseDevice(tree.Path(), c.variable);
        EXPECT_EQ(choice.path, c.expected);
        EXPECT_EQ(choice.fromVariable, !c.variable.empty());
    }
}

TEST(DeviceChoice, MissingProcDirectoryMeansFirstPort) {
    EXPECT_EQ(parport::ChooseDevice("/nonexistent/parport", "").path, "/dev/parport0");
}

TEST(DeviceChoice, DeviceOpensTheChosenPortAndNamesTheVariable) {
    ProcTree tree({{"parport0", "632"}, {"parport1", "888\t1912"}});
    FakeKernel kernel;
    kernel.procDir = tree.Path();
    parport::ParportDevice device(kernel);
    EXPECT_EQ(device.Read(889).value, 0);
    EXPECT_EQ(kernel.calls.front(), "open /dev/parport1");

    FakeKernel overridden;
    overridden.procDir = tree.Path();
    overridden.environment[parport::DeviceVariable] = "/dev/parport4";
    overridden.failures["open"] = {ENOENT};
    parport::ParportDevice other(overridden);
    parport::PortResult result = other.Read(889);
    EXPECT_EQ(overridden.calls.front(), "open /dev/parport4");
    EXPECT_NE(result.error.find("/dev/parport4 (indicado en PORTIO_DEVICE)"), std::string::npos)
        << result.error;
}

// ppdev refuses the claim with ENXIO whoever has the port; the message says
// who, from the kernel's list of what is registered on it.
TEST(DeviceChoice, BusyPortNamesItsHolder) {
    struct Case {
        std::string name;
        std::string registered; // entry under parport0/devices besides "active"
        std::string heldBy;     // device the process 4242 "velantro" holds open
        std::string expected;
        bool unloadLp;
    };
    for (const Case& c : {
             Case{"program found", "ppdev0", "/dev/parport0",
                  "ocupado por otro programa: velantro (proceso 4242)", false},
             Case{"program not found", "ppdev0", "/dev/parport1",
                  "ocupado por otro programa, quizá de otro usuario", false},
             Case{"printer driver", "lp", "",
                  "(lp). Descárguelo ahora con «modprobe -r lp» (como administrador) y vuelva a "
                  "intentarlo. Para que no se cargue más al arrancar, cree el archivo "
                  "/etc/modprobe.d/velantro-sin-lp.conf con la línea «blacklist lp».",
                  true},
             Case{"other driver", "ppa", "", "otro controlador del núcleo («ppa»)", false},
             Case{"nothing listed", "", "", "no hay nada registrado en él", false},
         }) {
        SCOPED_TRACE(c.name);
        ProcTree tree(std::map<std::string, std::string>{{"parport0", "888"}});
        tree.File("parport0/devices/active", "none\n");
        if (!c.registered.empty()) {
            tree.File("parport0/devices/" + c.registered + "/timeslice", "200\n");
        }
        tree.File("proc/4242/comm", "velantro\n");
        tree.Link("proc/4242/fd/0", "/dev/null");
        if (!c.heldBy.empty()) {
            tree.Link("proc/4242/fd/5", c.heldBy);
        }
        FakeKernel kernel;
        kernel.procDir = tree.Path();
        kernel.processDir = tree.Path() + "/proc";
        kernel.failures["PPCLAIM"] = {ENXIO};
        parport::ParportDevice device(kernel);
        parport::PortResult result = device.Write(888, 0);
        EXPECT_EQ(result.value, -1);
        EXPECT_NE(result.error.find(c.expected), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find("modprobe -r lp") != std::string::npos, c.unloadLp)
            << result.error;
        EXPECT_EQ(kernel.calls.back(), "close");
    }
}

} // namespace
