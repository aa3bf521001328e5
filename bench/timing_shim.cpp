// A port library that sits between the console and another port library
// (libportio_board.so beside it) and times the console's reads, for the soak
// run. Every call is passed on unchanged. Each read sequence starts by writing
// 3 to the control register; the shim counts them, keeps the largest gap
// between two, and appends a line to the file named by VELANTRO_SOAK_LOG every
// 10 s and at exit: "<seconds> <reads> <reads in the last period> <largest gap
// ms>".
#include "portio.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct Board {
    decltype(&::PortOut) portOut = nullptr;
    decltype(&::PortIn) portIn = nullptr;
    decltype(&::PortError) portError = nullptr;
    std::string failure;

    Board() {
        Dl_info self{};
        dladdr(reinterpret_cast<void*>(&PortError), &self);
        std::string path = self.dli_fname;
        path.replace(path.rfind('/') + 1, std::string::npos, "libportio_board.so");
        // Never unloaded, so its functions stay valid after the handle is closed.
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (library == nullptr) {
            failure = std::string("no se puede cargar ") + path + ": " + dlerror();
            return;
        }
        portOut = reinterpret_cast<decltype(portOut)>(dlsym(library, "PortOut"));
        portIn = reinterpret_cast<decltype(portIn)>(dlsym(library, "PortIn"));
        portError = reinterpret_cast<decltype(portError)>(dlsym(library, "PortError"));
        dlclose(library);
    }
};

struct Timing {
    Clock::time_point start = Clock::now();
    Clock::time_point last{};
    Clock::time_point periodStart = start;
    long reads = 0;
    long periodReads = 0;
    double largestGapMs = 0;

    void Read() {
        const Clock::time_point now = Clock::now();
        if (reads > 0) {
            const double gap = std::chrono::duration<double, std::milli>(now - last).count();
            largestGapMs = gap > largestGapMs ? gap : largestGapMs;
        }
        last = now;
        ++reads;
        ++periodReads;
        if (now - periodStart >= std::chrono::seconds(10)) {
            Log(now);
        }
    }

    void Log(Clock::time_point now) {
        const char* path = std::getenv("VELANTRO_SOAK_LOG");
        if (path == nullptr) {
            return;
        }
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fprintf(log, "%.1f %ld %ld %.1f\n",
                         std::chrono::duration<double>(now - start).count(), reads, periodReads,
                         largestGapMs);
            std::fclose(log);
        }
        periodStart = now;
        periodReads = 0;
    }

    ~Timing() { Log(Clock::now()); }
};

Board& TheBoard() {
    static Board board;
    return board;
}

Timing timing;

} // namespace

extern "C" int PortOut(int port, int value) {
    Board& board = TheBoard();
    if (board.portOut == nullptr) {
        return -1;
    }
    if (port == PortioControlRegister && value == 3) {
        timing.Read();
    }
    return board.portOut(port, value);
}

extern "C" int PortIn(int port) {
    Board& board = TheBoard();
    return board.portIn != nullptr ? board.portIn(port) : -1;
}

extern "C" const char* PortError(void) {
    Board& board = TheBoard();
    return board.portError != nullptr ? board.portError() : board.failure.c_str();
}
