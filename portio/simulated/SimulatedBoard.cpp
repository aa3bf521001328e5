#include "SimulatedBoard.h"

namespace simulated {

namespace {

constexpr int LatchEnable = 0x04; // control bit 2: pin 16 high
constexpr int GroupSelect = 0x02; // control bit 1: pin 14 low
constexpr std::uint8_t ManualBit = 0x08;
constexpr std::uint8_t AutonomousBit = 0x10;

// Status bits of pins 15, 13, 12 and 10.
constexpr int Pin15 = 0x08;
constexpr int Pin13 = 0x10;
constexpr int Pin12 = 0x20;
constexpr int Pin10 = 0x40;

} // namespace

bool LatchOpen(int control) {
    return (control & LatchEnable) != 0;
}

BoardState Settle(BoardState board, int control, std::int64_t nowMs) {
    if (!LatchOpen(control)) {
        return board;
    }
    if ((board.data & AutonomousBit) != 0 && (board.latched & AutonomousBit) == 0) {
        board.autonomousSinceMs = nowMs;
    }
    board.latched = board.data;
    return board;
}

int LitLamps(const BoardState& board, std::int64_t nowMs) {
    using Lamp = SimulatedBoard::Lamp;
    if ((board.latched & AutonomousBit) != 0) {
        constexpr std::int64_t GreenMs = SimulatedBoard::GreenMs;
        constexpr std::int64_t AmberMs = SimulatedBoard::AmberMs;
        constexpr std::int64_t Cycle = GreenMs + AmberMs + SimulatedBoard::RedMs;
        std::int64_t phase = (nowMs - board.autonomousSinceMs) % Cycle;
        if (phase < 0) {
            phase += Cycle;
        }
        if (phase < GreenMs) {
            return Lamp::Green;
        }
        return phase < GreenMs + AmberMs ? Lamp::Amber : Lamp::Red;
    }
    if ((board.latched & ManualBit) != 0) {
        return board.latched & (Lamp::Red | Lamp::Amber | Lamp::Green);
    }
    return 0;
}

int Status(const BoardState& board, int control, std::int64_t nowMs) {
    using Lamp = SimulatedBoard::Lamp;
    // Every line the board drives low reads as 0; the others float high.
    int low = 0;
    if ((control & GroupSelect) != 0) {
        const int lamps = LitLamps(board, nowMs);
        low |= (lamps & Lamp::Red) != 0 ? Pin15 : 0;
        low |= (lamps & Lamp::Amber) != 0 ? Pin13 : 0;
        low |= (lamps & Lamp::Green) != 0 ? Pin12 : 0;
    } else {
        const bool autonomous = (board.latched & AutonomousBit) != 0;
        low |= !autonomous && (board.latched & ManualBit) != 0 ? Pin15 : 0;
        low |= autonomous ? Pin13 : 0;
        low |= Pin12;
    }
    return (Pin15 | Pin13 | Pin12 | Pin10) & ~low;
}

bool SimulatedBoard::Write(int port, int value, std::int64_t nowMs) {
    switch (port) {
    case DataPort:
        board_.data = static_cast<std::uint8_t>(value);
        break;
    case ControlPort:
        control_ = static_cast<std::uint8_t>(value);
        break;
    default:
        return false;
    }
    board_ = Settle(board_, control_, nowMs);
    return true;
}

int SimulatedBoard::Read(int port, std::int64_t nowMs) const {
    switch (port) {
    case DataPort:
        return board_.data;
    case ControlPort:
        return control_;
    case StatusPort:
        return Status(board_, control_, nowMs);
    default:
        return -1;
    }
}

} // namespace simulated
