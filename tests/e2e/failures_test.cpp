// How the console ends on an error: a report on stderr, one message box
// titled VELANTRO, no register traffic after the failure, and exit status 1.
#include "ConsoleProcess.h"

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

void PrintTo(Dismissal how, std::ostream* out) {
    *out << DismissalName(::testing::TestParamInfo<Dismissal>(how, 0));
}

class MissingLibrary : public ::testing::TestWithParam<Dismissal> {};

TEST_P(MissingLibrary, ReportsItInsteadOfOpeningTheWindow) {
    ConsoleProcess console(ConsoleProcess::PortLibrary::Missing);
    ASSERT_TRUE(console.Start());
    WindowInfo box;
    ASSERT_TRUE(console.WaitForMessageBox(box)) << console.Errors();

    const std::string errors = console.Errors();
    EXPECT_EQ(errors.rfind("velantro: ", 0), 0u) << errors;
    EXPECT_NE(errors.find(console.ProgramDir() + "/libportio.so"), std::string::npos) << errors;
    int viewable = 0;
    for (const WindowInfo& window : WindowsTitled(MainTitle)) {
        EXPECT_NE(window.size, MainClientSize) << "the main window exists";
        viewable += window.viewable ? 1 : 0;
    }
    EXPECT_EQ(viewable, 1);
    EXPECT_TRUE(console.Running()) << "the program must wait for the box";

    Dismiss(box, GetParam());
    ASSERT_TRUE(console.WaitForExit()) << "the box did not close";
    EXPECT_EQ(console.ExitCode(), 1);
    EXPECT_FALSE(std::filesystem::exists(console.Port().TracePath()));
}

INSTANTIATE_TEST_SUITE_P(Dismissals, MissingLibrary,
                         ::testing::Values(Dismissal::Return, Dismissal::Space,
                                           Dismissal::ClickAceptar),
                         DismissalName);

struct PortFailure {
    const char* name;
    const char* rule;       // for the recording library, written while the console runs
    const QRect* click;     // what makes the console call it; nothing for a tick
    const char* failedCall; // as the trace records it
    const char* reason;     // as the library gives it
};

void PrintTo(const PortFailure& failure, std::ostream* out) {
    *out << failure.rule;
}

const PortFailure PortFailures[] = {
    {"DataWrite", "PortOut 888 16", &controls::Autonomo, "PortOut 888 16 FAIL",
     "fallo simulado por la biblioteca de pruebas en PortOut(888, 16)"},
    {"ControlWrite", "PortOut 890 7", &controls::Manual, "PortOut 890 7 FAIL",
     "fallo simulado por la biblioteca de pruebas en PortOut(890, 7)"},
    {"StatusRead", "PortIn 889", nullptr, "PortIn 889 0 FAIL",
     "fallo simulado por la biblioteca de pruebas en PortIn(889)"},
};

class FailingPort : public ::testing::TestWithParam<PortFailure> {};

TEST_P(FailingPort, StopsAllTrafficAndReportsTheReason) {
    const PortFailure& failure = GetParam();
    ConsoleProcess console;
    ASSERT_TRUE(Started(console));
    console.Port().FailOn(failure.rule);
    if (failure.click != nullptr) {
        console.Click(*failure.click);
    }
    WindowInfo box;
    ASSERT_TRUE(console.WaitForMessageBox(box)) << console.Errors();

    const std::string errors = console.Errors();
    EXPECT_NE(errors.find("velantro: "), std::string::npos) << errors;
    EXPECT_NE(errors.find(failure.reason), std::string::npos) << errors;
    const std::vector<std::string> lines = console.TraceLines();
    const Traffic traffic = SplitTraffic(lines);
    EXPECT_EQ(traffic.failure, failure.failedCall);
    EXPECT_EQ(traffic.afterFailure, std::vector<std::string>());
    EXPECT_EQ(traffic.faults, std::vector<std::string>());
    EXPECT_TRUE(console.Running()) << "the program must wait for the box";

    Dismiss(box, Dismissal::Return);
    ASSERT_TRUE(console.WaitForExit()) << "the box did not close";
    EXPECT_EQ(console.ExitCode(), 1);
    EXPECT_EQ(console.TraceLines(), lines) << "traffic after the box was shown";
}

INSTANTIATE_TEST_SUITE_P(Calls, FailingPort, ::testing::ValuesIn(PortFailures),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace e2e
