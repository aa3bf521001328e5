// The one layer every event handler of the console runs through.
//
// Handlers never catch their own errors. An error that reaches this layer
// stops all further handling (no tick or click runs after it), is written to
// standard error, is shown once in a modal message box titled "VELANTRO" with
// an "Aceptar" button, and ends the program with exit status 1. No exception
// ever crosses Qt's event loop.
#pragma once

#include <QString>
#include <exception>
#include <functional>

namespace Dispatch {

// True once the program is ending, through an error or through End().
bool Halted();

// The exit status the program ends with: 0, or 1 after an error.
int ExitStatus();

// Runs one handler, unless the program is already ending.
template <typename Handler> void Run(Handler&& handler);

// Reports an error and ends the program, as described above.
void Fail(const QString& message);

// Ends the program at once with the given status: nothing is handled after it.
void End(int status);

// Called once when handling stops, before the report is shown, e.g. to stop
// timers so that they do not keep waking up behind the message box.
void OnHalt(std::function<void()> hook);

// Tests take the report here instead of a message box. An empty function
// restores the box. Also forgets an earlier halt, so each test starts afresh.
void InterceptReports(std::function<void(const QString&)> sink);

template <typename Handler> void Run(Handler&& handler) {
    if (Halted()) {
        return;
    }
    try {
        handler();
    } catch (const std::exception& error) {
        Fail(QString::fromStdString(error.what()));
    } catch (...) {
        Fail(QStringLiteral("Error inesperado de la consola."));
    }
}

} // namespace Dispatch
