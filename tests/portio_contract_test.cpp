// What every port library the build makes promises in portio.h, checked on the
// built shared objects as a program sees them: loaded with dlopen. One row per
// library; a new port library is one more row.
#include "HarnessProcess.h"
#include "portio.h"

#include <cstdlib>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

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

TEST(PortioContract, ExportsExactlyThePortFunctions) {
    for (const Library& library : Libraries) {
        EXPECT_EQ(ExportedSymbols(library.path),
                  (std::set<std::string>{"PortError", "PortIn", "PortOut"}))
            << library.name;
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

} // namespace
