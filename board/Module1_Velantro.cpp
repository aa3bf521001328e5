#include "Module1_Velantro.h"

#include "PortLibrary.h"

namespace Module1_Velantro {

std::int16_t RedCode = 0;
std::int16_t AmberCode = 0;
std::int16_t GreenCode = 0;

void WriteOutputs(std::int16_t value)
{
    // OutputControl must stand while the data register is written: pin 16
    // high is what makes the board take the data lines.
    PortOut(ControlPort, OutputControl);
    PortOut(DataPort, value);
}

std::int32_t DecodeGroup(std::int16_t reading)
{
    const std::int32_t group = (reading & 120) / 8;
    return ~group & 15;
}

void ReadInputs(std::int32_t& InputCode, std::int32_t& SecondCode, std::int32_t& CombinedCode)
{
    // Both readings are taken before either is decoded; the selecting control
    // value stands while its status is read. Only the low 16 bits of what the
    // library returns are kept, as a signed 16-bit reading.
    PortOut(ControlPort, FirstGroupControl);
    const auto first = static_cast<std::int16_t>(PortIn(StatusPort));
    PortOut(ControlPort, SecondGroupControl);
    const auto second = static_cast<std::int16_t>(PortIn(StatusPort));

    InputCode = DecodeGroup(first);
    SecondCode = DecodeGroup(second);
    CombinedCode = SecondCode * 16 | InputCode;
}

} // namespace Module1_Velantro
