// The console as a screen reader follows it: a private D-Bus session with the
// accessibility bus, as a desktop starts them, and a real AT-SPI client
// (screen_reader.py, on the system's Python with pyatspi) reading the running
// console while the board reports one lamp state after another.
#include "ConsoleProcess.h"
#include "TestPictures.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <sys/types.h>
#include <thread>

namespace e2e {
namespace {

constexpr char BusLauncher[] = "/usr/libexec/at-spi-bus-launcher";
constexpr char Python[] = "/usr/bin/python3";

// The session's programs see no display: the bus launcher would otherwise
// leave its address on the root window of the display all tests share.
QProcessEnvironment SessionEnvironment(const QString& busAddress) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    return environment;
}

// The dbus-daemon that parent started; 0 when there is none.
pid_t ChildNamed(pid_t parent) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::istringstream stat(testsupport::ReadFile(entry.path().string() + "/stat"));
        pid_t pid = 0;
        pid_t ppid = 0;
        std::string name;
        std::string state;
        stat >> pid >> name >> state >> ppid;
        if (ppid == parent && name == "(dbus-daemon)") {
            return pid;
        }
    }
    return 0;
}

// dbus-run-session with the accessibility bus launcher as its one program;
// the session ends with the launcher.
class AccessibilityBus {
public:
    AccessibilityBus() {
        process_.setProcessEnvironment(SessionEnvironment({}));
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral("dbus-run-session"),
                       {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("echo \"$$ $DBUS_SESSION_BUS_ADDRESS\"; exec ") +
                            QLatin1String(BusLauncher) + QStringLiteral(" --launch-immediately")});
        QByteArray output;
        WaitFor([&] {
            process_.waitForReadyRead(50);
            output += process_.readAllStandardOutput();
            return output.contains('\n') || process_.state() == QProcess::NotRunning;
        });
        const qsizetype space = output.indexOf(' ');
        launcher_ = output.left(space).toInt();
        address_ = QString::fromLocal8Bit(output.mid(space + 1).trimmed());
    }
    ~AccessibilityBus() {
        if (launcher_ > 0) {
            ::kill(launcher_, SIGTERM);
        }
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;

    // Empty when the session did not start.
    const QString& Address() const { return address_; }

    // The session bus's daemon, and the accessibility bus's.
    pid_t SessionDaemon() const { return ChildNamed(static_cast<pid_t>(process_.processId())); }
    pid_t AccessibilityDaemon() const { return ChildNamed(launcher_); }

private:
    QProcess process_;
    pid_t launcher_ = 0;
    QString address_;
};

// screen_reader.py on the session's accessibility bus, and the lines it has
// printed so far, split at its tabs.
class ScreenReader {
public:
    explicit ScreenReader(const QString& busAddress) {
        process_.setProcessEnvironment(SessionEnvironment(busAddress));
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QLatin1String(Python), {QStringLiteral(SCREEN_READER)});
    }
    ~ScreenReader() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    // Waits until there are count lines whose first field is first.
    bool WaitForLines(const QString& first, std::size_t count) {
        return WaitFor([&] {
            process_.waitForReadyRead(20);
            while (process_.canReadLine()) {
                lines_.push_back(QString::fromUtf8(process_.readLine()).chopped(1).split('\t'));
            }
            return Lines(first).size() >= count;
        });
    }

    std::vector<QStringList> Lines(const QString& first) const {
        std::vector<QStringList> found;
        for (const QStringList& line : lines_) {
            if (line.front() == first) {
                found.push_back(line.mid(1));
            }
        }
        return found;
    }

    std::string Output() const {
        std::string text;
        for (const QStringList& line : lines_) {
            text += line.join(QStringLiteral(" | ")).toStdString() + "\n";
        }
        return text;
    }

private:
    QProcess process_;
    std::vector<QStringList> lines_;
};

