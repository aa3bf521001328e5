// The bridge's firmware on the simulated ATmega328P, spoken to over its
// pseudo-terminal with the line protocol, the interface board on its pins.
#include "HarnessProcess.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using puente::HarnessProcess;
using puente::SerialLine;

// The pins of the connector as the harness reports them, with a safe state
// of the board's status lines.
constexpr const char* SafeStatePins = "pins 2-9=00 1=1 14=1 16=1 17=0 15=1 13=1 12=0 10=1 11=1";

HarnessProcess::Options Board(bool board, bool reportPins, long unplugAfterMs = -1) {
    HarnessProcess::Options options;
    options.board = board;
    options.reportPins = reportPins;
    options.unplugAfterMs = unplugAfterMs;
    return options;
}

struct Bridge {
    explicit Bridge(const HarnessProcess::Options& options = {})
        : harness(options), line(harness.Pty()) {}
    HarnessProcess harness;
    SerialLine line;
};

TEST(PuenteFirmware, GreetsWithTheProtocolAndItsVersion) {
    Bridge bridge;
    ASSERT_TRUE(bridge.line.IsOpen()) << bridge.harness.Pty();
    EXPECT_EQ(bridge.line.Ask("?"), PUENTE_GREETING_PREFIX VELANTRO_VERSION);
    EXPECT_EQ(bridge.line.Ask("?\r"), PUENTE_GREETING_PREFIX VELANTRO_VERSION);
}

// Before any byte has come: data 0, control 0x0C, status pull-ups on. With the
// board, its second group (pin 14 high) says present; without it every status
// line floats high.
TEST(PuenteFirmware, StartsInTheSafeState) {
    Bridge bridge(Board(true, true));
    std::string pins;
    do {
        pins = bridge.harness.NextPins();
    } while (!pins.empty() && pins.find(" 16=1 ") == std::string::npos);
    EXPECT_EQ(pins, SafeStatePins);
    EXPECT_EQ(bridge.harness.SettledPins(), SafeStatePins);
    EXPECT_EQ(bridge.line.Ask("d"), "D00");
    EXPECT_EQ(bridge.line.Ask("c"), "C0C");
    EXPECT_EQ(bridge.line.Ask("s"), "S58");

    Bridge alone(Board(false, false));
    EXPECT_EQ(alone.line.Ask("s"), "S78");
    EXPECT_EQ(alone.line.Ask("C00"), "K");
    EXPECT_EQ(alone.line.Ask("s"), "S78");
}

TEST(PuenteFirmware, ReadsBackWhatWasWritten) {
    struct Case {
        std::string write, read, reply;
    };
    const std::vector<Case> cases = {
        {"D5A", "d", "D5A"}, {"Da5", "d", "DA5"}, {"DFF", "d", "DFF"}, {"D00", "d", "D00"},
        {"C0F", "c", "C0F"}, {"C05", "c", "C05"}, {"Cf3", "c", "C03"}, {"C00", "c", "C00"},
    };
    Bridge bridge;
    for (const Case& c : cases) {
        EXPECT_EQ(bridge.line.Ask(c.write), "K") << c.write;
        EXPECT_EQ(bridge.line.Ask(c.read), c.reply) << c.write;
    }
}

// The wiring: data bits 0-7 on pins 2-9 across both of the chip's ports;
// control bits 0, 1 and 3 inverted at pins 1, 14 and 17, bit 2 straight at 16.
TEST(PuenteFirmware, PutsRegistersOnTheConnectorsPins) {
    struct Case {
        std::string write, pins;
    };
    const std::vector<Case> cases = {
        {"C00", "2-9=00 1=1 14=1 16=0 17=1"}, {"C0F", "2-9=00 1=0 14=0 16=1 17=0"},
        {"C05", "2-9=00 1=0 14=1 16=1 17=1"}, {"C0A", "2-9=00 1=1 14=0 16=0 17=0"},
        {"D01", "2-9=01 1=1 14=0 16=0 17=0"}, {"D40", "2-9=40 1=1 14=0 16=0 17=0"},
        {"D80", "2-9=80 1=1 14=0 16=0 17=0"}, {"DA5", "2-9=A5 1=1 14=0 16=0 17=0"},
    };
    Bridge bridge(Board(false, true));
    for (const Case& c : cases) {
        ASSERT_EQ(bridge.line.Ask(c.write), "K") << c.write;
        const std::string pins = bridge.harness.SettledPins();
        EXPECT_EQ(pins.substr(0, pins.find(" 15=")), "pins " + c.pins) << c.write;
    }
}

// The board's answers through the status register: each row writes data with
// pin 16 high (C04: second group) and reads both groups (C06 selects the
// first with pin 14 low). A lit lamp pulls 15 (red), 13 (amber) or 12 (green)
// low; in the second group manual pulls 15 low, autonomous 13, and 12 is low
// for a board present.
TEST(PuenteFirmware, ReadsTheBoardsStatusGroups) {
    struct Case {
        const char* what;
        std::string data, first, second;
    };
    const std::vector<Case> cases = {
        {"manual red", "D09", "S70", "S50"},   {"manual amber", "D0A", "S68", "S50"},
        {"manual green", "D0C", "S58", "S50"}, {"manual dark", "D08", "S78", "S50"},
        {"off", "D00", "S78", "S58"},          {"autonomous, green first", "D10", "S58", "S48"},
    };
    Bridge bridge;
    for (const Case& c : cases) {
        EXPECT_EQ(bridge.line.Ask("C04"), "K");
        EXPECT_EQ(bridge.line.Ask(c.data), "K");
        EXPECT_EQ(bridge.line.Ask("C06"), "K");
        EXPECT_EQ(bridge.line.Ask("s"), c.first) << c.what;
        EXPECT_EQ(bridge.line.Ask("C04"), "K");
        EXPECT_EQ(bridge.line.Ask("s"), c.second) << c.what;
        EXPECT_EQ(bridge.line.Ask("D00"), "K");
    }
}

