// The bridge's library against serial devices that are not the bridge, or a
// bridge that goes wrong: a pseudo-terminal whose other side a thread of the
// test answers on, as such a device would. The bridge itself, its firmware on
// the simulated chip, is the contract test's and the end-to-end tests' part.
#include "TestSupport.h"
#include "bridge.h"
#include "portio.h"
#include "protocol.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

// What the device on the far side says to one line it got; nothing to stay
// silent.
using Answer = std::function<std::string(const std::string& line)>;

// A firmware that answers as the bridge's does, for the cases that need one
// to go wrong later.
std::string BridgeAnswer(const std::string& line) {
    if (line == "?") {
        return PUENTE_GREETING_PREFIX "0.0-prueba\n";
    }
    if (line.size() == 3 && (line[0] == 'D' || line[0] == 'C')) {
        return "K\n";
    }
    if (line == "c") {
        return "C0C\n";
    }
    if (line == "s" || line == "d") {
        return line == "s" ? "S78\n" : "D00\n";
    }
    return line.empty() ? "" : "E\n";
}

// A pseudo-terminal whose master a thread answers on, line by line.
class FakeDevice {
public:
    explicit FakeDevice(Answer answer) : answer_(std::move(answer)) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        ::grantpt(master_);
        ::unlockpt(master_);
        path_ = ::ptsname(master_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeDevice() { Unplug(); }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    const std::string& Path() const { return path_; }
    // The far side goes away, as a board whose cable is pulled.
    void Unplug() {
        if (master_ >= 0) {
            stop_ = true;
            thread_.join();
            ::close(master_);
            master_ = -1;
        }
    }
    // Every line the device got so far.
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The most bytes that stood unanswered at once.
    size_t MostUnread() const { return mostUnread_; }

private:
    void Serve() {
        std::string pending;
        while (!stop_) {
            pollfd in{master_, POLLIN, 0};
            if (::poll(&in, 1, 10) <= 0 || (in.revents & POLLIN) == 0) {
                continue;
            }
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            pending.append(buffer, static_cast<size_t>(n));
            mostUnread_ = std::max<size_t>(mostUnread_, pending.size());
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                const std::string reply = answer_(line);
                if (!reply.empty() && ::write(master_, reply.data(), reply.size()) < 0) {
                    return;
                }
            }
        }
    }

    Answer answer_;
    int master_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> mostUnread_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

// Short waits, so that the cases of a silent device take a fraction of a second.
constexpr puente::Timing Quick{600, 100, 300};

puente::Bridge BridgeOn(const std::string& device, const std::string& byIdDir = "/nonexistent") {
    return puente::Bridge([device] { return device; }, byIdDir, Quick);
}

struct RefusalCase {
    const char* name;
    Answer answer;
    std::vector<std::string> named; // in the message
};

// What PortIn says of a device that never becomes the bridge; PortOut the same.
TEST(Bridge, NamesEachDeviceThatIsNotTheBridgeAndHowToLoadTheFirmware) {
    const RefusalCase cases[] = {
        {"silent",
         [](const std::string&) { return std::string(); },
         {"no contesta", "firmware", "man 7 velantro-puente"}},
        {"another program",
         [](const std::string&) { return std::string("hola\r\n"); },
         {"contesta «hola»", "otro programa", "avrdude"}},
        {"raw bytes",
         [](const std::string&) { return std::string(100, '\x01'); },
         {"sin fin de línea", "avrdude"}},
        {"another version",
         [](const std::string& line) {
             return line == "?" ? std::string("VELANTRO PUENTE 2 2.0\n") : std::string("E\n");
         },
         {"otra versión", "VELANTRO PUENTE 2 2.0", "man 7 velantro-puente"}},
    };
    for (const RefusalCase& c : cases) {
        FakeDevice device(c.answer);
        puente::Bridge bridge = BridgeOn(device.Path());
        const puente::PortResult result = bridge.Read(PortioStatusRegister);
        EXPECT_EQ(result.value, -1) << c.name;
        for (const std::string& name : c.named) {
            EXPECT_NE(result.error.find(name), std::string::npos) << c.name << ": " << result.error;
        }
        EXPECT_NE(result.error.find(device.Path() + " (indicado en PORTIO_DEVICE)"),
                  std::string::npos)
            << c.name << ": " << result.error;
        // Asked, and asked again for a board still starting.
        EXPECT_GE(device.Lines().size(), 3u) << c.name;
    }
}

TEST(Bridge, SaysWhatIsWrongWithTheDeviceBeforeSendingAnything) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("archivo"), "");
    FakeDevice held(BridgeAnswer);
    const int holder = ::open(held.Path().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(::flock(holder, LOCK_EX), 0);
    ::mkdir(dir.File("vacia").c_str(), 0755);
    struct Case {
        std::string device, byIdDir;
        std::vector<std::string> named;
    } const cases[] = {
        {dir.File("no-existe"), "", {"No se encuentra el puente USB", "no-existe", "cable USB"}},
        {dir.File("archivo"), "", {"no es un dispositivo serie", "/dev/ttyACM0"}},
        {held.Path(), "", {"ocupado por otro programa", held.Path()}},
        {"", dir.File("vacia"), {"ningún dispositivo serie USB", dir.File("vacia")}},
        {"", dir.File("no-existe"), {"ningún dispositivo serie USB", "PORTIO_DEVICE"}},
    };
    for (const Case& c : cases) {
        puente::Bridge bridge = BridgeOn(c.device, c.byIdDir);
        const puente::PortResult result = bridge.Write(PortioDataRegister, 0);
        EXPECT_EQ(result.value, -1) << c.device;
        for (const std::string& name : c.named) {
            EXPECT_NE(result.error.find(name), std::string::npos)
                << c.device << ": " << result.error;
        }
    }
    EXPECT_TRUE(held.Lines().empty()) << "the held device was written to";
    ::close(holder);
}

