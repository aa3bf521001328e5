// What one tick of the console costs over the USB bridge: the bridge's
// library (its device logic, as libportio.so runs it) on the bridge's
// firmware on the simulated ATmega328P, through the harness's pseudo-terminal.
// The tick is the console's: control 3, read status, control 1, read status;
// a command's write sequence is control 7, then the data.
//   bridge_bench [TICKS]
#include "HarnessProcess.h"
#include "bridge.h"
#include "portio.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double milliseconds;
    puente::Traffic traffic;
};

puente::Traffic Difference(const puente::Traffic& after, const puente::Traffic& before) {
    return {after.roundTrips - before.roundTrips, after.bytesOut - before.bytesOut,
            after.bytesIn - before.bytesIn};
}

template <typename Step> Sample Measure(puente::Bridge& bridge, Step step) {
    const puente::Traffic before = bridge.CurrentTraffic();
    const Clock::time_point start = Clock::now();
    step();
    const std::chrono::duration<double, std::milli> took = Clock::now() - start;
    return {took.count(), Difference(bridge.CurrentTraffic(), before)};
}

void Report(const char* what, std::vector<Sample> samples) {
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.milliseconds < b.milliseconds; });
    const auto at = [&](double share) {
        return samples[static_cast<size_t>(share * static_cast<double>(samples.size() - 1))]
            .milliseconds;
    };
    unsigned long most = 0, out = 0, in = 0;
    for (const Sample& sample : samples) {
        most = std::max(most, sample.traffic.roundTrips);
        out = std::max(out, sample.traffic.bytesOut);
        in = std::max(in, sample.traffic.bytesIn);
    }
    std::printf("| %s | %zu | %lu | %lu | %lu | %.2f ms | %.2f ms | %.2f ms |\n", what,
                samples.size(), most, out, in, at(0.5), at(0.9), samples.back().milliseconds);
}

} // namespace

int main(int argc, char* argv[]) {
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 500;
    puente::HarnessProcess harness;
    if (harness.Pty().empty()) {
        std::fprintf(stderr, "bridge_bench: the bridge's harness did not start\n");
        return 1;
    }
    puente::Bridge bridge([&harness] { return harness.Pty(); });
    if (const puente::PortResult first = bridge.Read(PortioStatusRegister); first.Failed()) {
        std::fprintf(stderr, "bridge_bench: %s\n", first.error.c_str());
        return 1;
    }

    bool failed = false;
    const auto check = [&failed](const puente::PortResult& result) {
        if (result.Failed() && !failed) {
            std::fprintf(stderr, "bridge_bench: %s\n", result.error.c_str());
            failed = true;
        }
    };
    std::vector<Sample> tickSamples, afterCommandSamples, writeSamples;
    for (int i = 0; i < ticks && !failed; ++i) {
        (i % 10 == 1 ? afterCommandSamples : tickSamples).push_back(Measure(bridge, [&] {
            check(bridge.Write(PortioControlRegister, 3));
            check(bridge.Read(PortioStatusRegister));
            check(bridge.Write(PortioControlRegister, 1));
            check(bridge.Read(PortioStatusRegister));
        }));
        if (i % 10 == 0) {
            // A command between ticks: its writes are acknowledged in the next tick.
            writeSamples.push_back(Measure(bridge, [&] {
                check(bridge.Write(PortioControlRegister, 7));
                check(bridge.Write(PortioDataRegister, i % 20 == 0 ? 9 : 12));
            }));
        }
    }
    if (failed) {
        return 1;
    }
    std::printf("| what | samples | round trips | bytes out | bytes in | median | 90 %% | "
                "slowest |\n|---|---|---|---|---|---|---|---|\n");
    Report("tick", tickSamples);
    Report("tick after a command (its acknowledgements read)", afterCommandSamples);
    Report("command: control 7, data", writeSamples);
    return 0;
}
