#include "SimulatedBoard.h"

namespace simulated {

namespace {

constexpr std::uint8_t LatchEnable = 0x04; // control bit 2: pin 16 high
constexpr std::uint8_t GroupSelect = 0x02; // control bit 1: pin 14 low
constexpr std::uint8_t ManualBit = 0x08;
constexpr std::uint8_t AutonomousBit = 0x10;

// Status bits of pins 15, 13, 12 and 10.
constexpr int Pin15 = 0x08;
constexpr int Pin13 = 0x10;
constexpr int Pin12 = 0x20;
constexpr int Pin10 = 0x40;

} // namespace

void SimulatedBoard::Latch(std::int64_t nowMs) {
    if ((control_ & LatchEnable) == 0) {
        return;
    }
    if ((data_ & AutonomousBit) != 0 && (latched_ & AutonomousBit) == 0) {
        autonomousSinceMs_ = nowMs;
    }
    latched_ = data_;
}

bool SimulatedBoard::Write(int port, int value, std::int64_t nowMs) {
    switch (port) {
    case DataPort:
        data_ = static_cast<std::uint8_t>(value);
        break;
    case ControlPort:
        control_ = static_cast<std::uint8_t>(value);
        break;
    default:
        return false;
    }
    // The latch is transparent while pin 16 is high.
    Latch(nowMs);
    return true;
}

int SimulatedBoard::Lamps(std::int64_t nowMs) const {
    if ((latched_ & AutonomousBit) != 0) {
        const std::int64_t cycle = GreenMs + AmberMs + RedMs;
        std::int64_t phase = (nowMs - autonomousSinceMs_) % cycle;
        if (phase < 0) {
            phase += cycle;
        }
        if (phase < GreenMs) {
            return Green;
        }
        return phase < GreenMs + AmberMs ? Amber : Red;
    }
    if ((latched_ & ManualBit) != 0) {
        return latched_ & (Red | Amber | Green);
    }
    return 0;
}

int SimulatedBoard::Read(int port, std::int64_t nowMs) const {
    switch (port) {
    case DataPort:
        return data_;
    case ControlPort:
        return control_;
    case StatusPort:
        break;
    default:
        return -1;
    }
    // Every line the board drives low reads as 0; the others float high.
    int low = 0;
    if ((control_ & GroupSelect) != 0) {
        const int lamps = Lamps(nowMs);
        low |= (lamps & Red) != 0 ? Pin15 : 0;
        low |= (lamps & Amber) != 0 ? Pin13 : 0;
        low |= (lamps & Green) != 0 ? Pin12 : 0;
    } else {
        const bool autonomous = (latched_ & AutonomousBit) != 0;
        low |= !autonomous && (latched_ & ManualBit) != 0 ? Pin15 : 0;
        low |= autonomous ? Pin13 : 0;
        low |= Pin12;
    }
    return (Pin15 | Pin13 | Pin12 | Pin10) & ~low;
}

} // namespace simulated
