// Checks the built libportio.so as the console sees it: loaded with dlopen.
#include <dlfcn.h>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <set>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

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

TEST(PortioLibrary, ExportsOnlyThePortFunctions) {
    EXPECT_EQ(ExportedSymbols(PORTIO_LIBRARY),
              (std::set<std::string>{"PortError", "PortIn", "PortOut"}));
}

TEST(PortioLibrary, ReportsTheMissingPortInSpanish) {
    if (std::filesystem::exists("/proc/sys/dev/parport")) {
        GTEST_SKIP() << "this machine has a parallel port";
    }
    unsetenv("PORTIO_DEVICE");
    const std::unique_ptr<void, int (*)(void*)> library(
        dlopen(PORTIO_LIBRARY, RTLD_NOW | RTLD_LOCAL), dlclose);
    ASSERT_NE(library, nullptr) << dlerror();
    auto portOut = reinterpret_cast<int (*)(int, int)>(dlsym(library.get(), "PortOut"));
    auto portError = reinterpret_cast<const char* (*)()>(dlsym(library.get(), "PortError"));
    ASSERT_TRUE(portOut && portError);

    const char* fetchedBefore = portError();
    EXPECT_EQ(portOut(888, 0), -1);
    std::string message = portError();
    EXPECT_EQ(message, fetchedBefore);
    EXPECT_NE(message.find("puerto paralelo /dev/parport0"), std::string::npos) << message;
    EXPECT_EQ(portOut(890, 0x20), -1);
    EXPECT_NE(std::string(portError()).find("registro de control"), std::string::npos);
}

} // namespace
