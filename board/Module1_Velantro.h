// The interface board of the model traffic light, as seen through the PC's
// parallel port: its registers, the control values, and the two operations the
// console uses. Nothing here keeps state between calls; the port keeps what was
// last written. Every failure of the port library is thrown as PortLibraryError
// and handled by nobody here.
#pragma once

#include "portio.h"

#include <cstdint>

namespace Module1_Velantro {

// Registers of the standard parallel port, as the port library numbers them.
constexpr int DataPort = PortioDataRegister;
constexpr int StatusPort = PortioStatusRegister;
constexpr int ControlPort = PortioControlRegister;

// Control register values. Bits 0, 1 and 3 are inverted by the port hardware,
// bit 2 (pin 16) is not: OutputControl raises pin 16, which latches the data
// lines on the board; the two group values differ by pin 14 alone.
constexpr int OutputControl = 7;
constexpr int FirstGroupControl = 3;
constexpr int SecondGroupControl = 1;

// Output value bits.
constexpr std::int16_t ManualMode = 8;
constexpr std::int16_t AutonomousMode = 16;

// Lamp codes, one bit each. Set once by the console's start-up and read by the
// lamp commands; the board operations do not use them.
extern std::int16_t RedCode;
extern std::int16_t AmberCode;
extern std::int16_t GreenCode;

// Puts one output value on the board: control 7, then the value on the data
// register, which holds its low 8 bits.
void WriteOutputs(std::int16_t value);

// The two raw status readings of one read sequence: control 3, status,
// control 1, status. Only the low 16 bits of what the library returns are
// kept, as signed 16-bit readings.
struct StatusReadings {
    std::int16_t first;
    std::int16_t second;
};
StatusReadings ReadStatus();

// The three results of a read sequence: the first group, the second group,
// and both as one byte with the second group in the high four bits.
struct InputCodes {
    std::int32_t InputCode;
    std::int32_t SecondCode;
    std::int32_t CombinedCode;
};
InputCodes DecodeReadings(const StatusReadings& readings);

// Reads both input groups with ReadStatus and decodes them. The results are
// assigned only after both readings succeeded, so a failure leaves them as
// they were.
void ReadInputs(std::int32_t& InputCode, std::int32_t& SecondCode, std::int32_t& CombinedCode);

// One input group from a status reading: status bits 3 to 6, complemented, so
// a bit is 1 when its input line is held low. Other bits have no effect.
std::int32_t DecodeGroup(std::int16_t reading);

// What an input code says about the lamps. A code and its complement within
// three bits report the same lamp; codes 8 to 15 (pin 10 low) report nothing.
enum class LampReport { Green, Amber, Red, Dark, None };
LampReport ReportedLamp(std::int32_t InputCode);

} // namespace Module1_Velantro
