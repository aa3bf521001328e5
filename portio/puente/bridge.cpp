#include "bridge.h"

#include "../parport/messages.h"
#include "device_choice.h"
#include "messages.h"
#include "portio.h"
#include "protocol.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace puente {
namespace {

constexpr size_t GreetingPrefixLength = sizeof PUENTE_GREETING_PREFIX - 1;
// Any firmware of this family greets so, whatever its protocol version.
constexpr std::string_view FamilyPrefix = "VELANTRO PUENTE ";
// Request bytes left unanswered at most: well within the firmware's buffer.
constexpr size_t UnansweredWindow = PUENTE_RECEIVE_BUFFER / 2;

PortResult Failure(std::string error) {
    return {-1, std::move(error)};
}

std::string Request(char letter) {
    return std::string(1, letter) + "\n";
}

std::string Request(char letter, int value) {
    static const char digits[] = "0123456789ABCDEF";
    return {letter, digits[(value >> 4) & 0x0F], digits[value & 0x0F], '\n'};
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The value of a reply "Lhh" with letter L, or -1 for any other line.
int ReplyValue(const std::string& reply, char letter) {
    if (reply.size() != 3 || reply[0] != letter) {
        return -1;
    }
    const int high = HexDigit(reply[1]), low = HexDigit(reply[2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

std::string WithoutLineEnd(const std::string& request) {
    return request.substr(0, request.find('\n'));
}

Clock::time_point After(int milliseconds) {
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

} // namespace

std::vector<Candidate> Candidates(const std::string& override, const std::string& byIdDir) {
    if (!override.empty()) {
        return {{override, parport::DeviceChoice{override, true}.Label()}};
    }
    std::vector<Candidate> found;
    std::error_code ec;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code resolveError;
        const fs::path target = fs::canonical(it->path(), resolveError);
        std::string label = it->path().string();
        if (!resolveError) {
            label += " (" + target.string() + ")";
        }
        found.push_back({it->path().string(), label});
    }
    std::sort(found.begin(), found.end(),
              [](const Candidate& a, const Candidate& b) { return a.path < b.path; });
    return found;
}

Bridge::Bridge(std::function<std::string()> override, std::string byIdDir, Timing timing)
    : override_(std::move(override)), byIdDir_(std::move(byIdDir)), timing_(timing) {}

Bridge::~Bridge() {
    std::lock_guard lock(mutex_);
    if (line_.IsOpen() && !unanswered_.empty()) {
        // The last writes reach the board before the device closes.
        const Clock::time_point deadline = After(timing_.replyMilliseconds / 4);
        std::string reply;
        while (!unanswered_.empty() &&
               line_.ReadLine(reply, deadline) == SerialDevice::Status::Ok) {
            unanswered_.pop_front();
        }
    }
}

Traffic Bridge::CurrentTraffic() const {
    return {roundTrips_, line_.BytesWritten(), line_.BytesRead()};
}

PortResult Bridge::Fail(std::string error) {
    line_.Close();
    unanswered_.clear();
    unansweredBytes_ = 0;
    return Failure(std::move(error));
}

std::string Bridge::Connect() {
    if (line_.IsOpen()) {
        return {};
    }
    // Looked for again on every attempt: the board may have been plugged in
    // since, or may have another device name now.
    const std::vector<Candidate> candidates = Candidates(override_(), byIdDir_);
    if (candidates.empty()) {
        return NoSerialDevices(byIdDir_);
    }
    std::string reasons;
    for (const Candidate& candidate : candidates) {
        std::string error = TryCandidate(candidate);
        if (error.empty()) {
            return {};
        }
        if (candidates.size() == 1) {
            return error;
        }
        reasons += (reasons.empty() ? "" : " ") + error;
    }
    return NoBridgeAmong(byIdDir_, reasons);
}

std::string Bridge::TryCandidate(const Candidate& candidate) {
    // Only a character device is opened: other files have no business here,
    // and opening some (a FIFO) could wait for ever.
    struct stat info {};
    if (::stat(candidate.path.c_str(), &info) != 0) {
        return OpenFailure(candidate.label, "stat", errno);
    }
    if (!S_ISCHR(info.st_mode)) {
        return NotACharacterDevice(candidate.label);
    }
    const char* step = "open";
    if (const int err = line_.Open(candidate.path, step); err != 0) {
        return OpenFailure(candidate.label, step, err);
    }
    std::string error = AwaitGreeting(candidate.label);
    if (error.empty()) {
        error = Synchronise(candidate.label);
    }
    if (!error.empty()) {
        line_.Close();
        return error;
    }
    device_ = candidate.label;
    unanswered_.clear();
    unansweredBytes_ = 0;
    return {};
}

std::string Bridge::AwaitGreeting(const std::string& device) {
    // An empty line first ends any partial line left in the firmware's buffer;
    // it gets no reply. The question is repeated while a board that reset
    // when its port opened is still in its bootloader.
    const Clock::time_point giveUp = After(timing_.greetingMilliseconds);
    std::string said, otherVersion;
    for (Clock::time_point nextAsk = Clock::now(); Clock::now() < giveUp;) {
        if (Clock::now() >= nextAsk) {
            const std::string ask =
                (said.empty() && otherVersion.empty() ? "\n" : "") + Request(PUENTE_ASK_GREETING);
            if (const int err = line_.Write(ask); err != 0) {
                return Lost(device, err);
            }
            nextAsk = After(timing_.askMilliseconds);
        }
        std::string reply;
        switch (line_.ReadLine(reply, std::min(nextAsk, giveUp))) {
        case SerialDevice::Status::Ok:
            if (reply.compare(0, GreetingPrefixLength, PUENTE_GREETING_PREFIX) == 0) {
                return {};
            }
            if (reply.compare(0, FamilyPrefix.size(), FamilyPrefix) == 0) {
                otherVersion = Quoted(reply);
            } else if (!reply.empty() && said.empty()) {
                said = Quoted(reply);
            }
            break;
        case SerialDevice::Status::Garbage:
            said = said.empty() ? "(datos sin fin de línea)" : said;
            break;
        case SerialDevice::Status::Lost:
            return Lost(device, line_.LostErrno());
        case SerialDevice::Status::Timeout:
            break;
        }
    }
    if (!otherVersion.empty()) {
        return OtherProtocolVersion(device, otherVersion);
    }
    return said.empty() ? Silent(device) : NotOurFirmware(device, said);
}

std::string Bridge::Synchronise(const std::string& device) {
    // Greetings to questions asked while the first one was on its way, and
    // "E" for what the bootloader let through, come before this reply.
    const std::string request = Request(PUENTE_READ_CONTROL);
    if (const int err = line_.Write(request); err != 0) {
        return Lost(device, err);
    }
    const Clock::time_point deadline = After(timing_.replyMilliseconds);
    for (;;) {
        std::string reply;
        switch (line_.ReadLine(reply, deadline)) {
        case SerialDevice::Status::Ok:
            if (ReplyValue(reply, PUENTE_REPLY_CONTROL) >= 0) {
                return {};
            }
            if (reply.compare(0, GreetingPrefixLength, PUENTE_GREETING_PREFIX) != 0 &&
                reply != std::string(1, PUENTE_REPLY_ERROR)) {
                return UnexpectedReply(device, WithoutLineEnd(request), Quoted(reply));
            }
            break;
        case SerialDevice::Status::Garbage:
            return UnexpectedReply(device, WithoutLineEnd(request), "(datos sin fin de línea)");
        case SerialDevice::Status::Lost:
            return Lost(device, line_.LostErrno());
        case SerialDevice::Status::Timeout:
            return NoReply(device, WithoutLineEnd(request), timing_.replyMilliseconds);
        }
    }
}

std::string Bridge::Send(const std::string& request) {
    if (const int err = line_.Write(request); err != 0) {
        return Lost(device_, err);
    }
    return {};
}

std::string Bridge::Problem(SerialDevice::Status status, const std::string& request) const {
    switch (status) {
    case SerialDevice::Status::Ok:
        return {};
    case SerialDevice::Status::Garbage:
        return UnexpectedReply(device_, WithoutLineEnd(request), "(datos sin fin de línea)");
    case SerialDevice::Status::Lost:
        return Lost(device_, line_.LostErrno());
    case SerialDevice::Status::Timeout:
        break;
    }
    return NoReply(device_, WithoutLineEnd(request), timing_.replyMilliseconds);
}

std::string Bridge::CollectAcks(bool wait) {
    const auto replyTime = std::chrono::milliseconds(timing_.replyMilliseconds);
    while (!unanswered_.empty()) {
        const Sent& oldest = unanswered_.front();
        const Clock::time_point due = oldest.at + replyTime;
        // Not waiting, an acknowledgement is waited for only once it is
        // overdue or the firmware's buffer would fill.
        const bool mustWait = wait || Clock::now() >= due || unansweredBytes_ > UnansweredWindow;
        std::string reply;
        const SerialDevice::Status status = line_.ReadLine(reply, mustWait ? due : Clock::now());
        if (status == SerialDevice::Status::Timeout && !mustWait) {
            return {};
        }
        if (std::string error = Problem(status, oldest.request); !error.empty()) {
            return error;
        }
        if (reply != std::string(1, PUENTE_REPLY_DONE)) {
            return UnexpectedReply(device_, WithoutLineEnd(oldest.request), Quoted(reply));
        }
        roundTrips_ += mustWait && !wait ? 1 : 0;
        unansweredBytes_ -= oldest.request.size();
        unanswered_.pop_front();
    }
    return {};
}

PortResult Bridge::Write(int port, int value) {
    std::lock_guard lock(mutex_);
    std::string request;
    switch (port) {
    case PortioDataRegister:
        request = Request(PUENTE_WRITE_DATA, value & 0xFF);
        break;
    case PortioControlRegister:
        if (value < 0 || value > PUENTE_CONTROL_LINES) {
            return Failure(ControlValueRefused(value));
        }
        request = Request(PUENTE_WRITE_CONTROL, value);
        break;
    case PortioStatusRegister:
        return Failure(parport::StatusIsReadOnly());
    default:
        return Failure(parport::UnknownRegister(port));
    }
    if (std::string error = Connect(); !error.empty()) {
        return Failure(std::move(error));
    }
    if (std::string error = CollectAcks(false); !error.empty()) {
        return Fail(std::move(error));
    }
    if (std::string error = Send(request); !error.empty()) {
        return Fail(std::move(error));
    }
    unanswered_.push_back({request, Clock::now()});
    unansweredBytes_ += request.size();
    return {};
}

PortResult Bridge::Read(int port) {
    std::lock_guard lock(mutex_);
    char ask = 0, answer = 0;
    switch (port) {
    case PortioDataRegister:
        ask = PUENTE_READ_DATA;
        answer = PUENTE_REPLY_DATA;
        break;
    case PortioStatusRegister:
        ask = PUENTE_READ_STATUS;
        answer = PUENTE_REPLY_STATUS;
        break;
    case PortioControlRegister:
        ask = PUENTE_READ_CONTROL;
        answer = PUENTE_REPLY_CONTROL;
        break;
    default:
        return Failure(parport::UnknownRegister(port));
    }
    if (std::string error = Connect(); !error.empty()) {
        return Failure(std::move(error));
    }
    // Sent before the writes' acknowledgements are read: the one round trip
    // covers them too.
    const std::string request = Request(ask);
    if (std::string error = Send(request); !error.empty()) {
        return Fail(std::move(error));
    }
    ++roundTrips_;
    if (std::string error = CollectAcks(true); !error.empty()) {
        return Fail(std::move(error));
    }
    std::string reply;
    const SerialDevice::Status status = line_.ReadLine(reply, After(timing_.replyMilliseconds));
    if (std::string error = Problem(status, request); !error.empty()) {
        return Fail(std::move(error));
    }
    const int value = ReplyValue(reply, answer);
    if (value < 0) {
        return Fail(UnexpectedReply(device_, WithoutLineEnd(request), Quoted(reply)));
    }
    return {value, {}};
}

} // namespace puente
