// velantro: the operator console of the Velantro model traffic light.
#include "Dispatch.h"
#include "Form1.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velantro"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velantro.ico")));

    Form1 form;
    if (!form.Load()) {
        return Dispatch::ExitStatus();
    }
    form.show();
    return QApplication::exec();
}
