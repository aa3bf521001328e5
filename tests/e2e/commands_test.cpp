// The console's commands driven as an operator drives them, by mouse and by
// keyboard through the window manager, checked against the register writes.
#include "ConsoleProcess.h"

#include <chrono>
#include <cstdio>

namespace e2e {
namespace {

constexpr int NoWrite = -1;

// After an action that writes value (NoWrite: nothing), waits for the write
// and checks that all writes so far are exactly the expected ones, in order.
void ExpectWrite(ConsoleProcess& console, std::vector<int>& written, int value) {
    if (value == NoWrite) {
        return; // a stray write shows up in the check of the next write
    }
    written.push_back(value);
    ASSERT_TRUE(console.WaitForOtherTraffic(2 * written.size()));
    ASSERT_EQ(console.CurrentTraffic().others, WritesOf(written));
}

struct ClickStep {
    const char* what;
    QRect control;
    int write;
};

TEST(Clicks, EachVisibleButtonWritesItsValueAndHiddenOnesNothing) {
    const ClickStep walk[] = {
        {"ROJO, hidden at start", controls::Rojo, NoWrite},
        {"AMBAR, hidden at start", controls::Ambar, NoWrite},
        {"VERDE, hidden at start", controls::Verde, NoWrite},
        {"PARAR, hidden at start", controls::Parar, NoWrite},
        {"the picture", controls::Picture, NoWrite},
        {"AUTONOMO", controls::Autonomo, 16},
        {"AUTONOMO again", controls::Autonomo, 16},
        {"ROJO, hidden in autonomous mode", controls::Rojo, NoWrite},
        {"VERDE, hidden in autonomous mode", controls::Verde, NoWrite},
        {"PARAR", controls::Parar, 0},
        {"PARAR, hidden by itself", controls::Parar, NoWrite},
        {"MANUAL", controls::Manual, 8},
        {"PARAR, hidden in manual mode", controls::Parar, NoWrite},
        {"ROJO", controls::Rojo, 9},
        {"VERDE", controls::Verde, 12},
        {"AMBAR", controls::Ambar, 10},
        {"MANUAL again", controls::Manual, 8},
        {"AUTONOMO from manual mode", controls::Autonomo, 16},
        {"AMBAR, hidden again", controls::Ambar, NoWrite},
        {"MANUAL from autonomous mode", controls::Manual, 8},
    };
    ConsoleProcess console;
    ASSERT_TRUE(Started(console));
    std::vector<int> written = {0};
    for (const ClickStep& step : walk) {
        SCOPED_TRACE(step.what);
        console.Click(step.control);
        ExpectWrite(console, written, step.write);
        if (HasFatalFailure()) {
            return;
        }
    }
    ExpectCleanTicks(console.CurrentTraffic(), false);
}

struct KeyStep {
    QStringList keys;
    int write;
};

struct KeyPath {
    const char* name;
    std::vector<KeyStep> steps;
    bool exits; // the last step is SALIR
};

void PrintTo(const KeyPath& path, std::ostream* out) {
    *out << path.name;
}

// Focus starts on AUTONOMO. The focus chain runs AUTONOMO, MANUAL, the
// picture, ROJO, AMBAR, VERDE, SALIR, PARAR and wraps, passing hidden buttons.
const QString Tab = QStringLiteral("Tab");
const QString Space = QStringLiteral("space");
const QString Return = QStringLiteral("Return");
const QString Enter = QStringLiteral("KP_Enter");
const QString Escape = QStringLiteral("Escape");
const KeyPath KeyPaths[] = {
    {"ModesAndLamps",
     {{{Space}, 16},            // AUTONOMO
      {{Tab, Space}, 8},        // MANUAL
      {{Tab, Tab, Space}, 9},   // past the picture to ROJO
      {{Tab, Space}, 10},       // AMBAR
      {{Tab, Space}, 12},       // VERDE
      {{Tab, Tab, Space}, 16}}, // past SALIR, PARAR hidden, AUTONOMO
     false},
    {"Stop",
     {{{Space}, 16},                     // AUTONOMO shows PARAR, hides the lamps
      {{Tab, Tab, Tab, Tab, Space}, 0}}, // MANUAL, picture, SALIR, PARAR
     false},
    {"Exit",
     {{{Tab, Space}, 8},                      // MANUAL
      {{Tab, Tab, Tab, Tab, Tab, Space}, 0}}, // picture, ROJO, AMBAR, VERDE, SALIR
     true},
    {"ReturnAndEnter",
     {{{Escape}, NoWrite},              // nothing, and no button is the default one
      {{Return}, 16},                   // AUTONOMO
      {{Tab, Enter}, 8},                // MANUAL, by the keypad's Enter
      {{Tab, Tab, Return, Escape}, 9}}, // past the picture to ROJO
     false},
};

class Keyboard : public ::testing::TestWithParam<KeyPath> {};

TEST_P(Keyboard, TabAndSpaceReachTheButtons) {
    ConsoleProcess console;
    ASSERT_TRUE(Started(console));
    std::vector<int> written = {0};
    for (const KeyStep& step : GetParam().steps) {
        SCOPED_TRACE(step.keys.join(QLatin1Char(' ')).toStdString());
        PressKeys(step.keys);
        ExpectWrite(console, written, step.write);
        if (HasFatalFailure()) {
            return;
        }
    }
    if (GetParam().exits) {
        ASSERT_TRUE(console.WaitForExit());
        EXPECT_EQ(console.ExitCode(), 0) << console.Errors();
        const std::vector<std::string> lines = console.TraceLines();
        EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), WritesOf({0}));
    }
    EXPECT_EQ(console.Errors().find("velantro:"), std::string::npos) << console.Errors();
    ExpectCleanTicks(console.CurrentTraffic(), GetParam().exits);
}

