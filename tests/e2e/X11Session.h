// An X display of the tests' own: Xvfb with openbox as window manager, and the
// X tools through which the tests look at it and act on it as a user would.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

class QProcess;

namespace testsupport {
class TempDir;
}

namespace e2e {

// How long any wait for the display or the console lasts before a test gives
// up: far beyond what a loaded machine needs.
constexpr int WaitMilliseconds = 20000;

// Polls condition until it holds; false when the time ran out first.
bool WaitFor(const std::function<bool()>& condition, int timeoutMilliseconds = WaitMilliseconds);

struct CommandResult {
    bool finished = false; // ran to its end, not killed nor timed out
    int exitCode = -1;
    QByteArray output;
};

// Runs a program to its end and gives its standard output.
CommandResult RunCommand(const QString& program, const QStringList& arguments);
// The same with a process set up by the caller (environment, working
// directory, channels).
CommandResult RunProcess(QProcess& process, const QString& program, const QStringList& arguments);

struct WindowInfo {
    unsigned long id = 0;
    QPoint origin; // of the client area, in screen coordinates
    QSize size;    // of the client area
    bool viewable = false;
};

// Every window whose title is exactly title, mapped or not, on the tests'
// display or on the X display given.
std::vector<WindowInfo> WindowsTitled(const QString& title, const QString& display = QString());

// The window the window manager has made active; 0 when none.
unsigned long ActiveWindow();

// Asks the window manager to activate a window.
void ActivateWindow(unsigned long id);

// The window a window is a dialog of (its WM_TRANSIENT_FOR); 0 when none.
unsigned long TransientFor(unsigned long id);

// The left mouse button pressed at a point of the screen, once the pointer
// got there, and released where the pointer is.
void PressButtonAt(QPoint screenPoint);
void ReleaseButton();

// Has the window manager give a window's client area a new size, and waits
// until it has it.
void ResizeWindow(unsigned long id, QSize size);

// A left click at a point of the screen: press and release.
void ClickAt(QPoint screenPoint);

// Key presses, one after another, to the window that has the focus, e.g.
// "Tab", "space", "alt+F4".
void PressKeys(const QStringList& keys);

// What a window shows now, in its own coordinates; null when grabbing failed.
QImage GrabWindow(unsigned long id);

// The size of the tests' screen.
inline constexpr QSize ScreenSize{1024, 768};

// Starts the display and the window manager before the first test and stops
// them after the last. Fails the run when the X tools are missing.
class X11Session : public ::testing::Environment {
public:
    X11Session();
    ~X11Session() override;

    void SetUp() override;
    void TearDown() override;

    // ":N" of the running display.
    static QString Display();

private:
    void StartServer();
    void StartWindowManager();

    std::unique_ptr<testsupport::TempDir> dir_;
    std::unique_ptr<QProcess> server_;
    std::unique_ptr<QProcess> windowManager_;
};

// A Wayland session of a test's own: weston's headless compositor, with the
// Xwayland X server it starts for X11 clients, as a Wayland desktop runs them.
class WaylandSession {
public:
    WaylandSession();
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // Starts the compositor and waits until it serves clients.
    ::testing::AssertionResult Start();

    // What a session gives its programs: its private runtime directory, the
    // name of its Wayland socket there, and ":N" of its X server.
    QString RuntimeDir() const;
    static QString Socket() { return QStringLiteral("velantro-wayland"); }
    QString XDisplay() const { return xDisplay_; }

private:
    std::unique_ptr<testsupport::TempDir> dir_;
    std::unique_ptr<QProcess> compositor_;
    QString xDisplay_;
};

} // namespace e2e
