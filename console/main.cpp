// velantro: the operator console of the Velantro model traffic light.
#include "Dispatch.h"
#include "DisplayPlatform.h"
#include "Form1.h"
#include "PictureFile.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
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

} // namespace

int main(int argc, char* argv[]) {
    // The console reads no command line, and hands Qt none of it either:
    // options such as -platform would change how it runs.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};

    platform = ChooseDisplayPlatform();
    const QtMessageHandler qtHandler = qInstallMessageHandler(DuringStartUp);
    QApplication application(qtArgc, qtArgv);
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage& held : heldMessages) {
        qt_message_output(held.type, QMessageLogContext(), held.text);
    }
    heldMessages.clear();

    QApplication::setApplicationName(QStringLiteral("Velantro"));
    QApplication::setApplicationVersion(QStringLiteral(VELANTRO_APPLICATION_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velantro.ico")));

    ReportBox reports;
    Dispatch dispatch(reports);
    Form1 form(dispatch);
    if (!form.Load()) {
        return dispatch.ExitStatus();
    }
    form.show();
    return QApplication::exec();
}
