// The parallel port of the USB bridge: an ATmega328P board running the
// bridge's firmware, reached over its USB serial line with the line protocol
// of protocol.h.
#pragma once

#include "serial_device.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace puente {

// Environment variable naming the bridge's device instead of looking for it.
inline constexpr const char* DeviceVariable = "PORTIO_DEVICE";
// Where udev lists the USB serial devices by their make and serial number.
inline constexpr const char* SerialByIdDir = "/dev/serial/by-id";

struct PortResult {
    int value = 0;     // register contents for a read, 0 for a write, -1 on failure
    std::string error; // why it failed, when value is -1

    bool Failed() const { return value < 0; }
};

// The traffic on the line since the bridge was opened, for measuring.
struct Traffic {
    unsigned long roundTrips = 0; // waits for a reply
    unsigned long bytesOut = 0, bytesIn = 0;
};

struct Timing {
    // How long a board that resets when its port opens may take to answer.
    int greetingMilliseconds = 2500;
    // How often the greeting is asked for meanwhile.
    int askMilliseconds = 250;
    // How long any other reply may take.
    int replyMilliseconds = 1000;
};

// The device to use, as a path and as messages name it.
struct Candidate {
    std::string path;
    std::string label;
};

// PORTIO_DEVICE's value alone when it is set; otherwise every entry of
// byIdDir, in name order.
std::vector<Candidate> Candidates(const std::string& override, const std::string& byIdDir);

// Opens the bridge at the first call, checks that it runs the bridge's
// firmware and keeps it for this process until destroyed. A failed opening is
// tried again at the next call, and so is a bridge lost while running.
//
// A write is sent at once and its acknowledgement read later: by the next read,
// or by a later write once it is overdue or too many are unanswered. A read
// waits for its reply: one round trip. All calls are serialised by one mutex.
class Bridge {
public:
    // override gives PORTIO_DEVICE's value, read again at every attempt to
    // open the bridge.
    explicit Bridge(std::function<std::string()> override, std::string byIdDir = SerialByIdDir,
                    Timing timing = {});
    ~Bridge(); // waits briefly for unanswered writes, then closes the device
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    PortResult Write(int port, int value);
    PortResult Read(int port);

    Traffic CurrentTraffic() const;

private:
    struct Sent {
        std::string request;
        Clock::time_point at;
    };

    std::string Connect(); // empty on success, else why it failed
    std::string TryCandidate(const Candidate& candidate);
    std::string AwaitGreeting(const std::string& device);
    std::string Synchronise(const std::string& device);
    std::string Send(const std::string& request);
    // Reads acknowledgements: every one when wait is set, else those that
    // have arrived, and any overdue or beyond the window.
    std::string CollectAcks(bool wait);
    // Why a reply to request did not come, empty when it did.
    std::string Problem(SerialDevice::Status status, const std::string& request) const;
    PortResult Fail(std::string error);

    std::function<std::string()> override_;
    std::string byIdDir_;
    Timing timing_;
    std::mutex mutex_;
    SerialDevice line_;
    std::string device_; // the open device, as messages name it
    std::deque<Sent> unanswered_;
    size_t unansweredBytes_ = 0;
    unsigned long roundTrips_ = 0;
};

} // namespace puente
