// velantro: the operator console of the Velantro model traffic light.
#include "AccessibilityBuses.h"
#include "DesktopIdentity.h"
#include "Dispatch.h"
#include "DisplayPlatform.h"
#include "Form1.h"
#include "ProgramDirectory.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

struct HeldMessage {
    QtMsgType type;
    QString text;
};
std::vector<HeldMessage> heldMessages;
DisplayPlatform platform;

// While the application object is being made, Qt ends the program with a
// fatal message when no display platform starts: that becomes a Spanish
// report of the cause and exit status 1, before anything is written to the
// board. The English warnings that lead up to it are held back and dropped
// then; when start-up succeeds they are passed on.
void DuringStartUp(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtFatalMsg) {
        heldMessages.push_back({type, message});
        return;
    }
    // Qt's warning when it has no plugin of that name at all, as against one
    // that is there but cannot open its display.
    bool pluginMissing = false;
    for (const HeldMessage& held : heldMessages) {
        pluginMissing = pluginMissing ||
                        held.text.contains(QLatin1String("Could not find the Qt platform plugin"));
    }
    std::fputs(NoDisplayReport(platform, pluginMissing).c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

// The desktop identity of the program directory the console runs from. A
// directory that cannot be found is reported by the load handler; until then
// the console is plain Velantro.
DesktopIdentity Identity() {
    try {
        return DesktopIdentityFor(Module1_Velantro::ProgramDirectory(), VELANTRO_DESKTOP_BOARDS);
    } catch (const std::exception&) {
        return DesktopIdentityFor({}, {});
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // The console reads no command line, and hands Qt none of it either:
    // options such as -platform would change how it runs.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};

    platform = ChooseDisplayPlatform();
    // The X11 instance name, which Qt takes from RESOURCE_NAME (or else from
    // the name the program was started by); one set by the user is kept.
    const DesktopIdentity identity = Identity();
    if (!qEnvironmentVariableIsSet("RESOURCE_NAME")) {
        qputenv("RESOURCE_NAME", identity.desktopName.c_str());
    }
    const std::string busNotice = HoldBackSilentBuses(2000);
    const QtMessageHandler qtHandler = qInstallMessageHandler(DuringStartUp);
    QApplication application(qtArgc, qtArgv);
    qInstallMessageHandler(qtHandler);
    // A platform that started with nowhere to show the window ends the
    // console the same way, its English warnings dropped.
    const std::string noScreen =
        NoScreenReport(platform, QGuiApplication::platformName().toStdString(),
                       static_cast<int>(QGuiApplication::screens().size()));
    if (!noScreen.empty()) {
        std::fputs(noScreen.c_str(), stderr);
        return 1;
    }
    for (const HeldMessage& held : heldMessages) {
        qt_message_output(held.type, QMessageLogContext(), held.text);
    }
    heldMessages.clear();
    std::fputs(busNotice.c_str(), stderr);

    // Set before the first window is made: Qt takes the X11 class from the
    // application name then, and the Wayland application id from the
    // desktop file's name.
    QApplication::setApplicationName(QString::fromStdString(identity.applicationName));
    QApplication::setApplicationVersion(QStringLiteral(VELANTRO_APPLICATION_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromStdString(identity.desktopName));
    const QString icon = QString::fromStdString(identity.icon);
    QApplication::setWindowIcon(
        QIcon(QFile::exists(icon) ? icon : QStringLiteral(":/velantro.ico")));

    ReportBox reports;
    Dispatch dispatch(reports);
    Form1 form(dispatch);
    if (!form.Load()) {
        return dispatch.ExitStatus();
    }
    form.show();
    return QApplication::exec();
}
