#include "TestSupport.h"
#include "device_choice.h"
#include "fake_kernel.h"
#include "parport_device.h"
#include "readiness.h"

#include <algorithm>
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
                  "(lp). Descárguelo ahora con «rmmod lp» (como administrador) y vuelva a "
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
        EXPECT_EQ(result.error.find("«rmmod lp»") != std::string::npos, c.unloadLp) << result.error;
        EXPECT_EQ(kernel.calls.back(), "close");
    }
}

} // namespace

// What --comprobar shows for the port: the device and its base address, the
// permission (in group lp now, only after a new login, not at all), and who
// else has the port.
TEST(Readiness, SaysWhatThisPcLacks) {
    struct Case {
        std::string name;
        bool port;              // the kernel lists parport0 at 888
        std::string registered; // entry under parport0/devices
        uid_t uid;
        std::vector<gid_t> groupsNow;
        std::vector<std::string> lpMembers;
        mode_t mode;
        std::vector<bool> met;
        std::vector<std::string> lines;
    };
    const std::string ready = "Puerto: /dev/parport0, dirección base 888 (0x378).";
    const std::string free = "Uso: ni el controlador de impresora (lp) ni otro programa";
    for (const Case& c : {
             Case{"ready",
                  true,
                  "",
                  1000,
                  {1000, 7},
                  {"ana"},
                  0660,
                  {true, true, true},
                  {ready, "Permiso: su usuario (ana) puede usar /dev/parport0 (grupo lp).", free}},
             Case{"root",
                  true,
                  "",
                  0,
                  {0},
                  {},
                  0600,
                  {true, true, true},
                  {ready, "Permiso: es el administrador (root)", free}},
             Case{"new login needed",
                  true,
                  "",
                  1000,
                  {1000},
                  {"ana"},
                  0660,
                  {true, false, true},
                  {ready, "ya está en el grupo lp, pero esta sesión empezó antes", free}},
             Case{"not in group lp",
                  true,
                  "",
                  1000,
                  {1000},
                  {"otro"},
                  0660,
                  {true, false, true},
                  {ready, "no está en el grupo lp. Añádalo con «adduser ana lp»", free}},
             Case{"node only for root",
                  true,
                  "",
                  1000,
                  {1000, 7},
                  {"ana"},
                  0600,
                  {true, false, true},
                  {ready, "(permisos 0600, grupo lp)", free}},
             Case{"lp has it",
                  true,
                  "lp",
                  1000,
                  {1000, 7},
                  {"ana"},
                  0660,
                  {true, true, false},
                  {ready, "puede usar",
                   "Uso: El puerto paralelo /dev/parport0 está ocupado por "
                   "el controlador de impresora (lp). Descárguelo ahora "
                   "con «rmmod lp»"}},
             Case{"no port, in group lp",
                  false,
                  "",
                  1000,
                  {1000, 7},
                  {"ana"},
                  0660,
                  {false, true, false},
                  {"Puerto: No se encuentra el puerto paralelo /dev/parport0. Cargue los módulos "
                   "con «modprobe -a parport_pc ppdev»",
                   "Permiso: su usuario (ana) está en el grupo lp.", "Uso: sin el puerto"}},
             Case{"no port, not in group lp",
                  false,
                  "",
                  1000,
                  {1000},
                  {},
                  0660,
                  {false, false, false},
                  {"No se encuentra", "«adduser ana lp»", "Uso: sin"}},
         }) {
        SCOPED_TRACE(c.name);
        ProcTree tree(c.port ? std::map<std::string, std::string>{{"parport0", "888\t1912"}}
                             : std::map<std::string, std::string>{});
        if (c.port) {
            tree.File("parport0/devices/active", "none\n");
        }
        if (!c.registered.empty()) {
            tree.File("parport0/devices/" + c.registered + "/timeslice", "200\n");
        }
        FakeKernel kernel;
        kernel.procDir = tree.Path();
        kernel.nodes["/dev/parport0"] = {S_IFCHR | c.mode, makedev(99, 0)};
        if (c.mode == 0660 &&
            std::find(c.groupsNow.begin(), c.groupsNow.end(), 7) != c.groupsNow.end()) {
            kernel.accessible = {"/dev/parport0"};
        }
        kernel.user = {c.uid, "ana", 1000, c.groupsNow};
        kernel.groupDatabase = {{true, 7, "lp", c.lpMembers}, {true, 1000, "ana", {}}};
        const std::vector<parport::Requirement> requirements = parport::CheckReadiness(kernel);
        ASSERT_EQ(requirements.size(), 3U);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(requirements[i].met, c.met[i]) << requirements[i].line;
            EXPECT_NE(requirements[i].line.find(c.lines[i]), std::string::npos)
                << requirements[i].line;
        }
        EXPECT_TRUE(kernel.calls.empty()) << "the port is neither opened nor claimed";
    }
}
