// libportio.so for the simulated board: one board for the user's session,
// shared by every program of the user that loads this library (SharedBoard),
// kept in memory and never on disk.
//
// Each program has a control register of its own, as if it drove pins 14 and
// 16 itself: the group another program selects never reaches this program's
// status reads, and its latch opens only on this program's writes. The data
// lines and the board are everyone's. So each program's register sequences stay
// whole whatever the others do: the console's read (control 3, status, control
// 1, status) and a program's write (control 7, data) need no lock across calls.
#include "SharedBoard.h"
#include "SimulatedBoard.h"
#include "portio.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

using simulated::BoardState;
using simulated::SimulatedBoard;

std::mutex guard;
simulated::SharedBoard board;
int control = 0; // this program's control register
// Room for the longest message, which names the board's file twice.
thread_local char lastError[3072] = "";

int Fail(const std::string& reason) {
    std::snprintf(lastError, sizeof lastError, "%s", reason.c_str());
    return -1;
}

int NoSuchRegister(int port) {
    std::snprintf(lastError, sizeof lastError,
                  "la placa simulada no tiene el registro %d; sus registros son %d (datos), "
                  "%d (estado) y %d (control)",
                  port, PortioDataRegister, PortioStatusRegister, PortioControlRegister);
    return -1;
}

bool IsRegister(int port) {
    return port == SimulatedBoard::DataPort || port == SimulatedBoard::StatusPort ||
           port == SimulatedBoard::ControlPort;
}

} // namespace

extern "C" int PortOut(int port, int value) {
    if (port == SimulatedBoard::StatusPort) {
        std::snprintf(lastError, sizeof lastError,
                      "el registro %d (estado) de la placa simulada solo se puede leer",
                      PortioStatusRegister);
        return -1;
    }
    // The real port refuses these too, so a program tried on the simulated
    // board behaves the same on the real one.
    if (port == SimulatedBoard::ControlPort && (value < 0 || value > 15)) {
        std::snprintf(lastError, sizeof lastError,
                      "el valor %d no es válido para el registro %d (control): solo se "
                      "escriben los bits 0 a 3, valores de 0 a 15",
                      value, PortioControlRegister);
        return -1;
    }
    if (!IsRegister(port)) {
        return NoSuchRegister(port);
    }
    std::lock_guard<std::mutex> lock(guard);
    std::string error;
    if (!board.Open(error)) {
        return Fail(error);
    }
    const int written = port == SimulatedBoard::ControlPort ? value : control;
    // A control value with pin 16 low changes nothing the board sees.
    if (port == SimulatedBoard::DataPort || simulated::LatchOpen(written)) {
        const bool done = board.Update(
            [&](BoardState state, std::int64_t nowMs) {
                if (port == SimulatedBoard::DataPort) {
                    state.data = static_cast<std::uint8_t>(value);
                }
                return simulated::Settle(state, written, nowMs);
            },
            error);
        if (!done) {
            return Fail(error);
        }
    }
    control = written;
    return 0;
}

extern "C" int PortIn(int port) {
    if (!IsRegister(port)) {
        return NoSuchRegister(port);
    }
    std::lock_guard<std::mutex> lock(guard);
    std::string error;
    if (!board.Open(error)) {
        return Fail(error);
    }
    if (port == SimulatedBoard::ControlPort) {
        return control;
    }
    BoardState state;
    if (!board.Read(state, error)) {
        return Fail(error);
    }
    return port == SimulatedBoard::DataPort
               ? state.data
               : simulated::Status(state, control, simulated::MonotonicMs());
}

extern "C" const char* PortError(void) {
    return lastError;
}
