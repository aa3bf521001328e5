// What every port library the build makes promises in portio.h, checked on the
// built shared objects as a program sees them: loaded with dlopen. One row per
// library; a new port library is one more row. The simulated board, one per
// session, is also checked as several programs share it.
#include "HarnessProcess.h"
#include "TestSupport.h"
#include "portio.h"

#include <cstdlib>
#include <dlfcn.h>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Every test runs in a session of its own: the simulated board of the user
// running the tests, or of other tests running at the same time, is never
// touched.
class PrivateSession : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<testsupport::TempDir>();
        ::setenv("XDG_RUNTIME_DIR", dir_->Path().c_str(), 1);
    }
    void TearDown() override { dir_.reset(); }

private:
    std::unique_ptr<testsupport::TempDir> dir_;
};
const auto* const TheSession = ::testing::AddGlobalTestEnvironment(new PrivateSession);

// The simulated board's file in the test's session.
std::string BoardFile() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return std::string(runtime != nullptr ? runtime : "") + "/velantro-placa";
}

struct Library {
    const char* name;
    const char* path;
    // Whether the registers can be reached here. The real port cannot: only
    // what a library refuses before it opens the port is checked for it.
    bool reachable;
};

const Library Libraries[] = {
    {"simulated board", SIMULATED_LIBRARY, true},
    {"ppdev over the scripted kernel", PARPORT_FAKE_LIBRARY, true},
    {"ppdev", PARPORT_LIBRARY, false},
    {"recording", RECORDING_LIBRARY, true},
    {"chosen at start, the simulated board by default", CHOSEN_LIBRARY, true},
    {"USB bridge on the simulated ATmega328P", PUENTE_LIBRARY, true},
};

// The bridge's row reaches the firmware on the simulated chip, with the
// interface board on its pins, through the harness's pseudo-terminal.
class SimulatedBridge : public ::testing::Environment {
public:
    void SetUp() override {
        harness_ = std::make_unique<puente::HarnessProcess>();
        ASSERT_FALSE(harness_->Pty().empty()) << "the bridge's harness did not start";
        ::setenv("PORTIO_DEVICE", harness_->Pty().c_str(), 1);
    }
    void TearDown() override { harness_.reset(); }

private:
    std::unique_ptr<puente::HarnessProcess> harness_;
};
::testing::Environment* const TheSimulatedBridge =
    ::testing::AddGlobalTestEnvironment(new SimulatedBridge);

// Names of the symbols the shared object defines for others to use.
std::set<std::string> ExportedSymbols(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image{std::istreambuf_iterator<char>(file), {}};
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    std::set<std::string> names;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) {
            continue;
        }
        const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto* symbols =
            reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
        for (size_t s = 0; s < sections[i].sh_size / sizeof(Elf64_Sym); ++s) {
            if (symbols[s].st_shndx != SHN_UNDEF &&
                ELF64_ST_BIND(symbols[s].st_info) != STB_LOCAL) {
                names.insert(strings + symbols[s].st_name);
            }
        }
    }
    return names;
}

template <typename Function> Function Symbol(void* handle, const char* name) {
    return handle != nullptr ? reinterpret_cast<Function>(dlsym(handle, name)) : nullptr;
}

// A library loaded as the console loads it, with its three functions.
class Loaded {
public:
    explicit Loaded(const char* path)
        : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL), dlclose),
          portOut_(Symbol<decltype(&::PortOut)>(handle_.get(), "PortOut")),
          portIn_(Symbol<decltype(&::PortIn)>(handle_.get(), "PortIn")),
          portError_(Symbol<decltype(&::PortError)>(handle_.get(), "PortError")) {}
    bool Ready() const { return portOut_ && portIn_ && portError_; }
    int Out(int port, int value) const { return portOut_(port, value); }
    int In(int port) const { return portIn_(port); }
    std::string Error() const {
        const char* text = portError_();
        return text != nullptr ? text : "(NULL)";
    }

private:
    std::unique_ptr<void, int (*)(void*)> handle_;
    decltype(&::PortOut) portOut_;
    decltype(&::PortIn) portIn_;
    decltype(&::PortError) portError_;
};

// The length of the UTF-8 sequence that lead starts, 0 if it starts none.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    return (lead & 0xF8) == 0xF0 ? 4 : 0;
}

// Whether text is well-formed UTF-8, as the console shows it (overlong forms
// are not looked for: the texts are the libraries' own).
bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = SequenceLength(static_cast<unsigned char>(text[i]));
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// The three port functions, and PortReadiness where a library has it.
TEST(PortioContract, ExportsExactlyThePortFunctions) {
    const std::set<std::string> functions{"PortError", "PortIn", "PortOut"};
    for (const Library& library : Libraries) {
        std::set<std::string> exported = ExportedSymbols(library.path);
        exported.erase("PortReadiness");
        EXPECT_EQ(exported, functions) << library.name;
    }
}

