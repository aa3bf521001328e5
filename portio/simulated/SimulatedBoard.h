// A model of the traffic light's interface board on a parallel port, so that
// the console runs on machines without one.
//
// Outputs. The board takes the data lines into its latch only while pin 16 is
// high (control register bit 2 set); a data write under another control value
// reaches the port's data register but not the board. Latched bits 0 to 2 are
// the red, amber and green lamps, bit 3 manual mode (the lamps follow bits 0 to
// 2), bit 4 autonomous mode (the board cycles the lamps itself and ignores bits
// 0 to 3). With neither mode on, all lamps are dark.
//
// The autonomous cycle starts with green when bit 4 is latched after being 0,
// and runs from a monotonic clock: green 3 s, amber 1 s, red 3 s, then green
// again.
//
// Inputs. Pin 14 (control bit 1, inverted by the port) selects which group the
// board drives on pins 15, 13, 12 and 10 (status bits 3 to 6, read as they
// are; a line held low means "yes"):
//   pin 14 low  (first group):  15 red lit, 13 amber lit, 12 green lit, 10 high;
//   pin 14 high (second group): 15 manual mode on, 13 autonomous mode on,
//                               12 held low (board present), 10 high.
// Status bits 0 to 2 read 0; the board leaves pin 11 high, so Busy (bit 7,
// inverted by the port) reads 0.
#pragma once

#include "portio.h"

#include <cstdint>

namespace simulated {

class SimulatedBoard {
public:
    static constexpr int DataPort = PortioDataRegister;
    static constexpr int StatusPort = PortioStatusRegister;
    static constexpr int ControlPort = PortioControlRegister;

    static constexpr std::int64_t GreenMs = 3000;
    static constexpr std::int64_t AmberMs = 1000;
    static constexpr std::int64_t RedMs = 3000;

    enum Lamp : int { Red = 1, Amber = 2, Green = 4 };

    // Each call takes the current time in milliseconds of a monotonic clock.
    // Returns false for a register the port does not have.
    bool Write(int port, int value, std::int64_t nowMs);
    // Returns -1 for a register the port does not have.
    int Read(int port, std::int64_t nowMs) const;

    // The lit lamps as a set of Lamp bits.
    int Lamps(std::int64_t nowMs) const;

private:
    void Latch(std::int64_t nowMs);

    std::uint8_t data_ = 0;
    std::uint8_t control_ = 0;
    std::uint8_t latched_ = 0;
    std::int64_t autonomousSinceMs_ = 0;
};

} // namespace simulated
