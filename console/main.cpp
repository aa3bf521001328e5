// velantro: the operator console of the Velantro model traffic light.
#include "Dispatch.h"
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

// While the application object is being made, Qt ends the program with a
// fatal message when it finds no display to open: that becomes a Spanish
// report and exit status 1, before anything is written to the board. The
// English warnings that lead up to it are held back and dropped then; when
// start-up succeeds they are passed on.
void DuringStartUp(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtFatalMsg) {
        heldMessages.push_back({type, message});
        return;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr, "velantro: No se ha encontrado ninguna pantalla gráfica: la variable "
                             "DISPLAY está vacía. Arranque la consola desde el escritorio.\n");
    } else {
        std::fprintf(stderr,
                     "velantro: No se ha encontrado ninguna pantalla gráfica: la pantalla «%s» "
                     "(variable DISPLAY) no acepta la conexión. Arranque la consola desde el "
                     "escritorio.\n",
                     display);
    }
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char* argv[]) {
    // The console reads no command line, and hands Qt none of it either:
    // options such as -platform would change how it runs.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};

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

    LimitPictureDecoding();
    ReportBox reports;
    Dispatch dispatch(reports);
    Form1 form(dispatch);
    if (!form.Load()) {
        return dispatch.ExitStatus();
    }
    form.show();
    return QApplication::exec();
}
