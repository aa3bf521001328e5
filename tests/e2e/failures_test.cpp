// How the console ends on an error: a report on stderr, one message box
// titled VELANTRO, no register traffic after the failure, and exit status 1.
#include "ConsoleProcess.h"

#include <algorithm>
#include <filesystem>

namespace e2e {
namespace {

enum class Dismissal { Return, Space, ClickAceptar };

std::string DismissalName(const ::testing::TestParamInfo<Dismissal>& info) {
    switch (info.param) {
    case Dismissal::Return:
        return "Return";
    case Dismissal::Space:
        return "Space";
    case Dismissal::ClickAceptar:
        break;
    }
    return "ClickAceptar";
}

void Dismiss(const WindowInfo& box, Dismissal how) {
    if (how == Dismissal::ClickAceptar) {
        // The box's one button sits in its bottom-right corner, 80 x 24
        // pixels, 11 pixels in from both edges.
        ClickAt(box.origin + QPoint(box.size.width() - 51, box.size.height() - 23));
        return;
    }
    if (!WaitFor([&] { return ActiveWindow() == box.id; }, 2000)) {
        ActivateWindow(box.id);
    }
    PressKeys({how == Dismissal::Return ? QStringLiteral("Return") : QStringLiteral("space")});
}

// A message box is a dialog of the console's window, over its middle, once
// that window is on the screen (owner); before, it stands in the middle of
// the screen. The box's frame is centred, so its client area's centre lies
// up to a frame's border left of the middle and a title bar above it.
void ExpectBoxOver(const WindowInfo& box, const WindowInfo* owner) {
    const auto centre = [](QPoint origin, QSize size) {
        return origin + QPoint(size.width() / 2, size.height() / 2);
    };
    if (owner != nullptr) {
        EXPECT_EQ(TransientFor(box.id), owner->id);
    }
    const QPoint offset =
        (owner != nullptr ? centre(owner->origin, owner->size) : centre(QPoint(0, 0), ScreenSize)) -
        centre(box.origin, box.size);
    EXPECT_TRUE(offset.x() >= 0 && offset.x() <= 10 && offset.y() >= 0 && offset.y() <= 40)
        << "the box at " << ::testing::PrintToString(box.origin) << ", "
        << ::testing::PrintToString(box.size) << " is off the middle by "
        << ::testing::PrintToString(offset);
}

void PrintTo(Dismissal how, std::ostream* out) {
    *out << DismissalName(::testing::TestParamInfo<Dismissal>(how, 0));
}

class MissingLibrary : public ::testing::TestWithParam<Dismissal> {};

TEST_P(MissingLibrary, ReportsItInsteadOfOpeningTheWindow) {
    ConsoleProcess console(ConsoleProcess::PortLibrary::Missing);
    ASSERT_TRUE(console.Start());
    WindowInfo box;
    ASSERT_TRUE(console.WaitForMessageBox(box)) << console.Errors();

    const std::vector<std::string> reports = console.Reports();
    ASSERT_EQ(reports.size(), 1u) << console.Errors();
    EXPECT_NE(reports[0].find(console.ProgramDir() + "/libportio.so"), std::string::npos)
        << console.Errors();
    int viewable = 0;
    for (const WindowInfo& window : WindowsTitled(captions::Window)) {
        EXPECT_NE(window.size, controls::Window.size()) << "the main window exists";
        viewable += window.viewable ? 1 : 0;
    }
    EXPECT_EQ(viewable, 1);
    EXPECT_TRUE(console.Running()) << "the program must wait for the box";
    ExpectBoxOver(box, nullptr);

    Dismiss(box, GetParam());
    ASSERT_TRUE(console.WaitForExit()) << "the box did not close";
    EXPECT_EQ(console.ExitCode(), 1) << console.Errors();
    EXPECT_FALSE(std::filesystem::exists(console.Port().TracePath()));
}

INSTANTIATE_TEST_SUITE_P(Dismissals, MissingLibrary,
                         ::testing::Values(Dismissal::Return, Dismissal::Space,
                                           Dismissal::ClickAceptar),
                         DismissalName);

// One failing port call. The rule is written once the console runs and the
// clicks in before have put it in the state the call needs.
struct PortFailure {
    const char* name;
    std::vector<const QRect*> before; // clicks before the rule is written
    const char* rule;                 // for the recording library
    const QRect* click;               // what makes the console call it; nothing for a tick
    const char* failedCall;           // as the trace records it
    const char* previous;             // the call just before it, which stands; or nothing
    const char* reason;               // as the library gives it
};

void PrintTo(const PortFailure& failure, std::ostream* out) {
    *out << failure.rule;
}

// Every position of the two register sequences, in a tick and in each command.
// The script answers 0 to the first read of a tick and 8 to the second, so the
// rule can tell them apart.
const PortFailure PortFailures[] = {
    {"TickSelectsFirstGroup",
     {},
     "PortOut 890 3",
     nullptr,
     "PortOut 890 3 FAIL",
     nullptr,
     "PortOut(890, 3)"},
    {"TickReadsFirstGroup",
     {},
     "PortIn 889 0",
     nullptr,
     "PortIn 889 0 FAIL",
     "PortOut 890 3",
     "PortIn(889)"},
    {"TickSelectsSecondGroup",
     {},
     "PortOut 890 1",
     nullptr,
     "PortOut 890 1 FAIL",
     "PortIn 889 0",
     "PortOut(890, 1)"},
    {"TickReadsSecondGroup",
     {},
     "PortIn 889 8",
     nullptr,
     "PortIn 889 8 FAIL",
     "PortOut 890 1",
     "PortIn(889)"},
    {"AutonomoControl",
     {},
     "PortOut 890 7",
     &controls::Autonomo,
     "PortOut 890 7 FAIL",
     nullptr,
     "PortOut(890, 7)"},
    {"AutonomoData",
     {},
     "PortOut 888 16",
     &controls::Autonomo,
     "PortOut 888 16 FAIL",
     "PortOut 890 7",
     "PortOut(888, 16)"},
    {"ManualControl",
     {&controls::Autonomo},
     "PortOut 890 7",
     &controls::Manual,
     "PortOut 890 7 FAIL",
     nullptr,
     "PortOut(890, 7)"},
    {"ManualData",
     {},
     "PortOut 888 8",
     &controls::Manual,
     "PortOut 888 8 FAIL",
     "PortOut 890 7",
     "PortOut(888, 8)"},
    {"RojoData",
     {&controls::Manual},
     "PortOut 888 9",
     &controls::Rojo,
     "PortOut 888 9 FAIL",
     "PortOut 890 7",
     "PortOut(888, 9)"},
    {"AmbarControl",
     {&controls::Manual},
     "PortOut 890 7",
     &controls::Ambar,
     "PortOut 890 7 FAIL",
     nullptr,
     "PortOut(890, 7)"},
    {"VerdeData",
     {&controls::Manual},
     "PortOut 888 12",
     &controls::Verde,
     "PortOut 888 12 FAIL",
     "PortOut 890 7",
     "PortOut(888, 12)"},
    {"PararData",
     {&controls::Autonomo},
     "PortOut 888 0",
     &controls::Parar,
     "PortOut 888 0 FAIL",
     "PortOut 890 7",
     "PortOut(888, 0)"},
    {"SalirControl",
     {},
     "PortOut 890 7",
     &controls::Salir,
     "PortOut 890 7 FAIL",
     nullptr,
     "PortOut(890, 7)"},
    {"SalirData",
     {&controls::Manual},
     "PortOut 888 0",
     &controls::Salir,
     "PortOut 888 0 FAIL",
     "PortOut 890 7",
     "PortOut(888, 0)"},
};

class FailingPort : public ::testing::TestWithParam<PortFailure> {};

TEST_P(FailingPort, StopsAllTrafficAndReportsTheReason) {
    const PortFailure& failure = GetParam();
    ConsoleProcess console;
    console.Port().Script(0x00, 0x08);
    ASSERT_TRUE(Started(console));
    for (const QRect* control : failure.before) {
        const std::size_t others = console.CurrentTraffic().others.size();
        console.Click(*control);
        ASSERT_TRUE(console.WaitForOtherTraffic(others + 2));
    }
    console.Port().FailOn(failure.rule);
    if (failure.click != nullptr) {
        console.Click(*failure.click);
    }
    WindowInfo box;
    ASSERT_TRUE(console.WaitForMessageBox(box)) << console.Errors();

    const std::vector<std::string> reports = console.Reports();
    ASSERT_EQ(reports.size(), 1u) << console.Errors();
    EXPECT_NE(reports[0].find(std::string("fallo simulado por la biblioteca de pruebas en ") +
                              failure.reason),
              std::string::npos)
        << console.Errors();
    const std::vector<std::string> lines = console.TraceLines();
    const Traffic traffic = SplitTraffic(lines);
    EXPECT_EQ(traffic.failure, failure.failedCall);
    EXPECT_EQ(traffic.afterFailure, std::vector<std::string>());
    if (failure.previous != nullptr) {
        const auto failed = std::find(lines.begin(), lines.end(), failure.failedCall);
        ASSERT_NE(failed, lines.begin());
        EXPECT_EQ(*(failed - 1), failure.previous);
    }
    EXPECT_TRUE(console.Running()) << "the program must wait for the box";
    ExpectBoxOver(box, &console.MainWindow());

    Dismiss(box, Dismissal::Return);
    ASSERT_TRUE(console.WaitForExit()) << "the box did not close";
    EXPECT_EQ(console.ExitCode(), 1) << console.Errors();
    EXPECT_EQ(console.TraceLines(), lines) << "traffic after the box was shown";
}

INSTANTIATE_TEST_SUITE_P(Calls, FailingPort, ::testing::ValuesIn(PortFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A failing start-up write: the report instead of the window, nothing after.
class FailingStartUp : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(FailingStartUp, ShowsTheReportAndNeverTheWindow) {
    const auto& [rule, traffic] = GetParam();
    ConsoleProcess console;
    console.Port().FailOn(rule);
    ASSERT_TRUE(console.Start());
    WindowInfo box;
    ASSERT_TRUE(console.WaitForMessageBox(box)) << console.Errors();
    EXPECT_NE(console.Errors().find("fallo simulado"), std::string::npos) << console.Errors();
    for (const WindowInfo& window : WindowsTitled(captions::Window)) {
        EXPECT_NE(window.size, controls::Window.size()) << "the main window exists";
    }
    ExpectBoxOver(box, nullptr);
    Dismiss(box, Dismissal::Return);
    ASSERT_TRUE(console.WaitForExit()) << "the box did not close";
    EXPECT_EQ(console.ExitCode(), 1) << console.Errors();
    std::string all;
    for (const std::string& line : console.TraceLines()) {
        all += line + ";";
    }
    EXPECT_EQ(all, traffic);
}

INSTANTIATE_TEST_SUITE_P(Writes, FailingStartUp,
                         ::testing::Values(std::pair{"PortOut 890 7", "PortOut 890 7 FAIL;"},
                                           std::pair{"PortOut 888 0",
                                                     "PortOut 890 7;PortOut 888 0 FAIL;"}),
                         [](const auto& info) { return info.index == 0 ? "Control" : "Data"; });

} // namespace
} // namespace e2e
