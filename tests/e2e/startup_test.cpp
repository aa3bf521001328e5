// The console's start-up as seen from outside: its first register traffic and
// the window it opens.
#include "ConsoleProcess.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

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
        const std::vector<std::string> reports = console.Reports();
        ASSERT_EQ(reports.size(), 1u) << console.Errors();
        EXPECT_EQ(reports[0].rfind("velantro: No se ha encontrado ninguna pantalla gráfica", 0), 0u)
            << console.Errors();
        EXPECT_FALSE(std::filesystem::exists(console.Port().TracePath()));
    }
}

// A session as a desktop offers it to the console, under weston with Xwayland.
struct DisplaySession {
    const char* name;
    const char* display;  // XwaylandX: the session's X server; XvfbX: the tests'
    const char* wayland;  // WaylandSocket: the session's; nullptr: unset
    const char* platform; // QT_QPA_PLATFORM; nullptr: unset
    const char* report;   // what the console says, after "velantro: "; nullptr: it runs
};
constexpr const char* XwaylandX = "<Xwayland>";
constexpr const char* XvfbX = "<Xvfb>";
constexpr const char* WaylandSocket = "<weston>";

void PrintTo(const DisplaySession& session, std::ostream* out) {
    *out << session.name;
}

const DisplaySession DisplaySessions[] = {
    // A GNOME or KDE desktop: the console is an X11 window, as on an X11 one.
    {"WaylandDesktop", XwaylandX, WaylandSocket, nullptr, nullptr},
    {"WaylandAlone", "", WaylandSocket, nullptr, nullptr},
    {"WaylandUnserved", "", "wayland-ninguno", nullptr,
     "No se ha encontrado ninguna pantalla gráfica: la pantalla Wayland «wayland-ninguno» "
     "(variable WAYLAND_DISPLAY) no acepta la conexión. Arranque la consola desde el escritorio."},
    {"NoDisplayAtAll", "", nullptr, nullptr,
     "No se ha encontrado ninguna pantalla gráfica: las variables DISPLAY y WAYLAND_DISPLAY "
     "están vacías. Arranque la consola desde el escritorio."},
    {"WaylandAskedOnX11", XvfbX, nullptr, "wayland",
     "No se ha encontrado ninguna pantalla gráfica para la plataforma «wayland» (variable "
     "QT_QPA_PLATFORM): la variable WAYLAND_DISPLAY está vacía. Arranque la consola desde el "
     "escritorio."},
    {"PlatformNotInstalled", XvfbX, WaylandSocket, "ninguna",
     "No se puede abrir la ventana: la plataforma gráfica «ninguna» (variable QT_QPA_PLATFORM) "
     "no está instalada en este equipo."},
    // Qt's framebuffer platform starts even where there is no framebuffer.
    {"FramebufferAbsent", "", nullptr, "linuxfb:fb=/dev/velantro-ninguno",
     "No se puede abrir la ventana: la plataforma gráfica «linuxfb:fb=/dev/velantro-ninguno» "
     "(variable QT_QPA_PLATFORM) arranca, pero no ofrece ninguna pantalla: no hay ningún "
     "framebuffer que pueda abrir."},
};

class DisplaySessionTest : public ::testing::TestWithParam<DisplaySession> {};

TEST_P(DisplaySessionTest, RunsOrNamesWhatKeepsItFromStarting) {
    const DisplaySession& session = GetParam();
    WaylandSession wayland;
    ASSERT_TRUE(wayland.Start());
    const QString display = session.display == XwaylandX ? wayland.XDisplay()
                            : session.display == XvfbX   ? X11Session::Display()
                                                         : QString::fromUtf8(session.display);
    ConsoleProcess console;
    console.SetVariable(QStringLiteral("XDG_RUNTIME_DIR"), wayland.RuntimeDir());
    if (session.wayland == WaylandSocket) {
        // As a desktop session says it; Qt alone would then go native.
        console.SetVariable(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    }
    if (session.wayland != nullptr) {
        console.SetVariable(QStringLiteral("WAYLAND_DISPLAY"),
                            session.wayland == WaylandSocket ? WaylandSession::Socket()
                                                             : QString::fromUtf8(session.wayland));
    }
    if (session.platform != nullptr) {
        console.SetVariable(QStringLiteral("QT_QPA_PLATFORM"), QString::fromUtf8(session.platform));
    }
    ASSERT_TRUE(console.Start({}, display));

    if (session.report != nullptr) {
        ASSERT_TRUE(console.WaitForExit());
        EXPECT_EQ(console.ExitCode(), 1);
        EXPECT_EQ(console.Reports(),
                  std::vector<std::string>{"velantro: " + std::string(session.report)})
            << console.Errors();
        EXPECT_FALSE(std::filesystem::exists(console.Port().TracePath()));
        return;
    }
    ASSERT_TRUE(
        WaitFor([&] { return !console.CurrentTraffic().reads.empty() || !console.Running(); }));
    if (session.display == XwaylandX) {
        std::vector<WindowInfo> shown;
        ASSERT_TRUE(WaitFor([&] {
            shown = WindowsTitled(captions::Window, display);
            shown.erase(std::remove_if(shown.begin(), shown.end(),
                                       [](const WindowInfo& window) { return !window.viewable; }),
                        shown.end());
            return !shown.empty();
        })) << "no X11 window; stderr:\n"
            << console.Errors();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].size, controls::Window.size());
    } else {
        // Natively on Wayland: the compositor places the window, and the
        // console keeps polling the board.
        const std::size_t before = console.CurrentTraffic().reads.size();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_GT(console.CurrentTraffic().reads.size(), before);
    }
    EXPECT_TRUE(console.Running()) << console.Errors();
    EXPECT_EQ(console.Reports(), std::vector<std::string>()) << console.Errors();
    const Traffic traffic = console.CurrentTraffic();
    EXPECT_EQ(traffic.others, WritesOf({0}));
    ExpectCleanTicks(traffic, false);
}

INSTANTIATE_TEST_SUITE_P(Sessions, DisplaySessionTest, ::testing::ValuesIn(DisplaySessions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, QtOptionsOnTheCommandLineChangeNothing) {
    ConsoleProcess console;
    ASSERT_TRUE(console.Start(
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--help")}));
    ASSERT_TRUE(console.WaitUntilRunning()) << console.Errors();
    EXPECT_EQ(console.MainWindow().size, controls::Window.size());
}

} // namespace
} // namespace e2e