// PortReadiness, where there: 1 or 0 with a one-line Spanish text for each
// requirement in turn, then -1 leaving the text alone.
TEST(PortioContract, ReadinessListsRequirementsInSpanish) {
    for (const Library& library : Libraries) {
        SCOPED_TRACE(library.name);
        const std::unique_ptr<void, int (*)(void*)> handle(
            dlopen(library.path, RTLD_NOW | RTLD_LOCAL), dlclose);
        auto readiness = Symbol<decltype(&::PortReadiness)>(handle.get(), "PortReadiness");
        if (readiness == nullptr) {
            continue;
        }
        int item = 0;
        for (const char* line = nullptr; item < 100; ++item) {
            const int met = readiness(item, &line);
            if (met == -1) {
                break;
            }
            ASSERT_TRUE(met == 0 || met == 1) << item << ": " << met;
            ASSERT_NE(line, nullptr);
            EXPECT_TRUE(!std::string(line).empty() && IsUtf8(line) &&
                        std::string(line).find('\n') == std::string::npos)
                << line;
        }
        EXPECT_GT(item, 0);
        EXPECT_LT(item, 100) << "no end to the list";
        const char* kept = "sin cambiar";
        EXPECT_EQ(readiness(item, &kept), -1);
        EXPECT_STREQ(kept, "sin cambiar");
        EXPECT_EQ(readiness(-1, &kept), -1);
    }
}

// Every refused call returns -1 and leaves a one-line Spanish reason naming what
// was refused: the register, and the value when the value was the fault; for
// a register outside the three, the three that exist.
TEST(PortioContract, RefusesWhatNoPortHasAndSaysWhy) {
    const std::string registers = "888 (datos), 889 (estado) y 890 (control)";
    struct Case {
        bool write; // PortOut(port, value), else PortIn(port)
        int port;
        int value;
        std::vector<std::string> named;
    };
    const std::vector<Case> cases = {
        {true, 889, 0, {"889", "estado"}},    {true, 890, 16, {"890", "16"}},
        {true, 890, 0x20, {"890", "32"}},     {true, 890, -1, {"890", "-1"}},
        {true, 891, 0, {"891", registers}},   {true, 887, 0, {"887", registers}},
        {true, 0x278, 0, {"632", registers}}, {true, -888, 0, {"-888", registers}},
        {false, 891, 0, {"891", registers}},  {false, 887, 0, {"887", registers}},
        {false, -1, 0, {"-1", registers}},
    };
    for (const Library& library : Libraries) {
        const Loaded port(library.path);
        ASSERT_TRUE(port.Ready()) << library.name << ": " << dlerror();
        for (const Case& c : cases) {
            const std::string call =
                std::string(library.name) + (c.write ? ": PortOut(" : ": PortIn(") +
                std::to_string(c.port) + (c.write ? ", " + std::to_string(c.value) : "") + ")";
            const int result = c.write ? port.Out(c.port, c.value) : port.In(c.port);
            EXPECT_EQ(result, -1) << call;
            const std::string reason = port.Error();
            for (const std::string& name : c.named) {
                EXPECT_NE(reason.find(name), std::string::npos) << call << ": " << reason;
            }
            EXPECT_TRUE(IsUtf8(reason)) << call << ": " << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << call << ": " << reason;
        }
    }
}

// Every register takes and gives back what portio.h says; a refused write
// leaves the register as it was.
TEST(PortioContract, TakesAndGivesBackEveryRegistersValues) {
    for (const Library& library : Libraries) {
        if (!library.reachable) {
            continue;
        }
        const Loaded port(library.path);
        ASSERT_TRUE(port.Ready()) << library.name << ": " << dlerror();
        for (int value = 0; value <= 15; ++value) {
            EXPECT_EQ(port.Out(PortioControlRegister, value), 0)
                << library.name << ": control " << value << ": " << port.Error();
            EXPECT_EQ(port.In(PortioControlRegister), value) << library.name;
        }
        EXPECT_EQ(port.Out(PortioControlRegister, 0x27), -1) << library.name;
        EXPECT_EQ(port.In(PortioControlRegister), 15) << library.name << ": a refused write";

        // Only the low 8 bits of a data value reach the register.
        for (const auto& [value, held] : {std::pair{0, 0}, {9, 9}, {255, 255}, {0x1A5, 0xA5}}) {
            EXPECT_EQ(port.Out(PortioDataRegister, value), 0)
                << library.name << ": data " << value << ": " << port.Error();
            EXPECT_EQ(port.In(PortioDataRegister), held) << library.name << ": data " << value;
        }
        for (const int control : {3, 1}) {
            ASSERT_EQ(port.Out(PortioControlRegister, control), 0) << library.name;
            const int status = port.In(PortioStatusRegister);
            EXPECT_TRUE(status >= 0 && status <= 255) << library.name << ": status " << status;
        }
    }
}

