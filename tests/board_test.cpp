// The board protocol against the recording port library: exact register
// traffic, decoding, and the binding's failures.
#include "Module1_Velantro.h"
#include "PortLibrary.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <bitset>
#include <string>
#include <vector>

using namespace Module1_Velantro;
using testsupport::RecordingPort;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

namespace {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { BindPortLibrary(RECORDING_LIBRARY); }
    void TearDown() override { BindPortLibrary(RECORDING_LIBRARY); }

    TempDir dir;
    RecordingPort port{dir};
};

// An independent statement of the decoding: input line k of a group is status
// bit 3 + k, and a decoded bit is 1 when its line reads 0.
int ExpectedGroup(int statusByte) {
    int group = 0;
    for (int line = 0; line < 4; ++line) {
        if (!std::bitset<16>(statusByte).test(3 + line)) {
            group |= 1 << line;
        }
    }
    return group;
}

} // namespace

TEST_F(BoardTest, WriteOutputsSetsControlThenData) {
    for (std::int16_t value : {std::int16_t{0}, std::int16_t{8}, std::int16_t{9}, std::int16_t{10},
                               std::int16_t{12}, std::int16_t{16}}) {
        port.ClearTrace();
        WriteOutputs(value);
        const std::string data = "PortOut 888 " + std::to_string(value);
        EXPECT_EQ(port.Trace(), (Lines{"PortOut 890 7", data})) << value;
    }
}

TEST_F(BoardTest, ReadInputsSelectsEachGroupBeforeReadingIt) {
    port.Script(0x58, 0x78);
    std::int32_t input = -1, second = -1, combined = -1;
    ReadInputs(input, second, combined);
    EXPECT_EQ(port.Trace(),
              (Lines{"PortOut 890 3", "PortIn 889 88", "PortOut 890 1", "PortIn 889 120"}));
    EXPECT_EQ(Module1_Velantro::PortIn(ControlPort), 1)
        << "the control register is left selecting group two";
}

TEST_F(BoardTest, ReadInputsDecodesBothGroups) {
    struct Case {
        int first, second, input, secondCode, combined;
    };
    const Case cases[] = {
        {0xFF, 0xFF, 0, 0, 0},      {0x00, 0x00, 15, 15, 255}, {0x40, 0x00, 7, 15, 247},
        {0x58, 0x78, 4, 0, 4},      {0x70, 0x48, 1, 6, 97},    {0x87, 0x07, 15, 15, 255},
        {0x1FF, 0x100, 0, 15, 240}, // bits above bit 7 of the library's answer
    };
    for (const Case& c : cases) {
        port.Script(c.first, c.second);
        std::int32_t input = -1, second = -1, combined = -1;
        ReadInputs(input, second, combined);
        EXPECT_EQ(input, c.input) << std::hex << c.first;
        EXPECT_EQ(second, c.secondCode) << std::hex << c.second;
        EXPECT_EQ(combined, c.combined) << std::hex << c.first << " " << c.second;
    }
}

TEST(Decode, EveryStatusByteMatchesTheLineRule) {
    for (int reading = 0; reading < 256; ++reading) {
        EXPECT_EQ(DecodeGroup(static_cast<std::int16_t>(reading)), ExpectedGroup(reading))
            << reading;
        EXPECT_EQ(DecodeGroup(static_cast<std::int16_t>(reading | 0x7F00)), ExpectedGroup(reading))
            << "high bits set, " << reading;
        // Status bit 6 (pin 10) alone tells a lamp report from the rest.
        EXPECT_EQ(DecodeGroup(static_cast<std::int16_t>(reading)) < 8, (reading & 0x40) != 0);
    }
}

TEST(Decode, WorkedValues) {
    const std::pair<int, int> worked[] = {{0x00, 15}, {0x07, 15}, {0x08, 14}, {0x40, 7}, {0x48, 6},
                                          {0x58, 4},  {0x68, 2},  {0x70, 1},  {0x78, 0}, {0x7F, 0},
                                          {0x87, 15}, {0xC0, 7},  {0xFF, 0}};
    for (const auto& [reading, group] : worked) {
        EXPECT_EQ(DecodeGroup(static_cast<std::int16_t>(reading)), group) << reading;
    }
}

