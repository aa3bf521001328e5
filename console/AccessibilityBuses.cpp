#include "AccessibilityBuses.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How far the asking got: a byte written after each answer.
constexpr char SessionAnswered = 's';
constexpr char AllAnswered = 'd';

// An address that refuses a connection at once: Qt's bridge then stays idle.
constexpr const char* NoBus = "unix:path=/dev/null";

// Asks what Qt's bridge asks, in the order it does, and reports progress on
// out.
void Ask(int out) {
    const auto reached = [out](char stage) {
        while (write(out, &stage, 1) < 0 && errno == EINTR) {
        }
    };
    int argc = 1;
    char name[] = "velantro";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    QString address = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
    if (address.isEmpty()) {
        const QDBusConnection session = QDBusConnection::sessionBus();
        if (!session.isConnected()) {
            reached(AllAnswered);
            return;
        }
        const QDBusReply<bool> launcher =
            session.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus"));
        reached(SessionAnswered);
        if (!launcher.isValid() || !launcher.value()) {
            reached(AllAnswered);
            return;
        }
        QDBusMessage status = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
        status << QStringLiteral("org.a11y.Status");
        const QDBusReply<QVariantMap> states = session.call(status);
        const bool listened =
            qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") ||
            (states.isValid() && (states.value().value("IsEnabled").toBool() ||
                                  states.value().value("ScreenReaderEnabled").toBool()));
        if (!listened) {
            reached(AllAnswered);
            return;
        }
        const QDBusReply<QString> bus = session.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
            QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
        if (!bus.isValid()) {
            reached(AllAnswered);
            return;
        }
        address = bus.value();
    }
    const QDBusConnection accessibility =
        QDBusConnection::connectToBus(address, QStringLiteral("velantro-accesibilidad"));
    if (accessibility.isConnected()) {
        QDBusMessage count = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.atspi.Registry"),
            QStringLiteral("/org/a11y/atspi/accessible/root"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        count << QStringLiteral("org.a11y.atspi.Accessible") << QStringLiteral("ChildCount");
        accessibility.call(count);
    }
    reached(AllAnswered);
}

// The last stage the asking process reached within limitMs; 0 when it
// reached none. ended: it finished, with or without an answer.
char WaitForStages(int in, int limitMs, bool& ended) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    char last = 0;
    ended = false;
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd ready{in, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            break;
        }
        char stage = 0;
        const ssize_t got = read(in, &stage, 1);
        if (got == 1) {
            last = stage;
        } else if (got == 0 || errno != EINTR) {
            ended = true;
        }
    }
    return last;
}

} // namespace

std::string HoldBackSilentBuses(int limitMs) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        qEnvironmentVariableIsEmpty("AT_SPI_BUS_ADDRESS")) {
        return ""; // no bus to wait for
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return "";
    }
    const pid_t asker = fork();
    if (asker == 0) {
        // Whatever Qt says there stays out of the console's stderr.
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(ends[0]);
        Ask(ends[1]);
        _exit(0);
    }
    close(ends[1]);
    bool ended = false;
    const char last = asker > 0 ? WaitForStages(ends[0], limitMs, ended) : AllAnswered;
    close(ends[0]);
    if (asker > 0) {
        if (!ended) {
            kill(asker, SIGKILL);
        }
        while (waitpid(asker, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (ended || last == AllAnswered) {
        return "";
    }
    // Qt takes the accessibility bus from this variable before it asks the
    // session bus; a silent session bus is not asked by anything else either.
    qputenv("AT_SPI_BUS_ADDRESS", NoBus);
    const bool sessionSilent = last != SessionAnswered;
    if (sessionSilent) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", NoBus);
    }
    return std::string("velantro (aviso): ") +
           (sessionSilent ? "El bus de sesión (D-Bus)" : "El bus de accesibilidad (AT-SPI)") +
           " no responde en " + std::to_string(limitMs / 1000) +
           " s: la consola funciona sin accesibilidad hasta que se cierre, y ningún lector de "
           "pantalla podrá leerla.\n";
}