// Without PORTIO_DEVICE, the serial devices are asked in turn and the one that
// greets is used; the others are left alone afterwards.
TEST(Bridge, FindsTheBridgeAmongTheSerialDevices) {
    testsupport::TempDir byId;
    FakeDevice other([](const std::string&) { return std::string("OK\n"); });
    FakeDevice bridgeDevice(BridgeAnswer);
    ASSERT_EQ(::symlink(other.Path().c_str(), byId.File("usb-1a86_USB_Serial-if00").c_str()), 0);
    ASSERT_EQ(::symlink(bridgeDevice.Path().c_str(), byId.File("usb-Arduino_Uno-if00").c_str()), 0);
    puente::Bridge bridge = BridgeOn("", byId.Path());
    EXPECT_EQ(bridge.Read(PortioStatusRegister).value, 0x78);
    EXPECT_EQ(bridge.Write(PortioDataRegister, 5).value, 0);
    EXPECT_EQ(bridge.Read(PortioDataRegister).value, 0);
    const std::vector<std::string> lines = bridgeDevice.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"s", "D05", "d"}));
    const size_t asked = other.Lines().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(other.Lines().size(), asked);

    // With both silent, the message names every device.
    testsupport::TempDir none;
    FakeDevice silent([](const std::string&) { return std::string(); });
    ASSERT_EQ(::symlink(other.Path().c_str(), none.File("a").c_str()), 0);
    ASSERT_EQ(::symlink(silent.Path().c_str(), none.File("b").c_str()), 0);
    puente::Bridge nowhere = BridgeOn("", none.Path());
    const std::string error = nowhere.Read(PortioStatusRegister).error;
    EXPECT_NE(error.find("Ningún dispositivo serie de " + none.Path()), std::string::npos) << error;
    EXPECT_NE(error.find(none.File("a") + " (" + other.Path() + ")"), std::string::npos) << error;
    EXPECT_NE(error.find(none.File("b") + " (" + silent.Path() + ")"), std::string::npos) << error;
}

// A board that resets when its port opens says nothing for a while; what
// its bootloader lets through gets "E", and every question asked meanwhile a
// greeting of its own: none of it may be taken for a later reply.
TEST(Bridge, WaitsForABoardThatResetsAndSkipsTheRepliesToRepeatedQuestions) {
    const auto opened = puente::Clock::now();
    FakeDevice device([opened](const std::string& line) {
        if (puente::Clock::now() - opened < std::chrono::milliseconds(350)) {
            return std::string();
        }
        return line == "?" ? std::string("E\n") + BridgeAnswer(line) + BridgeAnswer(line)
                           : BridgeAnswer(line);
    });
    puente::Bridge bridge = BridgeOn(device.Path());
    const puente::PortResult result = bridge.Read(PortioStatusRegister);
    EXPECT_EQ(result.value, 0x78) << result.error;
    EXPECT_EQ(bridge.Read(PortioControlRegister).value, 0x0C);
}