// The first and second input groups the board reports, read with the
// console's sequence (control 3, status, control 1, status) and decoded: line k
// of a group is status bit 3 + k, a 1 when the line reads low. -1 for a failed
// call.
std::pair<int, int> ReadGroups(const Loaded& port) {
    int groups[2] = {};
    const int controls[2] = {3, 1};
    for (int i = 0; i < 2; ++i) {
        const int status =
            port.Out(PortioControlRegister, controls[i]) == 0 ? port.In(PortioStatusRegister) : -1;
        groups[i] = status < 0 ? -1 : (~status >> 3) & 15;
    }
    return {groups[0], groups[1]};
}

// The second group of a board in manual mode: pin 15 low (manual), pin 12 low
// (board present).
constexpr int ManualMode = 5;

// The board's output value written as the console writes it: 0 when both
// calls took it.
int WriteOutput(const Loaded& port, int value) {
    return port.Out(PortioControlRegister, 7) == 0 ? port.Out(PortioDataRegister, value) : -1;
}

// Runs body in a process of its own, another program of the session, and gives
// its exit status; body's own status is its return value.
int InAnotherProgram(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What one program lights, another program of the session sees, and the data
// lines it wrote; a program of another session sees a dark board.
TEST(PortioContract, TheSimulatedBoardIsTheSessionsOne) {
    EXPECT_EQ(InAnotherProgram([] { return WriteOutput(Loaded(SIMULATED_LIBRARY), 8 | 1); }), 0);
    {
        const Loaded port(SIMULATED_LIBRARY);
        EXPECT_EQ(ReadGroups(port), std::make_pair(1, ManualMode)) << port.Error();
        EXPECT_EQ(port.In(PortioDataRegister), 9);
    }
    const testsupport::TempDir otherSession;
    EXPECT_EQ(InAnotherProgram([&] {
                  ::setenv("XDG_RUNTIME_DIR", otherSession.Path().c_str(), 1);
                  return ReadGroups(Loaded(SIMULATED_LIBRARY)) == std::make_pair(0, 4) ? 0 : 1;
              }),
              0)
        << "a dark board in another session";

    // The file removed while a program uses it: the program follows the
    // session's new board.
    const Loaded port(SIMULATED_LIBRARY);
    ASSERT_EQ(WriteOutput(port, 8 | 1), 0);
    ASSERT_TRUE(fs::remove(BoardFile()));
    EXPECT_EQ(InAnotherProgram([] { return WriteOutput(Loaded(SIMULATED_LIBRARY), 8 | 2); }), 0);
    EXPECT_EQ(ReadGroups(port), std::make_pair(2, ManualMode)) << port.Error();
}

// A student's program writes lamps at full speed and reads each back with the
// console's sequence, while another program, the console, keeps reading: every
// read of either decodes to a lamp that was written in manual mode, never to a
// group the other program selected or a write the other one cut off.
TEST(PortioContract, EachProgramsSequencesStayWholeOnTheSimulatedBoard) {
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    const pid_t student = ::fork();
    ASSERT_GE(student, 0);
    if (student == 0) {
        const Loaded port(SIMULATED_LIBRARY);
        int torn = 0;
        for (int i = 0; i < 4000; ++i) {
            const int lamp = 1 << (i % 3);
            torn += WriteOutput(port, 8 | lamp) != 0 ? 1 : 0;
            if (i == 0) {
                ::close(started[1]);
            }
            torn += ReadGroups(port) != std::make_pair(lamp, ManualMode) ? 1 : 0;
        }
        ::_exit(torn == 0 ? 0 : 1);
    }
    ::close(started[1]);
    char ignored = 0;
    ASSERT_EQ(::read(started[0], &ignored, 1), 0) << "the student's first write";
    ::close(started[0]);

    const Loaded console(SIMULATED_LIBRARY);
    std::map<std::pair<int, int>, int> seen;
    int status = 0;
    while (::waitpid(student, &status, WNOHANG) == 0) {
        ++seen[ReadGroups(console)];
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the student's program read back a lamp it did not write";
    int reads = 0;
    for (const auto& [groups, count] : seen) {
        EXPECT_TRUE((groups.first == 1 || groups.first == 2 || groups.first == 4) &&
                    groups.second == ManualMode)
            << groups.first << "/" << groups.second << " read " << count << " times";
        reads += count;
    }
    EXPECT_GE(reads, 50) << "the console read while the student wrote";
}

// The board's file as something else made or left it: every call fails with a
// Spanish reason naming the file and the remedy, and the file and its
// directory are left as they were. The last row is a file truncated while the
// program uses it, which a mapped file would turn into SIGBUS.
TEST(PortioContract, TheSimulatedBoardRefusesAFileNotMadeForIt) {
    struct Case {
        const char* what;
        std::function<bool(const std::string& path)> spoil; // false: cannot here
        std::vector<std::string> named;
        bool whileInUse = false;
    };
    const auto resize = [](std::size_t size) {
        return [size](const std::string& path) {
            return ::truncate(path.c_str(), static_cast<off_t>(size)) == 0;
        };
    };
    const auto setByte = [](long offset, char value) {
        return [offset, value](const std::string& path) {
            std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(offset);
            return static_cast<bool>(file.put(value));
        };
    };
    const auto setMode = [](mode_t mode) {
        return [mode](const std::string& path) { return ::chmod(path.c_str(), mode) == 0; };
    };
    const std::vector<Case> cases = {
        {"too short", resize(10), {"10 bytes", "rm "}},
        {"too long", resize(25), {"25 bytes", "rm "}},
        {"another program's", setByte(0, 'X'), {"versión", "rm "}},
        {"another version's", setByte(8, 2), {"versión", "rm "}},
        {"not writable", setMode(0400), {"chmod 600"}},
        {"open to others", setMode(0666), {"666", "chmod 600"}},
        {"another user's (only as root)",
         [](const std::string& path) {
             return ::geteuid() == 0 && ::chown(path.c_str(), 65534, 65534) == 0;
         },
         {"otro usuario"}},
        {"a directory",
         [](const std::string& path) { return fs::remove(path) && fs::create_directory(path); },
         {"carpeta"}},
        {"a symbolic link to a good one",
         [](const std::string& path) {
             fs::rename(path, path + ".bueno");
             fs::create_symlink(path + ".bueno", path);
             return true;
         },
         {"enlace simbólico", "rm "}},
        {"truncated while in use", resize(0), {"0 bytes", "rm "}, true},
    };
    const std::string path = BoardFile();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ignored;
        fs::remove(path, ignored);
        auto port = std::make_unique<Loaded>(SIMULATED_LIBRARY);
        ASSERT_EQ(WriteOutput(*port, 9), 0) << port->Error(); // makes the file
        if (!c.whileInUse) {
            port.reset(); // unloaded: the next load opens the file anew
            port = std::make_unique<Loaded>(SIMULATED_LIBRARY);
        }
        if (!c.spoil(path)) {
            continue;
        }
        const auto listing = [&] {
            std::string entries;
            for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
                struct stat info {};
                ::lstat(entry.path().c_str(), &info);
                entries += entry.path().filename().string() + " " + std::to_string(info.st_mode) +
                           " " + testsupport::ReadFile(entry.path()) + "\n";
            }
            return entries;
        };
        const std::string before = listing();
        for (int call = 0; call < 3; ++call) {
            const int result = call == 0   ? port->In(PortioStatusRegister)
                               : call == 1 ? port->Out(PortioDataRegister, 12)
                                           : port->Out(PortioControlRegister, 7);
            EXPECT_EQ(result, -1) << "call " << call;
            const std::string reason = port->Error();
            for (const std::string& name : c.named) {
                EXPECT_NE(reason.find(name), std::string::npos) << reason;
            }
            EXPECT_NE(reason.find(path), std::string::npos) << reason;
            EXPECT_TRUE(IsUtf8(reason)) << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
        }
        EXPECT_EQ(listing(), before);
        // Once the file is gone, the next call makes a new, dark board.
        fs::remove_all(path);
        EXPECT_EQ(ReadGroups(*port), std::make_pair(0, 4)) << port->Error();
        fs::remove(path + ".bueno", ignored);
    }

    // A session whose folder is missing: the folder is named, nothing is made.
    const std::string missing = path + ".no-existe";
    EXPECT_EQ(InAnotherProgram([&] {
                  ::setenv("XDG_RUNTIME_DIR", missing.c_str(), 1);
                  const Loaded port(SIMULATED_LIBRARY);
                  return port.In(PortioStatusRegister) == -1 &&
                                 port.Error().find("la carpeta no existe") != std::string::npos &&
                                 port.Error().find(missing) != std::string::npos
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_FALSE(fs::exists(missing));
}

} // namespace