// The board takes the data lines only while pin 16 is high.
TEST(PuenteFirmware, TheBoardLatchesOnlyWhilePin16IsHigh) {
    Bridge bridge;
    EXPECT_EQ(bridge.line.Ask("C02"), "K"); // pin 16 low, first group
    EXPECT_EQ(bridge.line.Ask("D09"), "K");
    EXPECT_EQ(bridge.line.Ask("s"), "S78");
    EXPECT_EQ(bridge.line.Ask("C06"), "K"); // pin 16 high
    EXPECT_EQ(bridge.line.Ask("s"), "S70");
    EXPECT_EQ(bridge.line.Ask("C02"), "K");
    EXPECT_EQ(bridge.line.Ask("D0C"), "K");
    EXPECT_EQ(bridge.line.Ask("s"), "S70");
}

// Autonomous mode runs the board's own cycle in the chip's simulated time:
// green, amber, red, green again (3 s, 1 s, 3 s).
TEST(PuenteFirmware, TheBoardCyclesOnItsOwnInAutonomousMode) {
    Bridge bridge;
    EXPECT_EQ(bridge.line.Ask("C04"), "K");
    EXPECT_EQ(bridge.line.Ask("D10"), "K");
    EXPECT_EQ(bridge.line.Ask("C06"), "K");
    std::vector<std::string> seen;
    for (int poll = 0; poll < 300 && seen.size() < 4; ++poll) {
        const std::string status = bridge.line.Ask("s");
        if (seen.empty() || seen.back() != status) {
            seen.push_back(status);
        }
        usleep(100000);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"S58", "S68", "S70", "S58"}));
}

TEST(PuenteFirmware, AnswersEveryOtherLineWithAnError) {
    const std::vector<std::string> bad = {
        "x",
        "S",
        "D",
        "D5",
        "D5G",
        "DG5",
        "D123",
        "C",
        "C1",
        "d0",
        "?x",
        " d",
        "K",
        "0123456789ABCDEF",
        std::string(40, 'D'),
    };
    Bridge bridge;
    for (const std::string& line : bad) {
        EXPECT_EQ(bridge.line.Ask(line), "E") << line;
        EXPECT_EQ(bridge.line.Ask("c"), "C0C") << "after " << line;
    }
    // The longest line still read as a request, one with '\r's, and empty
    // lines, which get no reply.
    EXPECT_EQ(bridge.line.Ask(std::string(PUENTE_MAX_LINE, 'x')), "E");
    EXPECT_EQ(bridge.line.Ask("\r\rd\r"), "D00");
    ASSERT_TRUE(bridge.line.Write("\n\r\n\n"));
    EXPECT_EQ(bridge.line.Ask("d"), "D00");
}

// Requests sent together are answered in order, none lost.
TEST(PuenteFirmware, AnswersRequestsInOrder) {
    Bridge bridge;
    std::string requests;
    std::vector<std::string> expected;
    for (int value = 0; value < 8; ++value) {
        const std::string hex =
            std::string("0123456789ABCDEF").substr(static_cast<std::size_t>(value), 1);
        requests.append("D3").append(hex).append("\nd\nC0").append(hex).append("\nc\n");
        expected.insert(expected.end(), {"K", "D3" + hex, "K", "C0" + hex});
    }
    ASSERT_LE(requests.size(), static_cast<std::size_t>(2 * PUENTE_RECEIVE_BUFFER));
    // Halves, each within the firmware's buffer.
    ASSERT_TRUE(bridge.line.Write(requests.substr(0, requests.size() / 2)));
    std::vector<std::string> replies;
    for (std::size_t i = 0; i < expected.size() / 2; ++i) {
        replies.push_back(bridge.line.ReadLine());
    }
    ASSERT_TRUE(bridge.line.Write(requests.substr(requests.size() / 2)));
    for (std::size_t i = expected.size() / 2; i < expected.size(); ++i) {
        replies.push_back(bridge.line.ReadLine());
    }
    EXPECT_EQ(replies, expected);
}

// Pulling the cable ends the line for whoever holds it: the rest of a read
// is the end of the file, and writes fail.
TEST(PuenteHarness, UnpluggingEndsTheLine) {
    Bridge bridge;
    ASSERT_EQ(bridge.line.Ask("?"), PUENTE_GREETING_PREFIX VELANTRO_VERSION);
    ASSERT_TRUE(bridge.harness.Unplug());
    EXPECT_EQ(bridge.line.ReadLine(), "<closed>");
    EXPECT_EQ(bridge.line.Ask("s"), "<closed>");

    Bridge timed(Board(true, false, 300));
    EXPECT_EQ(timed.line.Ask("?"), PUENTE_GREETING_PREFIX VELANTRO_VERSION);
    EXPECT_TRUE(timed.harness.WaitForExit(10000));
    EXPECT_EQ(timed.line.ReadLine(), "<closed>");
}

} // namespace
