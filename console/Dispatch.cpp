#include "Dispatch.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>

std::unique_ptr<QMessageBox> MakeReportBox(const QString& message) {
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("VELANTRO"), message);
    box->addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    return box;
}

void ReportBox::Report(const QString& message) {
    MakeReportBox(message)->exec();
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
