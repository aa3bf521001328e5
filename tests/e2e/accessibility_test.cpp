// The console as a screen reader follows it: a private D-Bus session with the
// accessibility bus, as a desktop starts them, and a real AT-SPI client
// (screen_reader.py, on the system's Python with pyatspi) reading the running
// console while the board reports one lamp state after another.
#include "ConsoleProcess.h"
#include "TestPictures.h"

#include <csignal>
#include <sys/types.h>

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
    for (const TestPicture& picture : LampPictures()) {
        console.AddFile(picture.file, Encode(picture));
    }
    console.SetVariable(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address());
    console.SetVariable(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
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
                          {"button", "Parar", ""}}));
    for (std::size_t i = 0; i < heard.size() && i < descriptions.size(); ++i) {
        if (heard[i].role == "image") {
            EXPECT_EQ(descriptions[i], "dibujo de arranque, aún sin el estado de la placa");
        } else {
            EXPECT_NE(descriptions[i], "") << heard[i].name;
        }
    }

    std::vector<QStringList> expected;
    for (const LampStep& step : LampSteps) {
        SCOPED_TRACE("input code " + std::to_string(step.code));
        const std::size_t ticks = console.CurrentTraffic().reads.size();
        console.Port().Script(StatusForCode(step.code));
        expected.push_back({QStringLiteral("accessible-description"), QStringLiteral("image"),
                            QStringLiteral("Semáforo"), QString::fromUtf8(step.words)});
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

} // namespace
} // namespace e2e
