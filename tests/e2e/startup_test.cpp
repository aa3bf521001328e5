// The console's start-up as seen from outside: its first register traffic and
// the window it opens.
#include "ConsoleProcess.h"

#include <filesystem>

namespace e2e {
namespace {

TEST(Startup, SwitchesTheBoardOffThenOnlyReadsIt) {
    ConsoleProcess console;
    ASSERT_TRUE(Started(console));
    ASSERT_TRUE(console.WaitForTicksReading(0, 5, 0));

    const std::vector<std::string> lines = console.TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2), WritesOf({0}));
    const Traffic traffic = SplitTraffic(lines);
    EXPECT_EQ(traffic.others, WritesOf({0}));
    ExpectCleanTicks(traffic, false);
}

TEST(Startup, OpensItsWindowAtItsPlace) {
    ConsoleProcess console;
    ASSERT_TRUE(Started(console));

    // Found by its exact title; the client area is placed inside the frame.
    const WindowInfo& window = console.MainWindow();
    EXPECT_EQ(window.origin, controls::Window.topLeft());
    EXPECT_EQ(window.size, controls::Window.size());
    int viewable = 0;
    for (const WindowInfo& any : WindowsTitled(captions::Window)) {
        viewable += any.viewable ? 1 : 0;
    }
    EXPECT_EQ(viewable, 1);
}

// Without a display to open, the console says so in Spanish and ends before
// writing anything; options meant for Qt on its command line change nothing.
TEST(Startup, WithoutADisplayItSaysSoAndWritesNothing) {
    for (const QString& display : {QString(), QStringLiteral(":4093")}) {
        SCOPED_TRACE("DISPLAY=" + display.toStdString());
        ConsoleProcess console;
        ASSERT_TRUE(console.Start({}, display));
        ASSERT_TRUE(console.WaitForExit());
        EXPECT_EQ(console.ExitCode(), 1) << console.Errors();
        EXPECT_EQ(
            console.Errors().rfind("velantro: No se ha encontrado ninguna pantalla gráfica", 0), 0u)
            << console.Errors();
        EXPECT_FALSE(std::filesystem::exists(console.Port().TracePath()));
    }
}

TEST(Startup, QtOptionsOnTheCommandLineChangeNothing) {
    ConsoleProcess console;
    ASSERT_TRUE(console.Start(
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--help")}));
    ASSERT_TRUE(console.WaitUntilRunning()) << console.Errors();
    EXPECT_EQ(console.MainWindow().size, controls::Window.size());
}

} // namespace
} // namespace e2e
