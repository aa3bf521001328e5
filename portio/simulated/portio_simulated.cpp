// libportio.so for the simulated board: each process starts with a dark board
// and nothing is written to disk.
#include "SimulatedBoard.h"
#include "portio.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace {

std::mutex guard;
simulated::SimulatedBoard board;
thread_local char lastError[160] = "";

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int NoSuchRegister(int port) {
    std::snprintf(lastError, sizeof lastError,
                  "la placa simulada no tiene el registro %d; sus registros son %d (datos), "
                  "%d (estado) y %d (control)",
                  port, PortioDataRegister, PortioStatusRegister, PortioControlRegister);
    return -1;
}

} // namespace

extern "C" int PortOut(int port, int value) {
    if (port == simulated::SimulatedBoard::StatusPort) {
        std::snprintf(lastError, sizeof lastError,
                      "el registro %d (estado) de la placa simulada solo se puede leer",
                      PortioStatusRegister);
        return -1;
    }
    // The real port refuses these too, so a program tried on the simulated
    // board behaves the same on the real one.
    if (port == simulated::SimulatedBoard::ControlPort && (value < 0 || value > 15)) {
        std::snprintf(lastError, sizeof lastError,
                      "el valor %d no es válido para el registro %d (control): solo se "
                      "escriben los bits 0 a 3, valores de 0 a 15",
                      value, PortioControlRegister);
        return -1;
    }
    std::lock_guard<std::mutex> lock(guard);
    return board.Write(port, value, NowMs()) ? 0 : NoSuchRegister(port);
}

extern "C" int PortIn(int port) {
    std::lock_guard<std::mutex> lock(guard);
    const int value = board.Read(port, NowMs());
    return value >= 0 ? value : NoSuchRegister(port);
}

extern "C" const char* PortError(void) {
    return lastError;
}
