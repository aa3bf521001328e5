#include "Module1_Velantro.h"

#include "PortLibrary.h"

namespace Module1_Velantro {

std::int16_t RedCode = 0;
std::int16_t AmberCode = 0;
std::int16_t GreenCode = 0;

void WriteOutputs(std::int16_t value) {
    // OutputControl must stand while the data register is written: pin 16
    // high is what makes the board take the data lines.
    PortOut(ControlPort, OutputControl);
    PortOut(DataPort, value);
}

std::int32_t DecodeGroup(std::int16_t reading) {
    const std::int32_t group = (reading & 120) / 8;
    return ~group & 15;
}

StatusReadings ReadStatus() {
    // The selecting control value stands while its status is read.
    PortOut(ControlPort, FirstGroupControl);
    const auto first = static_cast<std::int16_t>(PortIn(StatusPort));
    PortOut(ControlPort, SecondGroupControl);
    const auto second = static_cast<std::int16_t>(PortIn(StatusPort));
    return {first, second};
}

void ReadInputs(std::int32_t& InputCode, std::int32_t& SecondCode, std::int32_t& CombinedCode) {
    // Both readings are taken before either is decoded.
    const InputCodes codes = DecodeReadings(ReadStatus());
    InputCode = codes.InputCode;
    SecondCode = codes.SecondCode;
    CombinedCode = codes.CombinedCode;
}

InputCodes DecodeReadings(const StatusReadings& readings) {
    const std::int32_t first = DecodeGroup(readings.first);
    const std::int32_t second = DecodeGroup(readings.second);
    return {first, second, second * 16 | first};
}

LampReport ReportedLamp(std::int32_t InputCode) {
    switch (InputCode) {
    case 3:
    case 4:
        return LampReport::Green;
    case 5:
    case 2:
        return LampReport::Amber;
    case 6:
    case 1:
        return LampReport::Red;
    case 0:
    case 7:
        return LampReport::Dark;
    default:
        return LampReport::None;
    }
}

} // namespace Module1_Velantro