TEST_F(BoardTest, AFailedCallStopsTheSequenceAndNamesTheRegister) {
    struct Case {
        std::string rule;
        Lines traffic;
        std::string inMessage;
    };
    const Case cases[] = {
        {"PortOut 890 3", {"PortOut 890 3 FAIL"}, "registro 890 (control)"},
        {"PortIn 889", {"PortOut 890 3", "PortIn 889 120 FAIL"}, "registro 889 (estado)"},
        {"PortOut 890 1",
         {"PortOut 890 3", "PortIn 889 120", "PortOut 890 1 FAIL"},
         "registro 890 (control)"},
        {"PortIn 889 * 1",
         {"PortOut 890 3", "PortIn 889 120", "PortOut 890 1", "PortIn 889 120 FAIL"},
         "registro 889 (estado)"},
    };
    for (const Case& c : cases) {
        port.Script(0x78);
        port.FailOn(c.rule);
        port.ClearTrace();
        std::int32_t input = 11, second = 12, combined = 13;
        try {
            ReadInputs(input, second, combined);
            ADD_FAILURE() << "no error for " << c.rule;
        } catch (const PortLibraryError& error) {
            EXPECT_NE(std::string(error.what()).find(c.inMessage), std::string::npos)
                << error.what();
            EXPECT_NE(std::string(error.what()).find("fallo simulado"), std::string::npos)
                << "the library's own reason is carried";
        }
        EXPECT_EQ(port.Trace(), c.traffic) << c.rule;
        EXPECT_EQ(input, 11) << "results keep what they held";
        EXPECT_EQ(second, 12);
        EXPECT_EQ(combined, 13);
        port.FailOn("");
    }
}

TEST_F(BoardTest, AFailedDataWriteLeavesTheControlWriteDone) {
    port.FailOn("PortOut 888");
    EXPECT_THROW(WriteOutputs(16), PortLibraryError);
    EXPECT_EQ(port.Trace(), (Lines{"PortOut 890 7", "PortOut 888 16 FAIL"}));
}

TEST_F(BoardTest, AMissingLibraryIsNamedAndLookedForAgainAtTheNextCall) {
    const std::string path = dir.File("libportio.so");
    BindPortLibrary(path);
    try {
        WriteOutputs(0);
        FAIL() << "no error without a library";
    } catch (const PortLibraryError& error) {
        EXPECT_NE(
            std::string(error.what()).find("No se puede cargar la biblioteca de puertos " + path),
            std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(port.Trace().empty());

    testsupport::CopyFile(RECORDING_LIBRARY, path);
    WriteOutputs(8);
    EXPECT_EQ(port.Trace(), (Lines{"PortOut 890 7", "PortOut 888 8"}));
}

TEST_F(BoardTest, AMissingFunctionFailsOnlyTheCallsThatNeedIt) {
    BindPortLibrary(WITHOUT_PORTIN_LIBRARY);
    EXPECT_NO_THROW(WriteOutputs(9));
    std::int32_t input = 5, second = 6, combined = 7;
    try {
        ReadInputs(input, second, combined);
        FAIL() << "no error without PortIn";
    } catch (const PortLibraryError& error) {
        EXPECT_NE(std::string(error.what()).find("no tiene la función PortIn"), std::string::npos)
            << error.what();
        EXPECT_NE(std::string(error.what()).find(WITHOUT_PORTIN_LIBRARY), std::string::npos);
    }
    EXPECT_EQ(input, 5);
    // Still missing at the next call: the lookup is tried again, not remembered as failed.
    EXPECT_THROW(ReadInputs(input, second, combined), PortLibraryError);
}

TEST(PortLibraryPath, IsBesideTheProgram) {
    const std::string path = PortLibraryPath();
    EXPECT_EQ(path, std::string(TEST_BINARY_DIR) + "/libportio.so");
}