INSTANTIATE_TEST_SUITE_P(Paths, Keyboard, ::testing::ValuesIn(KeyPaths),
                         [](const auto& info) { return std::string(info.param.name); });

// Starts the console and lights the red lamp in the manual state.
void StartWithRedLit(ConsoleProcess& console) {
    ASSERT_TRUE(Started(console));
    std::vector<int> written = {0};
    console.Click(controls::Manual);
    ExpectWrite(console, written, 8);
    console.Click(controls::Rojo);
    ExpectWrite(console, written, 9);
}

TEST(Leaving, SalirSwitchesTheBoardOffAndEndsAtOnce) {
    ConsoleProcess console;
    StartWithRedLit(console);
    ASSERT_FALSE(HasFatalFailure());

    // A button clicks when it is released: the time runs from the release.
    PressButtonAt(console.MainWindow().origin + controls::Salir.center());
    using Clock = std::chrono::steady_clock;
    const Clock::time_point released = Clock::now();
    ReleaseButton();
    ASSERT_TRUE(console.WaitForExit());
    const std::chrono::duration<double, std::milli> toExit = Clock::now() - released;
    std::printf("SALIR: the program ended %.1f ms after the click\n", toExit.count());

    EXPECT_EQ(console.ExitCode(), 0) << console.Errors();
    const std::vector<std::string> lines = console.TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()), WritesOf({0}))
        << "the write of 0 must be the program's last traffic";
    const Traffic traffic = SplitTraffic(lines);
    EXPECT_EQ(traffic.others, WritesOf({0, 8, 9, 0}));
    ExpectCleanTicks(traffic, true);
    EXPECT_EQ(console.Errors().find("velantro:"), std::string::npos) << console.Errors();
}

TEST(Leaving, ClosingTheWindowWritesNothing) {
    ConsoleProcess console;
    StartWithRedLit(console);
    ASSERT_FALSE(HasFatalFailure());

    PressKeys({QStringLiteral("alt+F4")}); // openbox: close the active window
    ASSERT_TRUE(console.WaitForExit());

    EXPECT_EQ(console.ExitCode(), 0) << console.Errors();
    const Traffic traffic = console.CurrentTraffic();
    EXPECT_EQ(traffic.others, WritesOf({0, 8, 9}));
    ExpectCleanTicks(traffic, true);
    EXPECT_EQ(console.Errors().find("velantro:"), std::string::npos) << console.Errors();
}

} // namespace
} // namespace e2e
