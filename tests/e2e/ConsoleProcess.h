// The console as an operator runs it: a program directory of its own with the
// built velantro, the recording port library as libportio.so and pictures,
// started from another working directory on the tests' display. Its register
// traffic comes back through the recording library's trace. With the simulated
// board instead, the directory is like build/simulado, probe included, and the
// console has a session of its own whose board other programs can share.
#pragma once

#include "ConsoleWindow.h"
#include "TestSupport.h"
#include "X11Session.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// Readable failure messages for the Qt types the tests compare.
inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << "(" << point.x() << ", " << point.y() << ")";
}
inline void PrintTo(const QSize& size, std::ostream* out) {
    *out << size.width() << " x " << size.height();
}

namespace e2e {

namespace captions = testsupport::captions;
namespace controls = testsupport::controls;

// A trace split into the ticks' reads and everything else.
//
// A tick reads "PortOut 890 3", "PortIn 889 a", "PortOut 890 1", "PortIn 889 b".
// The first failed call (a line ending in " FAIL") ends the split.
struct Traffic {
    std::vector<std::pair<int, int>> reads; // a and b of every complete tick
    std::vector<std::string> others;        // every line outside a tick's reads
    std::vector<std::string> faults;        // ticks that broke off or went wrong
    std::vector<std::string> unfinished;    // a tick cut off by the end of the trace
    std::string failure;                    // the first failed call, if any
    std::vector<std::string> afterFailure;  // whatever came after it
};

Traffic SplitTraffic(const std::vector<std::string>& lines);

using testsupport::StatusForCode;
using testsupport::WritesOf;

// Every tick read completely, in order, and no call failed; once the program
// has ended no tick may be cut off either.
inline void ExpectCleanTicks(const Traffic& traffic, bool ended) {
    EXPECT_EQ(traffic.faults, std::vector<std::string>());
    EXPECT_EQ(traffic.failure, "");
    if (ended) {
        EXPECT_EQ(traffic.unfinished, std::vector<std::string>());
    }
}

class ConsoleProcess {
public:
    // The recording library; none; the simulated board's library (with the
    // probe beside the console); or the USB bridge's library, which reaches
    // the board through PORTIO_DEVICE. Only the recording library leaves a
    // trace.
    enum class PortLibrary { Present, Missing, Simulated, Bridge };

    explicit ConsoleProcess(PortLibrary library = PortLibrary::Present);
    ~ConsoleProcess(); // kills the console if it still runs
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    std::string ProgramDir() const { return dir_.File("programa"); }
    testsupport::RecordingPort& Port() { return port_; }

    // Puts a file into the program directory.
    void AddFile(const std::string& name, const QByteArray& bytes) const;

    // Sets a variable of the console's environment over what Start sets; a
    // null value leaves the variable out.
    void SetVariable(const QString& name, const QString& value) {
        variables_.emplace_back(name, value);
    }

    // Starts the console on the tests' display, or on the one given ("" for
    // none), with the given command line, Qt choosing its display platform.
    bool Start(const QStringList& arguments = {}, const QString& display = X11Session::Display());

    // Runs a program of the program directory to its end in the console's
    // session, from another working directory; its output and errors together.
    CommandResult RunBeside(const QString& program, const QStringList& arguments) const;

    // Waits until the main window is shown and active and, with the recording
    // library, the first tick has read the board. False when that did not
    // happen in time.
    bool WaitUntilRunning();
    const WindowInfo& MainWindow() const { return main_; }

    // A click at the centre of a control of the main window.
    void Click(const QRect& control) const;

    // The complete lines of the trace so far: a line still being written is
    // left out.
    std::vector<std::string> TraceLines() const;
    Traffic CurrentTraffic() const { return SplitTraffic(TraceLines()); }

    // Waits until the traffic outside the ticks' reads has at least count lines.
    bool WaitForOtherTraffic(std::size_t count) const;

    // Waits until at least count ticks after the first skip ones have read
    // status as their first byte.
    bool WaitForTicksReading(int status, int count, std::size_t skip) const;

    // The message box the console shows over or instead of its main window.
    bool WaitForMessageBox(WindowInfo& box) const;

    bool WaitForExit(int timeoutMilliseconds = WaitMilliseconds);
    bool Running() const { return process_.state() != QProcess::NotRunning; }
    // The exit status of a program that ended by itself; -1 otherwise.
    int ExitCode() const;

    std::string Errors() const { return testsupport::ReadFile(dir_.File("stderr")); }
    // The console's own reports on stderr, the lines that begin "velantro: ".
    // What Qt prints itself (a warning about the locale, for one) is left out.
    std::vector<std::string> Reports() const;

private:
    QProcessEnvironment SessionEnvironment() const;

    testsupport::TempDir dir_;
    testsupport::RecordingPort port_;
    PortLibrary library_;
    QProcess process_;
    WindowInfo main_;
    std::vector<std::pair<QString, QString>> variables_;
};

// Starts the console and waits until it runs and can take input.
::testing::AssertionResult Started(ConsoleProcess& console);

} // namespace e2e
