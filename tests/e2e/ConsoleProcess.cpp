#include "ConsoleProcess.h"

#include <QProcessEnvironment>
#include <filesystem>
#include <regex>
#include <sstream>

namespace e2e {

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Whether line is step 0 to 3 of a tick's reads; a read gives its answer.
bool IsReadStep(std::size_t step, const std::string& line, int& answer) {
    static const std::regex read("PortIn 889 (\\d+)");
    static const char* const controls[] = {"PortOut 890 3", nullptr, "PortOut 890 1", nullptr};
    if (controls[step] != nullptr) {
        return line == controls[step];
    }
    std::smatch match;
    if (!std::regex_match(line, match, read)) {
        return false;
    }
    answer = std::stoi(match[1]);
    return true;
}

} // namespace

Traffic SplitTraffic(const std::vector<std::string>& lines) {
    Traffic traffic;
    std::vector<std::string> tick;
    int answers[4] = {};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (EndsWith(line, " FAIL")) {
            traffic.failure = line;
            traffic.afterFailure.assign(lines.begin() + static_cast<long>(i) + 1, lines.end());
            break;
        }
        if (!tick.empty()) {
            if (IsReadStep(tick.size(), line, answers[tick.size()])) {
                tick.push_back(line);
                if (tick.size() == 4) {
                    traffic.reads.emplace_back(answers[1], answers[3]);
                    tick.clear();
                }
                continue;
            }
            traffic.faults.push_back("line " + std::to_string(i + 1) + " \"" + line +
                                     "\" breaks off a tick after \"" + tick.back() + "\"");
            tick.clear();
        }
        if (IsReadStep(0, line, answers[0])) {
            tick.push_back(line);
        } else {
            traffic.others.push_back(line);
        }
    }
    traffic.unfinished = tick;
    return traffic;
}

ConsoleProcess::ConsoleProcess(PortLibrary library) : port_(dir_), library_(library) {
    fs::create_directory(ProgramDir());
    testsupport::CopyFile(VELANTRO_PROGRAM, ProgramDir() + "/velantro");
    if (library != PortLibrary::Missing) {
        const char* const source = library == PortLibrary::Present     ? RECORDING_LIBRARY
                                   : library == PortLibrary::Simulated ? SIMULATED_LIBRARY
                                                                       : PUENTE_LIBRARY;
        testsupport::CopyFile(source, ProgramDir() + "/libportio.so");
    }
    if (library == PortLibrary::Simulated) {
        testsupport::CopyFile(SONDA_PROGRAM, ProgramDir() + "/velantro-sonda");
    }
    // Qt wants a private runtime directory; without one it warns on stderr.
    fs::create_directory(dir_.File("runtime"));
    fs::permissions(dir_.File("runtime"), fs::perms::owner_all);
}

ConsoleProcess::~ConsoleProcess() {
    if (Running()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ConsoleProcess::AddFile(const std::string& name, const QByteArray& bytes) const {
    testsupport::WriteFile(ProgramDir() + "/" + name, bytes.toStdString());
}

bool ConsoleProcess::Start(const QStringList& arguments, const QString& display) {
    // Only the display and the port library's files are the test's choice:
    // Qt settings and a Wayland display of the environment that runs the
    // tests are left out.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        if (name.startsWith(QStringLiteral("QT_")) || name.startsWith(QStringLiteral("WAYLAND_"))) {
            environment.remove(name);
        }
    }
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(SessionEnvironment());
    environment.insert(QStringLiteral("PORTIO_TRACE"), QString::fromStdString(port_.TracePath()));
    environment.insert(QStringLiteral("PORTIO_SCRIPT"), QString::fromStdString(port_.ScriptPath()));
    environment.insert(QStringLiteral("PORTIO_FAIL"), QString::fromStdString(port_.FailPath()));
    for (const auto& [name, value] : variables_) {
        if (value.isNull()) {
            environment.remove(name);
        } else {
            environment.insert(name, value);
        }
    }

    process_.setProcessEnvironment(environment);
    process_.setWorkingDirectory(QStringLiteral("/"));
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QString::fromStdString(dir_.File("stderr")));
    process_.start(QString::fromStdString(ProgramDir() + "/velantro"), arguments);
    return process_.waitForStarted(WaitMilliseconds);
}

// What the console's session gives its programs: its private runtime
// directory, which holds its simulated board.
QProcessEnvironment ConsoleProcess::SessionEnvironment() const {
    QProcessEnvironment session;
    session.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir_.File("runtime")));
    return session;
}

CommandResult ConsoleProcess::RunBeside(const QString& program,
                                        const QStringList& arguments) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(SessionEnvironment());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setProcessChannelMode(QProcess::MergedChannels);
    return RunProcess(process, QString::fromStdString(ProgramDir()) + "/" + program, arguments);
}

std::vector<std::string> ConsoleProcess::Reports() const {
    std::vector<std::string> reports;
    std::istringstream errors(Errors());
    for (std::string line; std::getline(errors, line);) {
        if (line.rfind("velantro: ", 0) == 0) {
            reports.push_back(line);
        }
    }
    return reports;
}

bool ConsoleProcess::WaitUntilRunning() {
    return WaitFor([this] {
               if (!Running()) {
                   return true; // nothing more to wait for
               }
               for (const WindowInfo& window : WindowsTitled(captions::Window)) {
                   if (window.viewable && ActiveWindow() == window.id) {
                       main_ = window;
                   }
               }
               return main_.id != 0 &&
                      (library_ == PortLibrary::Simulated || library_ == PortLibrary::Bridge ||
                       !CurrentTraffic().reads.empty());
           }) &&
           Running();
}

void ConsoleProcess::Click(const QRect& control) const {
    ClickAt(main_.origin + control.center());
}

std::vector<std::string> ConsoleProcess::TraceLines() const {
    const std::string text = testsupport::ReadFile(port_.TracePath());
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

bool ConsoleProcess::WaitForOtherTraffic(std::size_t count) const {
    return WaitFor([&] { return CurrentTraffic().others.size() >= count; });
}

bool ConsoleProcess::WaitForTicksReading(int status, int count, std::size_t skip) const {
    return WaitFor([&] {
        const auto reads = CurrentTraffic().reads;
        int seen = 0;
        for (std::size_t i = skip; i < reads.size(); ++i) {
            seen += reads[i].first == status ? 1 : 0;
        }
        return seen >= count;
    });
}

bool ConsoleProcess::WaitForMessageBox(WindowInfo& box) const {
    return WaitFor([&] {
        for (const WindowInfo& window : WindowsTitled(captions::Window)) {
            if (window.viewable && window.id != main_.id) {
                box = window;
                return true;
            }
        }
        return false;
    });
}

bool ConsoleProcess::WaitForExit(int timeoutMilliseconds) {
    return process_.waitForFinished(timeoutMilliseconds) || !Running();
}

int ConsoleProcess::ExitCode() const {
    if (Running() || process_.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process_.exitCode();
}

::testing::AssertionResult Started(ConsoleProcess& console) {
    if (!console.Start()) {
        return ::testing::AssertionFailure() << "the console did not start";
    }
    if (!console.WaitUntilRunning()) {
        return ::testing::AssertionFailure()
               << "the console's window did not become active; exit status " << console.ExitCode()
               << ", stderr:\n"
               << console.Errors();
    }
    return ::testing::AssertionSuccess();
}

} // namespace e2e
