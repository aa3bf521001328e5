// velantro-sonda: checks the wiring of the interface board without the
// console. It uses the libportio.so beside it and the console's own write and
// read sequences, so what it shows is what the console would see.
#include "Module1_Velantro.h"
#include "Readiness.h"

#include <charconv>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <thread>

using namespace Module1_Velantro;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

// The help text. The port used by default is named by its base address, which
// is the address of its data register.
std::string Usage() {
    char base[32];
    std::snprintf(base, sizeof base, "%d (0x%X)", DataPort, DataPort);
    const std::string usage =
        "Uso: velantro-sonda [VALOR] [--continuo]\n"
        "     velantro-sonda --comprobar\n"
        "Comprueba el cableado de la placa del semáforo sin la consola.\n"
        "  VALOR       valor de salida que se escribe antes de leer, de 0 a 255, en\n"
        "              decimal o en hexadecimal con 0x (0 apagado, 8 manual, 9 rojo,\n"
        "              10 ámbar, 12 verde, 16 autónomo)\n"
        "  --continuo  sigue leyendo las entradas hasta que se pulse Ctrl+C; cada lectura\n"
        "              sale en cuanto se toma, también por una tubería\n"
        "  --comprobar dice si este PC está listo para la placa: el puerto y su dirección,\n"
        "              el permiso, si otro lo tiene ocupado y si la placa responde (enciende\n"
        "              rojo, ámbar y verde en manual y lo apaga todo); termina con 0 si lo\n"
        "              está y con 1 si no\n"
        "  -h, --help, --ayuda  muestra esta ayuda\n"
        "  --version   muestra la versión\n"
        "Con el puerto real, la variable de entorno PORTIO_DEVICE elige el dispositivo\n"
        "(p. ej. PORTIO_DEVICE=/dev/parport1); sin ella se usa el puerto de la\n"
        "dirección ";
    return usage + base + ".\n";
}

// One line describing one read sequence.
std::string Describe(const StatusReadings& readings) {
    const InputCodes codes = DecodeReadings(readings);
    char line[200];
    std::snprintf(line, sizeof line,
                  "estado 0x%02X / 0x%02X  InputCode %d  SecondCode %d  CombinedCode %d  %s; %s",
                  readings.first & 0xFF, readings.second & 0xFF, codes.InputCode, codes.SecondCode,
                  codes.CombinedCode, sonda::LampWords(codes.InputCode),
                  sonda::ModeWords(codes.SecondCode));
    return line;
}

// Decimal, or hexadecimal after 0x: a leading zero does not mean octal, so
// "010" is ten. No sign, no spaces.
bool ParseValue(const std::string& text, int& value) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    int parsed = 0;
    const char* last = digits.data() + digits.size();
    auto [end, ec] = std::from_chars(digits.data(), last, parsed, base);
    if (digits.empty() || digits[0] == '-' || ec != std::errc() || end != last || parsed > 255) {
        return false;
    }
    value = parsed;
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    // System reasons (strerror) in the operator's language where installed.
    std::setlocale(LC_ALL, "");
    bool continuous = false;
    bool check = false;
    int value = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--continuo") {
            continuous = true;
        } else if (argument == "--comprobar") {
            check = true;
        } else if (argument == "--ayuda" || argument == "-h" || argument == "--help") {
            std::fputs(Usage().c_str(), stdout);
            return 0;
        } else if (argument == "--version") {
            std::printf("velantro-sonda %s\n", VELANTRO_VERSION);
            return 0;
        } else if (value < 0 && ParseValue(argument, value)) {
        } else {
            std::fprintf(stderr, "velantro-sonda: argumento no válido: %s\n%s", argv[i],
                         Usage().c_str());
            return 2;
        }
    }

    if (check && (continuous || value >= 0)) {
        std::fprintf(stderr, "velantro-sonda: --comprobar va solo, sin VALOR ni --continuo\n%s",
                     Usage().c_str());
        return 2;
    }
    if (check) {
        return sonda::CheckReadiness();
    }

    try {
        if (value >= 0) {
            WriteOutputs(static_cast<std::int16_t>(value));
            std::printf("escrito el valor de salida %d\n", value);
        }
        std::string last = Describe(ReadStatus());
        std::printf("%s\n", last.c_str());
        if (continuous) {
            // Each reading goes out as it is taken, even into a pipe; Ctrl+C,
            // kill and a closed terminal end the loop and the program cleanly.
            std::fflush(stdout);
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
                std::signal(signal, RequestStop);
            }
            while (stopRequested == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const std::string now = Describe(ReadStatus());
                if (now != last) {
                    std::printf("%s\n", now.c_str());
                    std::fflush(stdout);
                    last = now;
                }
            }
        }
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "velantro-sonda: %s\n", error.what());
        return 1;
    }
    return 0;
}
