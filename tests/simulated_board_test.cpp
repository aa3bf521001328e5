// The simulated board as the console's write and read sequences see it.
#include "Module1_Velantro.h"
#include "SimulatedBoard.h"

#include <gtest/gtest.h>

using simulated::SimulatedBoard;

namespace {

// The console's write sequence at time now.
void Write(SimulatedBoard& board, int value, std::int64_t now) {
    board.Write(Module1_Velantro::ControlPort, Module1_Velantro::OutputControl, now);
    board.Write(Module1_Velantro::DataPort, value, now);
}

// The console's read sequence, decoded: {InputCode, SecondCode}.
std::pair<int, int> Read(SimulatedBoard& board, std::int64_t now) {
    board.Write(Module1_Velantro::ControlPort, Module1_Velantro::FirstGroupControl, now);
    const int first = board.Read(Module1_Velantro::StatusPort, now);
    board.Write(Module1_Velantro::ControlPort, Module1_Velantro::SecondGroupControl, now);
    const int second = board.Read(Module1_Velantro::StatusPort, now);
    EXPECT_EQ(first & 0x87, 0) << "status bits 0-2 and Busy read 0";
    EXPECT_EQ(second & 0x87, 0);
    return {Module1_Velantro::DecodeGroup(static_cast<std::int16_t>(first)),
            Module1_Velantro::DecodeGroup(static_cast<std::int16_t>(second))};
}

} // namespace

TEST(SimulatedBoard, StartsDarkAndFollowsTheOutputValues) {
    struct Case {
        int value, inputCode, secondCode;
    };
    // SecondCode: bit 0 manual, bit 1 autonomous, bit 2 board present.
    const Case cases[] = {{0, 0, 4}, {8, 0, 5},  {9, 1, 5},  {10, 2, 5}, {12, 4, 5},
                          {7, 0, 4}, {15, 7, 5}, {16, 4, 6}, {24, 4, 6}, {0, 0, 4}};
    SimulatedBoard board;
    EXPECT_EQ(Read(board, 0), std::make_pair(0, 4));
    std::int64_t now = 1000;
    for (const Case& c : cases) {
        Write(board, c.value, now);
        EXPECT_EQ(Read(board, now + 1), std::make_pair(c.inputCode, c.secondCode)) << c.value;
        now += 10;
    }
}

TEST(SimulatedBoard, TakesDataOnlyWhilePin16IsHigh) {
    SimulatedBoard board;
    Write(board, 9, 0);
    // A data write under a group-select control value does not reach the lamps...
    board.Write(Module1_Velantro::ControlPort, Module1_Velantro::FirstGroupControl, 5);
    board.Write(Module1_Velantro::DataPort, 12, 5);
    EXPECT_EQ(Read(board, 6).first, 1);
    EXPECT_EQ(board.Read(Module1_Velantro::DataPort, 6), 12) << "the port's register has it";
    // ...until pin 16 goes high again, when the latch takes the data lines.
    board.Write(Module1_Velantro::ControlPort, Module1_Velantro::OutputControl, 7);
    EXPECT_EQ(Read(board, 8).first, 4);
}

TEST(SimulatedBoard, AutonomousModeCyclesFromTheMomentItIsWritten) {
    constexpr std::int64_t StartMs = 50'000;
    constexpr std::int64_t GreenMs = SimulatedBoard::GreenMs, AmberMs = SimulatedBoard::AmberMs,
                           RedMs = SimulatedBoard::RedMs, CycleMs = GreenMs + AmberMs + RedMs;
    const std::pair<std::int64_t, int> timeline[] = {
        {0, 4},
        {GreenMs - 1, 4},
        {GreenMs, 2},
        {GreenMs + AmberMs - 1, 2},
        {GreenMs + AmberMs, 1},
        {CycleMs - 1, 1},
        {CycleMs, 4},
        {5 * CycleMs + GreenMs, 2},
    };
    SimulatedBoard board;
    Write(board, 16, StartMs);
    for (const auto& [after, code] : timeline) {
        EXPECT_EQ(Read(board, StartMs + after).first, code) << after;
    }
    // Writing 16 again keeps the cycle going; leaving and coming back restarts it.
    Write(board, 16, StartMs + GreenMs + 10);
    EXPECT_EQ(Read(board, StartMs + GreenMs + 20).first, 2);
    Write(board, 0, StartMs + GreenMs + 30);
    Write(board, 16, StartMs + GreenMs + 40);
    EXPECT_EQ(Read(board, StartMs + GreenMs + 50).first, 4);
}

TEST(SimulatedBoard, RefusesRegistersThePortDoesNotHave) {
    SimulatedBoard board;
    EXPECT_FALSE(board.Write(891, 1, 0));
    EXPECT_EQ(board.Read(887, 0), -1);
}
