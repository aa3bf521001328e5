#include "Dispatch.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>
#include <vector>

namespace Dispatch {

namespace {

struct State {
    bool halted = false;
    int exitStatus = 0;
    std::vector<std::function<void()>> haltHooks;
    std::function<void(const QString&)> sink;
};

State& TheState() {
    static State state;
    return state;
}

void Halt(int status) {
    State& state = TheState();
    state.halted = true;
    state.exitStatus = status;
    for (const auto& hook : state.haltHooks) {
        hook();
    }
}

// Ends the event loop when it runs; before it runs, main looks at Halted().
// Called after the report: a loop started after exit() returns at once, and
// the message box needs one.
void Quit() {
    QCoreApplication::exit(TheState().exitStatus);
}

void ShowBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("VELANTRO"), message);
    box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace

bool Halted() {
    return TheState().halted;
}

int ExitStatus() {
    return TheState().exitStatus;
}

void Fail(const QString& message) {
    if (Halted()) {
        return;
    }
    Halt(1);
    std::fprintf(stderr, "velantro: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    const auto& sink = TheState().sink;
    if (sink) {
        sink(message);
    } else {
        ShowBox(message);
    }
    Quit();
}

void End(int status) {
    if (Halted()) {
        return;
    }
    Halt(status);
    Quit();
}

void OnHalt(std::function<void()> hook) {
    TheState().haltHooks.push_back(std::move(hook));
}

void InterceptReports(std::function<void(const QString&)> sink) {
    State& state = TheState();
    state.sink = std::move(sink);
    state.halted = false;
    state.exitStatus = 0;
    state.haltHooks.clear();
}

} // namespace Dispatch
