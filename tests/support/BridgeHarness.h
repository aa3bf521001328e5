// The USB bridge without hardware, for the tests and benchmarks that use it:
// the harness program that runs the bridge's firmware on a simulated
// ATmega328P with the interface board on its pins, serving its serial line as
// a pseudo-terminal, and the pin changes it reports.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

class BridgeHarness {
public:
    // Starts program (the harness) with options and waits until it gives the
    // pseudo-terminal's path.
    BridgeHarness(const std::string& program, const std::vector<std::string>& options);
    ~BridgeHarness(); // ends the harness
    BridgeHarness(const BridgeHarness&) = delete;
    BridgeHarness& operator=(const BridgeHarness&) = delete;

    // The bridge's device, /dev/pts/N; empty when the harness did not start.
    const std::string& Device() const { return device_; }

    // Every line the harness wrote after the path (the pin reports).
    std::vector<std::string> Lines() const;

    // Pulls the cable: the pseudo-terminal closes and the harness ends.
    void Unplug() const;

    // Waits up to timeoutMilliseconds for the harness to end by itself.
    bool WaitForExit(int timeoutMilliseconds);

private:
    void Collect(int output);

    pid_t pid_ = -1;
    int input_ = -1; // the harness's standard input: it ends when this closes
    bool ended_ = false;
    std::string device_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::thread reader_;
};

} // namespace testsupport
