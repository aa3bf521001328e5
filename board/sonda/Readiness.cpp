#include "Readiness.h"

#include "Module1_Velantro.h"
#include "PortLibrary.h"
#include "portio.h"

#include <chrono>
#include <cstdio>
#include <dlfcn.h>
#include <exception>
#include <string>
#include <thread>
#include <vector>

using namespace Module1_Velantro;

namespace sonda {
namespace {

// The second group's lines as SecondCode bits: pin 15 low in manual mode,
// pin 13 low in autonomous mode, pin 12 low while the board is there, pin 10
// high.
constexpr std::int32_t ManualBit = 1;
constexpr std::int32_t AutonomousBit = 2;
constexpr std::int32_t PresentBit = 4;
constexpr std::int32_t InvalidBit = 8;

// How long a lamp may take to be reported after its value is written, and
// how often it is read meanwhile (the console's tick).
constexpr auto SettleTime = std::chrono::milliseconds(200);
constexpr auto ReadInterval = std::chrono::milliseconds(10);

struct Line {
    int met; // 1 met, 0 not met, -1 nothing to check
    std::string text;
};

void Print(const Line& line) {
    const char* mark = line.met > 0 ? "[ bien ]" : line.met == 0 ? "[FALLA ]" : "[  --  ]";
    std::printf("%s %s\n", mark, line.text.c_str());
}

// The port library's own requirements, when it can tell them.
std::vector<Line> LibraryRequirements() {
    using ReadinessFunction = decltype(&::PortReadiness);
    void* handle = ::dlopen(PortLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return {}; // the board check says why it cannot be loaded
    }
    auto readiness = reinterpret_cast<ReadinessFunction>(::dlsym(handle, "PortReadiness"));
    std::vector<Line> lines;
    if (readiness == nullptr) {
        lines.push_back({-1, "Puerto: esta biblioteca de puerto no dice qué necesita del "
                             "sistema (la placa simulada no necesita nada): solo se comprueba "
                             "la placa."});
    }
    for (int item = 0; readiness != nullptr; ++item) {
        const char* text = nullptr;
        const int met = readiness(item, &text);
        if (met < 0) {
            break;
        }
        lines.push_back({met > 0 ? 1 : 0, text != nullptr ? text : ""});
    }
    ::dlclose(handle);
    return lines;
}

struct Step {
    std::int16_t value;
    LampReport lamp;
    const char* name;
};

bool Answers(const InputCodes& codes, const Step& step) {
    return ReportedLamp(codes.InputCode) == step.lamp &&
           (codes.SecondCode & (PresentBit | ManualBit | AutonomousBit | InvalidBit)) ==
               (PresentBit | ManualBit);
}

// Writes each step's value and waits for the board to report it; the board
// gets 0 at the end whatever happened.
Line CheckBoard() {
    const Step steps[] = {{ManualMode | 1, LampReport::Red, "el rojo"},
                          {ManualMode | 2, LampReport::Amber, "el ámbar"},
                          {ManualMode | 4, LampReport::Green, "el verde"},
                          {ManualMode, LampReport::Dark, "ninguna lámpara"}};
    std::string wrong;
    std::vector<std::int32_t> seen;
    try {
        for (const Step& step : steps) {
            WriteOutputs(step.value);
            const auto until = std::chrono::steady_clock::now() + SettleTime;
            InputCodes codes = DecodeReadings(ReadStatus());
            while (!Answers(codes, step) && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(ReadInterval);
                codes = DecodeReadings(ReadStatus());
            }
            seen.push_back(codes.CombinedCode);
            if (!Answers(codes, step) && wrong.empty()) {
                wrong = std::string("con ") + step.name + " en modo manual (valor " +
                        std::to_string(step.value) + ") informa «" + LampWords(codes.InputCode) +
                        "» y «" + ModeWords(codes.SecondCode) + "»";
            }
        }
        WriteOutputs(0);
    } catch (const std::exception& error) {
        try {
            WriteOutputs(0);
        } catch (const std::exception&) {
            // The port is out of reach: nothing was written, nothing to undo.
        }
        return {0, std::string("Placa: ") + error.what()};
    }
    if (wrong.empty()) {
        return {1, "Placa: responde: enciende el rojo, el ámbar, el verde y ninguna en modo "
                   "manual, y dice que está presente y en modo manual. Escrito el 0: todo "
                   "apagado."};
    }
    bool unchanged = true;
    for (std::int32_t code : seen) {
        unchanged = unchanged && code == seen.front();
    }
    return {0, "Placa: no responde: " + wrong +
                   (unchanged ? ". Las entradas no cambian con las salidas: compruebe que la "
                                "placa está encendida y conectada a este puerto con su cable."
                              : ". Compruebe el cableado de la placa (velantro-sonda VALOR "
                                "muestra cada lectura).") +
                   " Escrito el 0."};
}

} // namespace

const char* LampWords(std::int32_t InputCode) {
    switch (ReportedLamp(InputCode)) {
    case LampReport::Green:
        return "lámpara verde encendida";
    case LampReport::Amber:
        return "lámpara ámbar encendida";
    case LampReport::Red:
        return "lámpara roja encendida";
    case LampReport::Dark:
        return "ninguna lámpara encendida";
    case LampReport::None:
        break;
    }
    return "sin informe válido (la línea del pin 10 está baja)";
}

const char* ModeWords(std::int32_t SecondCode) {
    if ((SecondCode & InvalidBit) != 0) {
        return "segundo grupo sin informe válido (la línea del pin 10 está baja)";
    }
    if ((SecondCode & PresentBit) == 0) {
        return "la placa no dice que está presente (la línea del pin 12 está alta)";
    }
    switch (SecondCode & (ManualBit | AutonomousBit)) {
    case ManualBit:
        return "placa presente, modo manual";
    case AutonomousBit:
        return "placa presente, modo autónomo";
    case 0:
        return "placa presente, sin modo";
    default:
        return "placa presente, modo manual y autónomo a la vez";
    }
}

int CheckReadiness() {
    std::vector<Line> lines = LibraryRequirements();
    lines.push_back(CheckBoard());
    int failed = 0;
    for (const Line& line : lines) {
        Print(line);
        failed += line.met == 0 ? 1 : 0;
    }
    if (failed == 0) {
        std::printf("Listo: este PC puede usar la placa.\n");
        return 0;
    }
    if (failed == 1) {
        std::printf("No está listo: falla 1 comprobación. Haga lo que dice la línea marcada "
                    "FALLA y vuelva a comprobarlo.\n");
    } else {
        std::printf("No está listo: fallan %d comprobaciones. Haga lo que dicen las líneas "
                    "marcadas FALLA y vuelva a comprobarlo.\n",
                    failed);
    }
    return 1;
}

} // namespace sonda
