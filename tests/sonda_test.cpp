// The wiring probe, run as a program beside the recording port library: its
// traffic is the console's, and it prints what the console would decode.
#include "HarnessProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

using testsupport::RecordingPort;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

namespace {

struct ProbeRun {
    int status;
    std::string output;
};

// Runs a shell command to its end; output and errors together.
ProbeRun RunShell(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char chunk[512];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, got);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class SondaTest : public ::testing::Test {
protected:
    SondaTest() {
        testsupport::CopyFile(SONDA_PROGRAM, dir.File("velantro-sonda"));
        testsupport::CopyFile(RECORDING_LIBRARY, dir.File("libportio.so"));
    }

    // Runs the probe from another working directory; output and errors together.
    ProbeRun Probe(const std::string& arguments) {
        return RunShell("cd / && " + dir.File("velantro-sonda") + " " + arguments);
    }

    TempDir dir;
    RecordingPort port{dir};
};

const Lines ReadSequence(int first, int second) {
    return {"PortOut 890 3", "PortIn 889 " + std::to_string(first), "PortOut 890 1",
            "PortIn 889 " + std::to_string(second)};
}

} // namespace

TEST_F(SondaTest, WritesAndReadsWithTheConsolesSequences) {
    port.Script(0x70, 0x48);
    const ProbeRun run = Probe("9");
    EXPECT_EQ(run.status, 0) << run.output;
    Lines expected{"PortOut 890 7", "PortOut 888 9"};
    for (const auto& line : ReadSequence(0x70, 0x48)) {
        expected.push_back(line);
    }
    EXPECT_EQ(port.Trace(), expected);

    port.ClearTrace();
    EXPECT_EQ(Probe("").status, 0);
    EXPECT_EQ(port.Trace(), ReadSequence(0x70, 0x48)) << "without a value nothing is written";
}

TEST_F(SondaTest, PrintsTheDecodingOfEachStatusByte) {
    struct Case {
        int first, second;
        std::string printed;
    };
    const Case cases[] = {
        {0x70, 0x48,
         "estado 0x70 / 0x48  InputCode 1  SecondCode 6  CombinedCode 97  lámpara roja "
         "encendida; placa presente, modo autónomo"},
        {0x58, 0x50,
         "InputCode 4  SecondCode 5  CombinedCode 84  lámpara verde encendida; "
         "placa presente, modo manual"},
        {0x40, 0x58,
         "InputCode 7  SecondCode 4  CombinedCode 71  ninguna lámpara encendida; "
         "placa presente, sin modo"},
        {0x68, 0x78,
         "InputCode 2  SecondCode 0  CombinedCode 2  lámpara ámbar encendida; la "
         "placa no dice que está presente"},
        {0x00, 0x00,
         "InputCode 15  SecondCode 15  CombinedCode 255  sin informe válido (la "
         "línea del pin 10 está baja); segundo grupo sin informe válido"},
        {0xFF, 0x40,
         "InputCode 0  SecondCode 7  CombinedCode 112  ninguna lámpara encendida; "
         "placa presente, modo manual y autónomo a la vez"},
    };
    for (const Case& c : cases) {
        port.Script(c.first, c.second);
        const ProbeRun run = Probe("");
        EXPECT_NE(run.output.find(c.printed), std::string::npos) << run.output;
    }
}

TEST_F(SondaTest, ReadsValuesAsDecimalOrHexadecimal) {
    struct Case {
        const char* argument;
        int written;
    };
    for (const Case& c : {Case{"010", 10}, Case{"08", 8}, Case{"0x10", 16}, Case{"0XfF", 255}}) {
        port.ClearTrace();
        const ProbeRun run = Probe(c.argument);
        EXPECT_EQ(run.status, 0) << c.argument << ": " << run.output;
        ASSERT_GE(port.Trace().size(), 2U) << c.argument;
        EXPECT_EQ(port.Trace()[1], "PortOut 888 " + std::to_string(c.written)) << c.argument;
    }
}

// --continuo prints a reading once and then only when it changes; into a
// pipe, each reading is there while the probe still runs, and Ctrl+C, kill or
// a closed terminal end it cleanly.
TEST_F(SondaTest, ContinuousPrintsTheFirstReadingOnce) {
    const std::string pipe = dir.File("tuberia");
    const std::string readings = dir.File("lecturas");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string started = "--continuo > " + pipe + " & p=$!; cat " + pipe + " > " + readings +
                                " & sleep 0.5; echo antes:; cat " + readings + "; kill -";
    for (const char* signal : {"INT", "TERM", "HUP"}) {
        port.ClearTrace();
        port.Script(0x70, 0x48);
        std::string command = started;
        command.append(signal).append(" $p; wait $p");
        const ProbeRun run = Probe(command);
        EXPECT_EQ(run.status, 0) << signal << ": " << run.output;
        EXPECT_EQ(run.output.find("antes:\nestado"), 0U) << signal << ": " << run.output;
        EXPECT_EQ(run.output.find("estado"), run.output.rfind("estado")) << run.output;
        EXPECT_GE(port.Trace().size(), 8U) << "it kept reading";
    }
}

