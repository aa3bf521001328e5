#include "X11Session.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <chrono>
#include <cstdio>
#include <thread>

namespace e2e {

namespace {

QString& DisplayName() {
    static QString name;
    return name;
}

// The tools the tests run, with the Debian package that has each.
struct Tool {
    const char* program;
    const char* package;
};
constexpr Tool RequiredTools[] = {
    {"Xvfb", "xvfb"},          {"openbox", "openbox"}, {"xdotool", "xdotool"},
    {"xwininfo", "x11-utils"}, {"xprop", "x11-utils"}, {"import", "imagemagick"},
};

// Only what the tests rely on: new windows get the focus, a click focuses
// the window it lands on, and Alt+F4 asks the active window to close. The
// user's own openbox settings are not read.
constexpr const char* WindowManagerConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew></focus>
  <keyboard>
    <keybind key="A-F4"><action name="Close"/></keybind>
  </keyboard>
  <mouse>
    <context name="Client">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
  </mouse>
</openbox_config>
)";

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

int Field(const QString& text, const QString& label) {
    const QRegularExpression pattern(QRegularExpression::escape(label) +
                                     QStringLiteral(":\\s+(-?\\d+)"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

bool WaitFor(const std::function<bool()>& condition, int timeoutMilliseconds) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (condition()) {
            return true;
        }
        if (clock.elapsed() > timeoutMilliseconds) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

CommandResult RunCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    return RunProcess(process, program, arguments);
}

CommandResult RunProcess(QProcess& process, const QString& program, const QStringList& arguments) {
    CommandResult result;
    process.start(program, arguments);
    if (!process.waitForStarted(WaitMilliseconds)) {
        return result;
    }
    if (!process.waitForFinished(WaitMilliseconds)) {
        Stop(process);
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}

std::vector<WindowInfo> WindowsTitled(const QString& title, const QString& display) {
    std::vector<WindowInfo> windows;
    const QStringList on =
        display.isEmpty() ? QStringList() : QStringList{QStringLiteral("-display"), display};
    const CommandResult tree =
        RunCommand(QStringLiteral("xwininfo"),
                   on + QStringList{QStringLiteral("-root"), QStringLiteral("-tree")});
    // A line of the tree: "   0x400006 "VELANTRO": ("velantro" "velantro")  582x566+1+20  +131+58"
    const QRegularExpression line(QStringLiteral("^\\s*(0x[0-9a-fA-F]+) \"(.*)\":"),
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(QString::fromLocal8Bit(tree.output)); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(2) != title) {
            continue;
        }
        const CommandResult details = RunCommand(
            QStringLiteral("xwininfo"), on + QStringList{QStringLiteral("-id"), match.captured(1)});
        if (!details.finished || details.exitCode != 0) {
            continue; // gone in the meantime
        }
        const QString text = QString::fromLocal8Bit(details.output);
        WindowInfo window;
        window.id = match.captured(1).toULong(nullptr, 16);
        window.origin = QPoint(Field(text, QStringLiteral("Absolute upper-left X")),
                               Field(text, QStringLiteral("Absolute upper-left Y")));
        window.size =
            QSize(Field(text, QStringLiteral("Width")), Field(text, QStringLiteral("Height")));
        window.viewable = text.contains(QStringLiteral("Map State: IsViewable"));
        windows.push_back(window);
    }
    return windows;
}

unsigned long ActiveWindow() {
    const CommandResult result =
        RunCommand(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
    return result.exitCode == 0 ? result.output.trimmed().toULong() : 0;
}

void ActivateWindow(unsigned long id) {
    RunCommand(QStringLiteral("xdotool"),
               {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(id)});
}

unsigned long TransientFor(unsigned long id) {
    // "WM_TRANSIENT_FOR(WINDOW): window id # 0x400006", or "not found."
    const CommandResult result =
        RunCommand(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id),
                                             QStringLiteral("WM_TRANSIENT_FOR")});
    const qsizetype hash = result.output.indexOf('#');
    return result.exitCode == 0 && hash >= 0
               ? result.output.mid(hash + 1).trimmed().toULong(nullptr, 16)
               : 0;
}

void ResizeWindow(unsigned long id, QSize size) {
    RunCommand(QStringLiteral("xdotool"),
               {QStringLiteral("windowsize"), QStringLiteral("--sync"), QString::number(id),
                QString::number(size.width()), QString::number(size.height())});
}

void PressButtonAt(QPoint screenPoint) {
    // "mousemove --sync" waits until the pointer has moved, which takes long
    // when it is at the point already: a step beside it comes first.
    const QString x = QString::number(screenPoint.x());
    const QString y = QString::number(screenPoint.y());
    RunCommand(QStringLiteral("xdotool"),
               {QStringLiteral("mousemove"), QString::number(screenPoint.x() + 1), y,
                QStringLiteral("mousemove"), QStringLiteral("--sync"), x, y,
                QStringLiteral("mousedown"), QStringLiteral("1")});
}

void ReleaseButton() {
    RunCommand(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), QStringLiteral("1")});
}

