// The simulated bridge (puente_harness) as a test starts it, and a plain
// serial line to talk to its firmware without the port library.
#pragma once

#include <string>
#include <sys/types.h>

namespace puente {

// Starts puente_harness; the destructor ends it. Its standard input is a
// pipe held by this process alone, so the harness also ends when the test
// process dies, whatever it started meanwhile.
class HarnessProcess {
public:
    struct Options {
        bool board = true;       // false: --no-board
        bool reportPins = false; // --report-pins, read with NextPins
        long unplugAfterMs = -1; // --unplug-after=MS when not negative
        std::string link;        // --link=PATH when not empty
    };

    HarnessProcess() : HarnessProcess(Options{}) {}
    explicit HarnessProcess(const Options& options);
    ~HarnessProcess();
    HarnessProcess(const HarnessProcess&) = delete;
    HarnessProcess& operator=(const HarnessProcess&) = delete;

    // The pseudo-terminal's path; empty when the harness did not start.
    const std::string& Pty() const { return pty_; }

    // The next pin report line (see puente_harness.cpp), or "" when none came
    // within timeoutMs.
    std::string NextPins(int timeoutMs = 5000);
    // The latest pin report after waitMs: every report up to then is read,
    // the last one returned (the one before when nothing has changed since).
    // The harness reports a change before the chip sends its next byte, so
    // after a reply the pins it left are already there.
    std::string SettledPins(int waitMs = 0);

    // Pulls the cable: SIGUSR1, and waits until the harness has ended.
    bool Unplug();
    // Waits up to timeoutMs for the harness to end by itself; true if it did.
    bool WaitForExit(int timeoutMs);

private:
    std::string ReadLine(int timeoutMs);

    pid_t pid_ = -1;
    int input_ = -1;  // the harness's standard input
    int output_ = -1; // its standard output
    std::string pending_;
    std::string pty_;
    std::string pins_;
};

// The pseudo-terminal opened like a serial line (raw, 115200 8N1), with line
// requests and replies.
class SerialLine {
public:
    explicit SerialLine(const std::string& path);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Writes bytes as they are.
    bool Write(const std::string& bytes) const;
    // The next line without its '\n', or "<none>" when none came within
    // timeoutMs, "<closed>" when the line ended.
    std::string ReadLine(int timeoutMs = 2000);
    // Writes request and '\n', and reads one line.
    std::string Ask(const std::string& request, int timeoutMs = 2000);

private:
    int fd_ = -1;
    std::string pending_;
};

} // namespace puente
