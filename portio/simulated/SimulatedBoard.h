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
//
// The model is split where the library shares it between programs: what the
// board sees (BoardState: the data lines, its latch, when autonomous mode
// began), one for everyone, and the control register, which each program has
// of its own, as if each drove pins 14 and 16 itself.
#pragma once

#include "portio.h"

#include <cstdint>

namespace simulated {

// What the board sees and holds: the data lines (the port's data register),
// the latched output value, and when autonomous mode was latched, in
// milliseconds of the monotonic clock.
struct BoardState {
    std::uint8_t data = 0;
    std::uint8_t latched = 0;
    std::int64_t autonomousSinceMs = 0;
};

// Whether a control value holds pin 16 high, which opens the latch.
bool LatchOpen(int control);

// The board once a program has written a register at nowMs, with control its
// control register after the write: the latch is transparent while pin 16 is
// high.
BoardState Settle(BoardState board, int control, std::int64_t nowMs);

// The lit lamps as a set of SimulatedBoard::Lamp bits.
int LitLamps(const BoardState& board, std::int64_t nowMs);

// The status register under a control value.
int Status(const BoardState& board, int control, std::int64_t nowMs);

// The port's registers and the board in one, for one program alone.
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
    int Lamps(std::int64_t nowMs) const { return LitLamps(board_, nowMs); }

private:
    std::uint8_t control_ = 0;
    BoardState board_;
};

} // namespace simulated