void ClickAt(QPoint screenPoint) {
    PressButtonAt(screenPoint);
    ReleaseButton();
}

void PressKeys(const QStringList& keys) {
    RunCommand(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + keys);
    // A key that closes its window may never see its release; the X server
    // would then repeat it into every later window on this display.
    RunCommand(QStringLiteral("xdotool"), QStringList{QStringLiteral("keyup")} + keys);
}

QImage GrabWindow(unsigned long id) {
    const CommandResult shot =
        RunCommand(QStringLiteral("import"),
                   {QStringLiteral("-silent"), QStringLiteral("-window"),
                    QStringLiteral("0x") + QString::number(id, 16), QStringLiteral("png:-")});
    if (shot.exitCode != 0) {
        return {};
    }
    return QImage::fromData(shot.output, "PNG").convertToFormat(QImage::Format_RGB32);
}

X11Session::X11Session() = default;

X11Session::~X11Session() = default;

QString X11Session::Display() {
    return DisplayName();
}

void X11Session::SetUp() {
    std::string missing;
    for (const Tool& tool : RequiredTools) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool.program)).isEmpty()) {
            missing += std::string(missing.empty() ? " " : ", ") + tool.program + " (package " +
                       tool.package + ")";
        }
    }
    if (!missing.empty()) {
        FAIL() << "The end-to-end tests need these programs, which are not installed:" << missing;
    }
    dir_ = std::make_unique<testsupport::TempDir>();
    StartServer();
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    StartWindowManager();
}

