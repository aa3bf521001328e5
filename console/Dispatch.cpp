#include "Dispatch.h"

#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>

namespace {

// The console's window while it is on the screen; nothing before it is first
// shown. The console has no other window. A minimised window is passed over:
// desktops keep the dialogs of a minimised window out of sight with it, and
// the box has to be seen.
QWidget* ShownWindow() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto shown = std::find_if(windows.begin(), windows.end(), [](const QWidget* window) {
        return window->isVisible() && !window->isMinimized();
    });
    return shown == windows.end() ? nullptr : *shown;
}

} // namespace

std::unique_ptr<QMessageBox> MakeReportBox(const QString& message, QWidget* owner) {
    // A parent makes the box the owner's dialog: transient for it, so that
    // the desktop keeps it over the owner and groups it with it, and centred
    // over it.
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("VELANTRO"),
                                             message, QMessageBox::NoButton, owner);
    box->addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void ReportBox::Report(const QString& message) {
    MakeReportBox(message, ShownWindow())->exec();
}

Dispatch::Dispatch(ReportSink& reports) : reports_(reports) {}

void Dispatch::Halt(int status) {
    halted_ = true;
    exitStatus_ = status;
    for (const auto& hook : haltHooks_) {
        hook();
    }
}

// Ends the event loop when it runs; before it runs, main looks at Halted().
// Called after the report: a loop started after exit() returns at once, and
// the message box needs one.
void Dispatch::Quit() const {
    QCoreApplication::exit(exitStatus_);
}

void Dispatch::Fail(const QString& message) {
    if (halted_) {
        return;
    }
    Halt(1);
    std::fprintf(stderr, "velantro: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    reports_.Report(message);
    Quit();
}

void Dispatch::End(int status) {
    if (halted_) {
        return;
    }
    Halt(status);
    Quit();
}

void Dispatch::OnHalt(std::function<void()> hook) {
    haltHooks_.push_back(std::move(hook));
}
