// libportio.so for students' programs that choose their board when they start:
// the simulated board or the real port, as the environment variable
// VELANTRO_PLACA says ("simulada", the default, or "real"). At the first call
// it loads libportio.so from that board's program directory, a sibling of this
// library's own directory (or below VELANTRO_CARPETAS), says once on stderr
// which board the program uses, and from then on hands every call to it. A
// load that fails makes the call return -1 with the reason, and the next call
// tries again, as when a port cannot be opened.
#include "portio.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct Board {
    const char* name;      // the value of VELANTRO_PLACA
    const char* directory; // its program directory
    const char* words;     // what it is, for the reports
};

const Board Boards[] = {
    {"simulada", "simulado", "la placa simulada"},
    {"real", "real", "el puerto paralelo de verdad"},
};

// The chosen library, kept loaded until this one is unloaded.
class Chosen {
public:
    Chosen() = default;
    Chosen(const Chosen&) = delete;
    Chosen& operator=(const Chosen&) = delete;
    ~Chosen() {
        if (handle != nullptr) {
            dlclose(handle);
        }
    }

    void* handle = nullptr;
    decltype(&::PortOut) portOut = nullptr;
    decltype(&::PortIn) portIn = nullptr;
    decltype(&::PortError) portError = nullptr;
    std::string path;
};

std::mutex guard;
Chosen chosen;
// A plain array: a thread_local with a destructor would be called at the
// thread's exit, after a dlclose may have unmapped this library.
thread_local char lastError[512] = "";

// Keeps text as the reason of this thread's last failure, cut at a character
// boundary if it is too long.
void SetError(const std::string& text) {
    std::size_t length = std::min(text.size(), sizeof lastError - 1);
    while (length < text.size() && length > 0 &&
           (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::memcpy(lastError, text.data(), length);
    lastError[length] = '\0';
}

// The directory that holds the program directories: VELANTRO_CARPETAS, else
// the one above this library's own directory.
std::string ProgramDirectories() {
    const char* set = std::getenv("VELANTRO_CARPETAS");
    if (set != nullptr && *set != '\0') {
        return set;
    }
    Dl_info info{};
    // A function of internal linkage: no other library's symbol can stand in
    // for it.
    if (dladdr(reinterpret_cast<void*>(&ProgramDirectories), &info) == 0 ||
        info.dli_fname == nullptr) {
        return "/usr/lib/velantro";
    }
    std::string path = info.dli_fname;
    for (int level = 0; level < 2; ++level) {
        const auto slash = path.rfind('/');
        path = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    }
    return path;
}

// The board VELANTRO_PLACA names, or nullptr (and the reason) if it names none.
const Board* ChosenBoard() {
    const char* name = std::getenv("VELANTRO_PLACA");
    if (name == nullptr || *name == '\0') {
        return &Boards[0];
    }
    for (const Board& board : Boards) {
        if (std::strcmp(name, board.name) == 0) {
            return &board;
        }
    }
    SetError(std::string("la variable de entorno VELANTRO_PLACA vale «") + name +
             "»: tiene que ser «simulada» (la placa simulada, la que se usa sin la variable) o "
             "«real» (el puerto paralelo de verdad)");
    return nullptr;
}

// Loads the chosen board's library if it is not loaded yet. False, with the
// reason in lastError, if it cannot be loaded.
bool Load() {
    if (chosen.handle != nullptr) {
        return true;
    }
    const Board* board = ChosenBoard();
    if (board == nullptr) {
        return false;
    }
    const std::string path = ProgramDirectories() + "/" + board->directory + "/libportio.so";
    if (access(path.c_str(), F_OK) != 0) {
        SetError(std::string("no está la biblioteca de ") + board->words + ", " + path +
                 ": ¿está instalado Velantro? (VELANTRO_CARPETAS dice dónde están sus "
                 "carpetas de programa)");
        return false;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetError(std::string("no se puede cargar la biblioteca de ") + board->words + ", " + path +
                 ": " + dlerror());
        return false;
    }
    auto* portOut = reinterpret_cast<decltype(&::PortOut)>(dlsym(handle, "PortOut"));
    auto* portIn = reinterpret_cast<decltype(&::PortIn)>(dlsym(handle, "PortIn"));
    if (portOut == nullptr || portIn == nullptr) {
        dlclose(handle);
        SetError("la biblioteca " + path + " no es una biblioteca de puerto: le falta " +
                 (portOut == nullptr ? "PortOut" : "PortIn"));
        return false;
    }
    chosen.handle = handle;
    chosen.portOut = portOut;
    chosen.portIn = portIn;
    chosen.portError = reinterpret_cast<decltype(&::PortError)>(dlsym(handle, "PortError"));
    chosen.path = path;
    std::fprintf(stderr, "portio: se usa %s (%s)%s\n", board->words, path.c_str(),
                 board == &Boards[0] ? "; VELANTRO_PLACA=real usa el puerto paralelo de verdad"
                                     : "");
    return true;
}

// The chosen library's function, or nullptr if it cannot be loaded.
template <typename Function> Function Bound(Function Chosen::*function) {
    const std::lock_guard<std::mutex> lock(guard);
    return Load() ? chosen.*function : nullptr;
}

// A call that failed in the chosen library: its reason becomes ours.
int Failed() {
    const char* reason = chosen.portError != nullptr ? chosen.portError() : nullptr;
    SetError(reason != nullptr && *reason != '\0'
                 ? reason
                 : "la biblioteca " + chosen.path + " no da el motivo");
    return -1;
}

} // namespace

extern "C" int PortOut(int port, int value) {
    const auto portOut = Bound(&Chosen::portOut);
    if (portOut == nullptr) {
        return -1;
    }
    return portOut(port, value) == -1 ? Failed() : 0;
}

extern "C" int PortIn(int port) {
    const auto portIn = Bound(&Chosen::portIn);
    if (portIn == nullptr) {
        return -1;
    }
    const int value = portIn(port);
    return value == -1 ? Failed() : value;
}

extern "C" const char* PortError(void) {
    return lastError;
}