void X11Session::StartServer() {
    // -displayfd 1: Xvfb picks a free display and writes its number to its
    // standard output once it accepts clients.
    const std::string log = dir_->File("xvfb.log");
    server_ = std::make_unique<QProcess>();
    server_->setStandardErrorFile(QString::fromStdString(log));
    server_->start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"),
                    QStringLiteral("%1x%2x24").arg(ScreenSize.width()).arg(ScreenSize.height()),
                    QStringLiteral("-dpi"), QStringLiteral("96"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")});
    ASSERT_TRUE(server_->waitForStarted(WaitMilliseconds)) << "Xvfb did not start";
    QByteArray number;
    WaitFor([&] {
        server_->waitForReadyRead(50);
        number += server_->readAllStandardOutput();
        return number.contains('\n') || server_->state() == QProcess::NotRunning;
    });
    ASSERT_TRUE(number.contains('\n')) << "Xvfb gave no display number; its log:\n"
                                       << testsupport::ReadFile(log);
    DisplayName() = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    // Every X tool the tests run, and the console, use this display.
    qputenv("DISPLAY", DisplayName().toLocal8Bit());
}

void X11Session::StartWindowManager() {
    const std::string config = dir_->File("rc.xml");
    const std::string log = dir_->File("openbox.log");
    testsupport::WriteFile(config, WindowManagerConfig);
    windowManager_ = std::make_unique<QProcess>();
    // openbox tells some of its reasons for giving up on standard output.
    windowManager_->setProcessChannelMode(QProcess::MergedChannels);
    windowManager_->setStandardOutputFile(QString::fromStdString(log));
    windowManager_->start(QStringLiteral("openbox"),
                          {QStringLiteral("--config-file"), QString::fromStdString(config),
                           QStringLiteral("--sm-disable")});
    ASSERT_TRUE(windowManager_->waitForStarted(WaitMilliseconds)) << "openbox did not start";

    // A window manager that is up names its check window on the root window.
    const bool up = WaitFor([] {
        const CommandResult check =
            RunCommand(QStringLiteral("xprop"),
                       {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        const qsizetype hash = check.output.indexOf('#');
        if (check.exitCode != 0 || hash < 0) {
            return false;
        }
        const CommandResult name = RunCommand(
            QStringLiteral("xprop"),
            {QStringLiteral("-id"), QString::fromLatin1(check.output.mid(hash + 1).trimmed()),
             QStringLiteral("_NET_WM_NAME")});
        return name.output.contains("Openbox");
    });
    if (!up) {
        windowManager_->waitForFinished(0); // notices an exit that happened meanwhile
    }
    ASSERT_TRUE(up) << "openbox did not take over the display " << DisplayName().toStdString()
                    << " ("
                    << (windowManager_->state() == QProcess::NotRunning
                            ? "it ended with status " + std::to_string(windowManager_->exitCode())
                            : std::string("it still runs"))
                    << "); its log:\n"
                    << testsupport::ReadFile(log);
}

void X11Session::TearDown() {
    if (windowManager_) {
        Stop(*windowManager_);
    }
    if (server_) {
        Stop(*server_);
    }
    // After a failure, what the display's own programs said is kept in the
    // output, since their directory goes with the session.
    if (dir_ && ::testing::UnitTest::GetInstance()->Failed()) {
        for (const char* log : {"xvfb.log", "openbox.log"}) {
            std::printf("---- %s\n%s", log, testsupport::ReadFile(dir_->File(log)).c_str());
        }
    }
    dir_.reset();
}

WaylandSession::WaylandSession() = default;

WaylandSession::~WaylandSession() {
    if (compositor_) {
        Stop(*compositor_);
    }
}

QString WaylandSession::RuntimeDir() const {
    return QString::fromStdString(dir_->Path());
}

::testing::AssertionResult WaylandSession::Start() {
    for (const char* program : {"weston", "Xwayland"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            return ::testing::AssertionFailure()
                   << program << " is not installed (packages weston and xwayland)";
        }
    }
    dir_ = std::make_unique<testsupport::TempDir>(); // private, as a runtime directory must be
    const std::string log = dir_->File("weston.log");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), RuntimeDir());
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"}) {
        environment.remove(QString::fromLatin1(name));
    }
    compositor_ = std::make_unique<QProcess>();
    compositor_->setProcessEnvironment(environment);
    compositor_->setProcessChannelMode(QProcess::MergedChannels);
    compositor_->setStandardOutputFile(QString::fromStdString(log));
    // Backends are named by their module up to weston 11; later ones still
    // take that name.
    compositor_->start(QStringLiteral("weston"),
                       {QStringLiteral("--backend=headless-backend.so"),
                        QStringLiteral("--xwayland"), QStringLiteral("--idle-time=0"),
                        QStringLiteral("--socket=") + Socket()});
    if (!compositor_->waitForStarted(WaitMilliseconds)) {
        return ::testing::AssertionFailure() << "weston did not start";
    }
    // Its log names the X display once Xwayland listens there.
    const QRegularExpression listening(QStringLiteral("listening on display (:\\d+)"));
    WaitFor([&] {
        const QRegularExpressionMatch match =
            listening.match(QString::fromStdString(testsupport::ReadFile(log)));
        xDisplay_ = match.captured(1);
        return (!xDisplay_.isEmpty() && QFileInfo::exists(RuntimeDir() + "/" + Socket())) ||
               compositor_->state() == QProcess::NotRunning;
    });
    if (compositor_->state() == QProcess::NotRunning || xDisplay_.isEmpty()) {
        return ::testing::AssertionFailure() << "weston serves no clients; its log:\n"
                                             << testsupport::ReadFile(log);
    }
    return ::testing::AssertionSuccess();
}

} // namespace e2e