// What a screen reader hears of one control: role, name, and whether it has
// the focus and is shown.
struct Heard {
    std::string role, name, states;
    bool operator==(const Heard& other) const {
        return role == other.role && name == other.name && states == other.states;
    }
};
void PrintTo(const Heard& heard, std::ostream* out) {
    *out << heard.role << " \"" << heard.name << "\" [" << heard.states << "]";
}

// The console with the lamps' pictures, on the session's bus, its
// accessibility on as when a screen reader runs.
void ListenedTo(ConsoleProcess& console, const QString& busAddress) {
    for (const TestPicture& picture : LampPictures()) {
        console.AddFile(picture.file, Encode(picture));
    }
    console.SetVariable(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    console.SetVariable(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
}

// The picture box's words after each change of the lamp state the board
// reports, each state held for many ticks. The last change marks that every
// event of the earlier ones has come.
struct LampStep {
    int code;
    const char* words;
};
constexpr LampStep LampSteps[] = {{1, "rojo encendido"},
                                  {2, "ámbar encendido"},
                                  {4, "verde encendido"},
                                  {0, "apagado"},
                                  {1, "rojo encendido"}};

TEST(Accessibility, AScreenReaderHearsTheButtonsAndEachNewLampStateOnce) {
    AccessibilityBus bus;
    ASSERT_FALSE(bus.Address().isEmpty())
        << "no D-Bus session: dbus-run-session (package dbus-daemon) and " << BusLauncher
        << " (package at-spi2-core) are needed";
    ConsoleProcess console;
    ListenedTo(console, bus.Address());
    ASSERT_TRUE(Started(console)); // the board reports no lamp state yet

    ScreenReader reader(bus.Address());
    ASSERT_TRUE(reader.WaitForLines(QStringLiteral("ready"), 1))
        << "no answer from " << SCREEN_READER << " (package python3-pyatspi); it said:\n"
        << reader.Output();
    EXPECT_EQ(reader.Lines(QStringLiteral("window")),
              std::vector<QStringList>(
                  {{QStringLiteral("frame"), QString::fromLatin1(captions::Window)}}));
    // The window's controls in focus order, hidden buttons too; every button
    // says what it does, the box what it shows.
    std::vector<Heard> heard;
    std::vector<std::string> descriptions;
    for (const QStringList& line : reader.Lines(QStringLiteral("control"))) {
        heard.push_back({line.value(0).toStdString(), line.value(1).toStdString(),
                         line.value(3).toStdString()});
        descriptions.push_back(line.value(2).toStdString());
    }
    EXPECT_EQ(heard, std::vector<Heard>(
                         {{"button", "Funcionamiento autónomo", "focused,showing"},
                          {"button", "Funcionamiento manual (controlado por ordenador)", "showing"},
                          {"image", "Semáforo", "showing"},
                          {"button", "Rojo", ""},
                          {"button", "Ámbar", ""},
                          {"button", "Verde", ""},
                          {"button", "Salir", "showing"},
                          {"button", "Parar", ""},
                          {"notification", "", ""}}));
    for (std::size_t i = 0; i < heard.size() && i < descriptions.size(); ++i) {
        if (heard[i].role == "image") {
            EXPECT_EQ(descriptions[i], "dibujo de arranque, aún sin el estado de la placa");
        } else if (heard[i].role == "button") {
            EXPECT_NE(descriptions[i], "") << heard[i].name;
        }
    }

    std::vector<QStringList> expected;
    for (const LampStep& step : LampSteps) {
        SCOPED_TRACE("input code " + std::to_string(step.code));
        const std::size_t ticks = console.CurrentTraffic().reads.size();
        console.Port().Script(StatusForCode(step.code));
        // The box says the new state; the notice, shown anew with it, is
        // what a screen reader speaks wherever the focus is.
        const QString words = QString::fromUtf8(step.words);
        expected.push_back({QStringLiteral("accessible-description"), QStringLiteral("image"),
                            QStringLiteral("Semáforo"), words});
        expected.push_back(
            {QStringLiteral("accessible-name"), QStringLiteral("notification"), words, QString()});
        expected.push_back(
            {QStringLiteral("showing"), QStringLiteral("notification"), words, QString()});
        ASSERT_TRUE(reader.WaitForLines(QStringLiteral("event"), expected.size()))
            << reader.Output();
        ASSERT_TRUE(console.WaitForTicksReading(StatusForCode(step.code), 30, ticks));
    }
    EXPECT_EQ(reader.Lines(QStringLiteral("event")), expected) << reader.Output();

    // Read by a client to the end, the console still ends cleanly.
    console.Click(controls::Salir);
    ASSERT_TRUE(console.WaitForExit());
    EXPECT_EQ(console.ExitCode(), 0) << console.Errors();
}

// A bus that stops answering while a screen reader is on: the console waits
// for it at most 2 s, then runs without accessibility, says so once, and
// carries out a click at once.
struct StoppedBus {
    const char* name;
    pid_t (AccessibilityBus::*daemon)() const;
};
void PrintTo(const StoppedBus& bus, std::ostream* out) {
    *out << bus.name;
}
const StoppedBus StoppedBuses[] = {
    {"AccessibilityBus", &AccessibilityBus::AccessibilityDaemon},
    {"SessionBus", &AccessibilityBus::SessionDaemon},
};

class StoppedBusTest : public ::testing::TestWithParam<StoppedBus> {};

TEST_P(StoppedBusTest, DelaysTheStartByAtMostTwoSeconds) {
    AccessibilityBus bus;
    ASSERT_FALSE(bus.Address().isEmpty());
    pid_t daemon = 0;
    ASSERT_TRUE(WaitFor([&] { return (daemon = (bus.*GetParam().daemon)()) > 0; }));
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    ConsoleProcess console;
    ListenedTo(console, bus.Address());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(console.Start());
    // The bounds leave a second for the console's own start on a busy machine.
    EXPECT_TRUE(WaitFor([&] { return !console.CurrentTraffic().reads.empty(); }, 3000));
    ASSERT_TRUE(console.WaitUntilRunning()) << console.Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    console.Click(controls::Autonomo);
    EXPECT_TRUE(WaitFor([&] { return console.CurrentTraffic().others.size() >= 4; }, 2000));
    EXPECT_EQ(console.CurrentTraffic().others, WritesOf({0, 16}));
    ::kill(daemon, SIGCONT);
    EXPECT_EQ(console.Reports(), std::vector<std::string>()) << console.Errors();
    const std::string errors = console.Errors();
    const std::string notice = "no responde en 2 s: la consola funciona sin accesibilidad";
    EXPECT_NE(errors.find("velantro (aviso): "), std::string::npos) << errors;
    EXPECT_NE(errors.find(notice), std::string::npos) << errors;
    EXPECT_EQ(errors.find(notice), errors.rfind(notice)) << errors;
}

INSTANTIATE_TEST_SUITE_P(Buses, StoppedBusTest, ::testing::ValuesIn(StoppedBuses),
                         [](const auto& info) { return std::string(info.param.name); });

// Debian's screen reader on the session's accessibility bus and the tests'
// display. Its debug log records every utterance; script(1) gives Orca a
// terminal to write it to, where Python writes each line at once (into a
// file it holds them back until Orca exits).
class Orca {
public:
    explicit Orca(const QString& busAddress) {
        QProcessEnvironment environment = SessionEnvironment(busAddress);
        environment.insert(QStringLiteral("DISPLAY"), X11Session::Display());
        environment.insert(QStringLiteral("HOME"), QString::fromStdString(dir_.Path()));
        process_.setProcessEnvironment(environment);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral("script"),
                       {QStringLiteral("-q"), QStringLiteral("-f"), Log(), QStringLiteral("-c"),
                        QStringLiteral("exec orca -u ") + QString::fromStdString(dir_.Path()) +
                            QStringLiteral(" --debug-file=/dev/tty")});
    }
    ~Orca() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    Orca(const Orca&) = delete;
    Orca& operator=(const Orca&) = delete;

    // The text of every log line that holds marker, from just after it.
    std::vector<std::string> After(const std::string& marker) const {
        std::vector<std::string> found;
        std::istringstream log(testsupport::ReadFile(Log().toStdString()));
        for (std::string line; std::getline(log, line);) {
            const std::size_t at = line.find(marker);
            if (at != std::string::npos) {
                found.push_back(line.substr(at + marker.size()));
            }
        }
        return found;
    }
    // What Orca has said so far, an utterance a line.
    std::vector<std::string> Spoken() const { return After("SPEECH OUTPUT: "); }
    // Where Orca has followed the focus to, a move a line: "[push button |
    // name]" (Orca 43), "[button: 'name']" (Orca 48).
    std::vector<std::string> FocusMoves() const {
        std::vector<std::string> moves;
        for (const std::string& move : After("Changing locus")) {
            const std::size_t to = move.rfind(" to [");
            if (to != std::string::npos) {
                moves.push_back(move.substr(to + 4, move.find(']', to) - to - 3));
            }
        }
        return moves;
    }
    std::string Said() const {
        std::string text;
        for (const std::string& line : Spoken()) {
            text += line + "\n";
        }
        return text;
    }

private:
    QString Log() const { return QString::fromStdString(dir_.File("orca.log")); }

    testsupport::TempDir dir_;
    QProcess process_;
};

// How many of the utterances say words.
std::size_t Saying(const std::vector<std::string>& spoken, const char* words) {
    return static_cast<std::size_t>(
        std::count_if(spoken.begin(), spoken.end(), [words](const std::string& line) {
            return line.find(words) != std::string::npos;
        }));
}

// An operator with a screen reader presses AUTONOMO and stays on it: each
// lamp state the board then reports is spoken once, the focus never moving.
TEST(Accessibility, OrcaSpeaksEachNewLampStateOnceWithTheFocusOnAButton) {
    AccessibilityBus bus;
    ASSERT_FALSE(bus.Address().isEmpty());
    Orca orca(bus.Address());
    // Orca 43, Orca 48.
    ASSERT_TRUE(WaitFor([&] {
        return !orca.After("ORCA: Starting ATSPI registry").empty() ||
               !orca.After("ORCA: Starting Atspi main event loop").empty();
    })) << "Orca (package orca) did not start";
    ConsoleProcess console;
    ListenedTo(console, bus.Address());
    ASSERT_TRUE(Started(console));
    const auto onAutonomo = [&orca] {
        const std::vector<std::string> moves = orca.FocusMoves();
        return !moves.empty() && moves.back().find("Funcionamiento autónomo") != std::string::npos;
    };
    ASSERT_TRUE(WaitFor(onAutonomo)) << orca.Said();

    PressKeys({QStringLiteral("space")});
    ASSERT_TRUE(console.WaitForOtherTraffic(4));
    EXPECT_EQ(console.CurrentTraffic().others, WritesOf({0, 16}));
    // Each state held for 3 s: 15 s with the focus on the button.
    for (const LampStep& step : LampSteps) {
        SCOPED_TRACE("input code " + std::to_string(step.code));
        const std::size_t ticks = console.CurrentTraffic().reads.size();
        const std::size_t heard = Saying(orca.Spoken(), step.words);
        console.Port().Script(StatusForCode(step.code));
        ASSERT_TRUE(console.WaitForTicksReading(StatusForCode(step.code), 1, ticks));
        EXPECT_TRUE(WaitFor([&] { return Saying(orca.Spoken(), step.words) > heard; }, 3000))
            << orca.Said();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_EQ(Saying(orca.Spoken(), step.words), heard + 1) << orca.Said();
    }
    EXPECT_TRUE(onAutonomo());
    // Orca handled every event the console sent.
    EXPECT_EQ(orca.After("Could not process"), std::vector<std::string>());
}

} // namespace
} // namespace e2e