// A write does not wait for its acknowledgement; the next read does, and
// says what went wrong with the write.
TEST(Bridge, WritesWithoutARoundTripAndReportsTheirFailureAtTheNextRead) {
    std::atomic<bool> refuse{false};
    FakeDevice device([&refuse](const std::string& line) {
        if (line[0] == 'D') {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return std::string(refuse ? "E\n" : "K\n");
        }
        return BridgeAnswer(line);
    });
    puente::Bridge bridge = BridgeOn(device.Path());
    ASSERT_EQ(bridge.Read(PortioStatusRegister).value, 0x78);
    const puente::Traffic before = bridge.CurrentTraffic();
    const auto start = puente::Clock::now();
    for (int value = 0; value < 4; ++value) {
        EXPECT_EQ(bridge.Write(PortioDataRegister, value).value, 0);
    }
    EXPECT_LT(puente::Clock::now() - start, std::chrono::milliseconds(50))
        << "a write waited for its acknowledgement";
    EXPECT_EQ(bridge.Read(PortioStatusRegister).value, 0x78);
    const puente::Traffic after = bridge.CurrentTraffic();
    EXPECT_EQ(after.roundTrips - before.roundTrips, 1u);
    EXPECT_EQ(after.bytesOut - before.bytesOut, 4 * 4 + 2u);
    EXPECT_EQ(after.bytesIn - before.bytesIn, 4 * 2 + 4u);

    refuse = true;
    EXPECT_EQ(bridge.Write(PortioDataRegister, 0x1A5).value, 0);
    const puente::PortResult result = bridge.Read(PortioStatusRegister);
    EXPECT_EQ(result.value, -1);
    EXPECT_NE(result.error.find("ha contestado «E» a «DA5»"), std::string::npos) << result.error;
}

// Many writes in a row: the firmware's buffer never holds more than it can,
// and a write whose acknowledgement is overdue is reported by the next write.
TEST(Bridge, KeepsTheUnansweredWritesWithinTheFirmwaresBuffer) {
    FakeDevice device([](const std::string& line) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(1)); // a slow firmware: the writes queue up
        return line == "D01" ? std::string() : BridgeAnswer(line);
    });
    puente::Bridge bridge = BridgeOn(device.Path());
    ASSERT_EQ(bridge.Read(PortioStatusRegister).value, 0x78);
    for (int value = 2; value < 200; ++value) {
        ASSERT_EQ(bridge.Write(PortioDataRegister, value).value, 0) << value;
    }
    EXPECT_EQ(bridge.Read(PortioStatusRegister).value, 0x78);
    const std::vector<std::string> lines = device.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"DC7", "s"}));
    EXPECT_LE(device.MostUnread(), size_t{PUENTE_RECEIVE_BUFFER});

    ASSERT_EQ(bridge.Write(PortioDataRegister, 1).value, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(Quick.replyMilliseconds + 50));
    const puente::PortResult overdue = bridge.Write(PortioDataRegister, 2);
    EXPECT_EQ(overdue.value, -1);
    EXPECT_NE(overdue.error.find("no ha contestado a «D01» en 300 ms"), std::string::npos)
        << overdue.error;
}

// The cable pulled: the call that finds it out fails with a report, and once
// the device is back the next call opens it again.
TEST(Bridge, ReportsALostDeviceAndOpensItAgainAtTheNextCall) {
    auto device = std::make_unique<FakeDevice>(BridgeAnswer);
    std::string path = device->Path();
    puente::Bridge bridge([&path] { return path; }, "/nonexistent", Quick);
    ASSERT_EQ(bridge.Write(PortioControlRegister, 7).value, 0);
    device->Unplug();
    const puente::PortResult lost = bridge.Read(PortioStatusRegister);
    EXPECT_EQ(lost.value, -1);
    EXPECT_NE(lost.error.find("Se ha perdido la conexión con el puente USB " + path),
              std::string::npos)
        << lost.error;
    EXPECT_NE(lost.error.find("cable USB"), std::string::npos) << lost.error;

    device = std::make_unique<FakeDevice>(BridgeAnswer);
    path = device->Path();
    EXPECT_EQ(bridge.Read(PortioStatusRegister).value, 0x78);
}

} // namespace
