// The one layer every event handler of the console runs through.
//
// Handlers never catch their own errors. An error that reaches this layer
// stops all further handling (no tick or click runs after it), is written to
// standard error, is given once to the report sink, and ends the program with
// exit status 1. No exception ever crosses Qt's event loop.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QMessageBox;
class QWidget;

// Where the report of an error goes: the operator's message box in the
// program, a list in the tests.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    // Returns once the operator has seen the report.
    virtual void Report(const QString& message) = 0;
};

// The report as the operator sees it: a modal box titled "VELANTRO" with the
// message and a single "Aceptar" button. Once the console's window has been
// shown, the box is that window's dialog, over it; before, it stands alone
// in the middle of the screen.
class ReportBox : public ReportSink {
public:
    void Report(const QString& message) override;
};

// Builds that box, not yet shown, as a dialog of owner when there is one.
std::unique_ptr<QMessageBox> MakeReportBox(const QString& message, QWidget* owner = nullptr);

class Dispatch {
public:
    explicit Dispatch(ReportSink& reports);
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;

    // True once the program is ending, through an error or through End().
    bool Halted() const { return halted_; }

    // The exit status the program ends with: 0, or 1 after an error.
    int ExitStatus() const { return exitStatus_; }

    // Runs one handler, unless the program is already ending.
    template <typename Handler> void Run(Handler&& handler);

    // Reports an error and ends the program, as described above.
    void Fail(const QString& message);

    // Ends the program at once with the given status: nothing is handled
    // after it.
    void End(int status);

    // Called once when handling stops, before the report is given, e.g. to
    // stop timers so that they do not keep waking up behind the message box.
    void OnHalt(std::function<void()> hook);

private:
    void Halt(int status);
    void Quit() const;

    ReportSink& reports_;
    bool halted_ = false;
    int exitStatus_ = 0;
    std::vector<std::function<void()>> haltHooks_;
};

template <typename Handler> void Dispatch::Run(Handler&& handler) {
    if (halted_) {
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
