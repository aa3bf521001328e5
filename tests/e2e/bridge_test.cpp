// The console over the USB bridge, end to end: the bridge's library beside
// the built console, PORTIO_DEVICE pointing at the bridge's firmware on the
// simulated ATmega328P, and the interface board modelled on the chip's pins.
// What the console writes is read off the connector's pins; what the board
// reports comes back to the screen.
#include "ConsoleProcess.h"
#include "HarnessProcess.h"
#include "TestPictures.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

namespace e2e {
namespace {

// The connector's lines as the harness reports them at each change:
// "pins 2-9=HH 1=b 14=b 16=b 17=b 15=b 13=b 12=b 10=b 11=b".
struct Pins {
    int data = 0;
    int pin16 = 0;
};

bool ParsePins(const std::string& line, Pins& pins) {
    unsigned data = 0;
    int pin1 = 0, pin14 = 0, pin16 = 0;
    if (std::sscanf(line.c_str(), "pins 2-9=%2x 1=%d 14=%d 16=%d", &data, &pin1, &pin14, &pin16) !=
        4) {
        return false;
    }
    pins = {static_cast<int>(data), pin16};
    return true;
}

// The values the board latched: a write sequence (control 7, then the data)
// raises pin 16, which the ticks' reads keep low; the data lines hold the
// written value when it falls again, or at the end while it is still high
// after a write (SALIR, after which no tick runs).
std::vector<int> LatchedWrites(const std::vector<std::string>& lines) {
    std::vector<int> written;
    Pins last;
    bool known = false, raised = false;
    for (const std::string& line : lines) {
        Pins now;
        if (!ParsePins(line, now)) {
            continue;
        }
        if (known && last.pin16 != now.pin16) {
            raised = now.pin16 == 1;
            if (now.pin16 == 0) {
                written.push_back(last.data);
            }
        }
        last = now;
        known = true;
    }
    if (raised) {
        written.push_back(last.data);
    }
    return written;
}

class Bridge : public ::testing::Test {
protected:
    // The pin reports are read as they come: a harness whose output is not
    // read would stop the simulated chip once the pipe is full.
    Bridge() : harness(ReportingPins()) {
        reader = std::thread([this] {
            while (!stop) {
                const std::string line = harness.NextPins(50);
                if (!line.empty()) {
                    const std::lock_guard lock(mutex);
                    pins.push_back(line);
                }
            }
        });
    }
    ~Bridge() override {
        stop = true;
        reader.join();
    }

    // Starts the console on the bridge, with the test pictures beside it,
    // once the board has the red lamp lit: the console's first write puts it
    // out.
    ::testing::AssertionResult StartConsole() {
        if (harness.Pty().empty()) {
            return ::testing::AssertionFailure() << "the bridge's harness did not start";
        }
        {
            puente::SerialLine line(harness.Pty());
            if (line.Ask("C04") != "K" || line.Ask("D09") != "K") {
                return ::testing::AssertionFailure() << "the red lamp could not be lit first";
            }
        }
        for (const TestPicture& picture : LampPictures()) {
            console.AddFile(picture.file, Encode(picture));
        }
        console.SetVariable(QStringLiteral("PORTIO_DEVICE"), QString::fromStdString(harness.Pty()));
        return Started(console);
    }

    bool WaitForWrites(const std::vector<int>& expected) {
        return WaitFor([&] { return LatchedWrites(PinReports()) == expected; });
    }

    // Waits until the window shows file; the difference when it did not.
    std::string WaitForPicture(const char* file) {
        std::string difference;
        WaitFor([&] {
            difference = ShownDifference(GrabWindow(console.MainWindow().id), file);
            return difference.empty();
        });
        return difference;
    }

    // Every pin report of the harness so far.
    std::vector<std::string> PinReports() {
        const std::lock_guard lock(mutex);
        return pins;
    }

    static puente::HarnessProcess::Options ReportingPins() {
        puente::HarnessProcess::Options options;
        options.reportPins = true;
        return options;
    }

    puente::HarnessProcess harness;
    std::mutex mutex;
    std::vector<std::string> pins;
    std::atomic<bool> stop{false};
    std::thread reader;
    ConsoleProcess console{ConsoleProcess::PortLibrary::Bridge};
};

struct BridgeStep {
    const char* what;
    const QRect* click;
    int write;
    const char* shows; // the picture the board's report brings
};

// The board is dark at first; in manual mode it lights what is asked for; in
// autonomous mode its own cycle starts with green.
TEST_F(Bridge, TheConsoleDrivesTheBoardAndShowsWhatItReports) {
    const BridgeStep walk[] = {
        {"MANUAL", &controls::Manual, 8, "velantro.gif"},
        {"ROJO", &controls::Rojo, 9, "rojo.jpg"},
        {"VERDE", &controls::Verde, 12, "verde.jpg"},
        {"AMBAR", &controls::Ambar, 10, "amarillo.jpg"},
        {"AUTONOMO", &controls::Autonomo, 16, "verde.jpg"},
        {"PARAR", &controls::Parar, 0, "velantro.gif"},
    };
    ASSERT_TRUE(StartConsole());
    std::vector<int> written = {0};
    ASSERT_TRUE(WaitForWrites(written)) << "the console did not write 0 at start";
    EXPECT_EQ(WaitForPicture("velantro.gif"), "");
    for (const BridgeStep& step : walk) {
        SCOPED_TRACE(step.what);
        console.Click(*step.click);
        written.push_back(step.write);
        ASSERT_TRUE(WaitForWrites(written))
            << ::testing::PrintToString(LatchedWrites(PinReports()));
        ASSERT_EQ(WaitForPicture(step.shows), "");
    }
    console.Click(controls::Salir);
    ASSERT_TRUE(console.WaitForExit());
    EXPECT_EQ(console.ExitCode(), 0) << console.Errors();
    written.push_back(0);
    EXPECT_TRUE(WaitForWrites(written)) << "SALIR did not switch the board off";
    EXPECT_EQ(console.Reports(), std::vector<std::string>());
}

// The cable pulled while the console runs: one report naming the bridge and
// the cable, the message box, and exit status 1 once it is dismissed.
TEST_F(Bridge, APulledCableEndsTheConsoleWithAReport) {
    ASSERT_TRUE(StartConsole());
    ASSERT_TRUE(WaitForWrites({0}));
    ASSERT_TRUE(harness.Unplug());
    WindowInfo box;
    ASSERT_TRUE(console.WaitForMessageBox(box)) << console.Errors();
    const std::vector<std::string> reports = console.Reports();
    ASSERT_EQ(reports.size(), 1u) << console.Errors();
    EXPECT_NE(reports[0].find("Se ha perdido la conexión con el puente USB " + harness.Pty()),
              std::string::npos)
        << reports[0];
    EXPECT_NE(reports[0].find("cable USB"), std::string::npos) << reports[0];
    ActivateWindow(box.id);
    PressKeys({QStringLiteral("Return")});
    ASSERT_TRUE(console.WaitForExit());
    EXPECT_EQ(console.ExitCode(), 1) << console.Errors();
}

} // namespace
} // namespace e2e