TEST_F(SondaTest, RefusesBadValuesAndReportsPortFailures) {
    for (const char* bad : {"256", "-1", "9x", "rojo", "+9", "0x", "0x100", "0b1"}) {
        const ProbeRun run = Probe(bad);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.output.find("argumento no válido"), std::string::npos) << run.output;
        EXPECT_TRUE(port.Trace().empty()) << bad;
    }
    port.FailOn("PortOut 888");
    const ProbeRun run = Probe("16");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("registro 888 (datos)"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("fallo simulado"), std::string::npos) << run.output;
}

// --comprobar: the port library's requirements when it can tell them, the
// board answering, a summary line; exit 0 only when all is ready. Rows: the
// simulated board; the real port with no such device; a port whose status
// never follows the outputs, as with nothing connected (QEMU's 0xD8).
TEST_F(SondaTest, CheckSaysWhetherThisPcIsReady) {
    struct Case {
        const char* name;
        const char* library;
        const char* device; // PORTIO_DEVICE, when set
        int status;
        Lines printed; // in this order
    };
    const std::string missing = dir.File("parport9");
    const Case cases[] = {
        {"simulated board",
         SIMULATED_LIBRARY,
         nullptr,
         0,
         {"[  --  ] Puerto: esta biblioteca de puerto no dice qué necesita",
          "[ bien ] Placa: responde", "Listo: este PC puede usar la placa.\n"}},
        {"real port, no device",
         PARPORT_LIBRARY,
         missing.c_str(),
         1,
         {"[FALLA ] Puerto: No se encuentra el puerto paralelo " + missing +
              " (indicado en PORTIO_DEVICE). Cargue los módulos con «modprobe -a parport_pc "
              "ppdev»",
          "Permiso: ", "[FALLA ] Uso: sin el puerto", "[FALLA ] Placa: No se puede escribir",
          "No está listo: fallan"}},
        {"nothing answers",
         RECORDING_LIBRARY,
         nullptr,
         1,
         {"[  --  ] Puerto:",
          "[FALLA ] Placa: no responde: con el rojo en modo manual (valor 9) informa «lámpara "
          "verde encendida» y «placa presente, sin modo». Las entradas no cambian con las "
          "salidas",
          "No está listo: falla 1 comprobación."}},
    };
    port.Script(0xD8);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::CopyFile(c.library, dir.File("libportio.so"));
        if (c.device != nullptr) {
            ::setenv("PORTIO_DEVICE", c.device, 1);
        }
        port.ClearTrace();
        const ProbeRun run = Probe("--comprobar");
        ::unsetenv("PORTIO_DEVICE");
        EXPECT_EQ(run.status, c.status) << run.output;
        std::size_t at = 0;
        for (const std::string& part : c.printed) {
            at = run.output.find(part, at);
            ASSERT_NE(at, std::string::npos) << part << " in:\n" << run.output;
        }
    }
    // The board was checked with each lamp in manual mode and left all off.
    Lines written;
    for (const std::string& call : port.Trace()) {
        if (call.rfind("PortOut 888 ", 0) == 0) {
            written.push_back(call.substr(12));
        }
    }
    EXPECT_EQ(written, (Lines{"9", "10", "12", "8", "0"}));
    EXPECT_EQ(port.Trace().back(), "PortOut 888 0");
    testsupport::CopyFile(SIMULATED_LIBRARY, dir.File("libportio.so"));
    EXPECT_NE(Probe("").output.find("ninguna lámpara encendida; placa presente, sin modo"),
              std::string::npos);
    EXPECT_EQ(Probe("--comprobar 9").status, 2);
}

// The bridge's probe, from its program directory, on the bridge's firmware on
// the simulated chip with the interface board on its pins: each value it
// writes is what the board then reports.
TEST(SondaOverTheBridge, WritesEachValueAndReadsBackWhatTheBoardDoes) {
    puente::HarnessProcess harness;
    ASSERT_FALSE(harness.Pty().empty()) << "the bridge's harness did not start";
    const std::pair<const char*, const char*> cases[] = {
        {"9", "lámpara roja encendida"},    {"10", "lámpara ámbar encendida"},
        {"12", "lámpara verde encendida"},  {"16", "lámpara verde encendida"},
        {"0", "ninguna lámpara encendida"}, {"", "ninguna lámpara encendida"},
    };
    for (const auto& [value, lamp] : cases) {
        const ProbeRun run =
            RunShell("cd / && PORTIO_DEVICE=" + harness.Pty() + " " + SONDA_PUENTE + " " + value);
        EXPECT_EQ(run.status, 0) << value << ": " << run.output;
        EXPECT_NE(run.output.find(lamp), std::string::npos) << value << ": " << run.output;
    }
}
