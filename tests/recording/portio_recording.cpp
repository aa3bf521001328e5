// A port library for tests: it records every call and answers from a script,
// so that tests can check the exact register traffic of the real program.
//
// Settings, read from the environment at every call so a test can change the
// files while the program runs:
//   PORTIO_TRACE   file to which every call is appended as one line:
//                  "PortOut <port> <value>" or "PortIn <port> <answer>",
//                  followed by " FAIL" when the call failed.
//   PORTIO_SCRIPT  file holding the status byte(s) that reads of the status register answer:
//                  "<first> [<second>]", decimal or 0x hex. The first answers
//                  while control bit 1 is set (the board's first input group),
//                  the second otherwise (default: the first). Without the file,
//                  status reads 0.
//   PORTIO_FAIL    file holding a rule "<function> <port> [<value> [<skip>]]",
//                  '*' matching anything: the matching call after <skip> others
//                  fails with -1, and so does every call after it while the
//                  rule stands. For PortIn the value is the answer the call
//                  would have given, so a script with two different bytes
//                  tells the two reads of a tick apart.
// Reads of the data and control registers give back what was last written there.
// Like every port library, it refuses a register outside the three, a write to
// the status register and a control value outside 0 to 15.
#include "portio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

int dataRegister = 0;
int controlRegister = 0;
bool failing = false;
std::string currentRule;
long matchesSeen = 0;
char lastError[200] = "";

std::string ReadSetting(const char* name) {
    const char* path = std::getenv(name);
    if (path == nullptr) {
        return {};
    }
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return {};
    }
    std::string text;
    char chunk[256];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    return text;
}

void Trace(const char* function, int port, int value, bool failed) {
    const char* path = std::getenv("PORTIO_TRACE");
    if (path == nullptr) {
        return;
    }
    char line[96];
    const int length = std::snprintf(line, sizeof line, "%s %d %d%s\n", function, port, value,
                                     failed ? " FAIL" : "");
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (::write(fd, line, static_cast<std::size_t>(length)) != length) {
            std::perror("portio_recording: trace");
        }
        ::close(fd);
    }
}

bool FieldMatches(const char* field, long actual) {
    return std::strcmp(field, "*") == 0 || std::strtol(field, nullptr, 0) == actual;
}

// Whether this call is the one the fail rule picks, or comes after it.
bool ShouldFail(const char* function, int port, int value) {
    const std::string rule = ReadSetting("PORTIO_FAIL");
    if (rule != currentRule) {
        // A new rule, or none any more: the library works again and counts afresh.
        currentRule = rule;
        failing = false;
        matchesSeen = 0;
    }
    char name[32] = "", portField[32] = "*", valueField[32] = "*";
    long skip = 0;
    if (std::sscanf(rule.c_str(), "%31s %31s %31s %ld", name, portField, valueField, &skip) < 2) {
        return false;
    }
    if (failing) {
        return true;
    }
    const bool matches = (std::strcmp(name, "*") == 0 || std::strcmp(name, function) == 0) &&
                         FieldMatches(portField, port) && FieldMatches(valueField, value);
    if (matches && matchesSeen++ >= skip) {
        failing = true;
    }
    return failing;
}

int Failed(const char* function, int port, int value) {
    if (std::strcmp(function, "PortOut") == 0) {
        std::snprintf(lastError, sizeof lastError,
                      "fallo simulado por la biblioteca de pruebas en PortOut(%d, %d)", port,
                      value);
    } else {
        std::snprintf(lastError, sizeof lastError,
                      "fallo simulado por la biblioteca de pruebas en PortIn(%d)", port);
    }
    Trace(function, port, value, true);
    return -1;
}

bool IsRegister(int port) {
    return port == PortioDataRegister || port == PortioStatusRegister ||
           port == PortioControlRegister;
}

int NoSuchRegister(int port) {
    std::snprintf(lastError, sizeof lastError,
                  "la biblioteca de pruebas no tiene el registro %d; los registros son %d "
                  "(datos), %d (estado) y %d (control)",
                  port, PortioDataRegister, PortioStatusRegister, PortioControlRegister);
    return -1;
}

// What every port library refuses to write (portio.h): a register outside the
// three, the status register, a control value outside 0 to 15. Refused calls
// are neither traced nor counted by the fail rule.
bool WriteRefused(int port, int value) {
    if (!IsRegister(port)) {
        NoSuchRegister(port);
    } else if (port == PortioStatusRegister) {
        std::snprintf(lastError, sizeof lastError, "el registro %d (estado) solo se puede leer",
                      PortioStatusRegister);
    } else if (port == PortioControlRegister && (value < 0 || value > 15)) {
        std::snprintf(lastError, sizeof lastError,
                      "el valor %d no es válido para el registro %d (control): solo se "
                      "escriben valores de 0 a 15",
                      value, PortioControlRegister);
    } else {
        return false;
    }
    return true;
}

int StatusAnswer() {
    const std::string script = ReadSetting("PORTIO_SCRIPT");
    char* end = nullptr;
    const long first = std::strtol(script.c_str(), &end, 0);
    const char* rest = end;
    const long second = std::strtol(rest, &end, 0);
    const bool hasSecond = end != rest;
    const bool firstGroup = (controlRegister & 0x02) != 0;
    return static_cast<int>(firstGroup || !hasSecond ? first : second);
}

} // namespace

extern "C" int PortOut(int port, int value) {
    if (WriteRefused(port, value)) {
        return -1;
    }
    if (ShouldFail("PortOut", port, value)) {
        return Failed("PortOut", port, value);
    }
    if (port == PortioDataRegister) {
        dataRegister = value & 0xFF;
    } else if (port == PortioControlRegister) {
        controlRegister = value & 0xFF;
    }
    Trace("PortOut", port, value, false);
    return 0;
}

extern "C" int PortIn(int port) {
    if (!IsRegister(port)) {
        return NoSuchRegister(port);
    }
    const int answer = port == PortioDataRegister      ? dataRegister
                       : port == PortioControlRegister ? controlRegister
                                                       : StatusAnswer();
    if (ShouldFail("PortIn", port, answer)) {
        return Failed("PortIn", port, answer);
    }
    Trace("PortIn", port, answer, false);
    return answer;
}

extern "C" const char* PortError(void) {
    return lastError;
}
