// The serial line to the bridge: a serial device or a pseudo-terminal opened
// for this process alone, set raw at 115200 baud 8N1, and the lines of the
// bridge's protocol written to it and read from it.
#pragma once

#include <chrono>
#include <string>

namespace puente {

using Clock = std::chrono::steady_clock;

class SerialDevice {
public:
    enum class Status {
        Ok,
        Timeout, // nothing, or no whole line, before the deadline
        Lost,    // the device went away (hang-up, I/O error)
        Garbage, // a line longer than any the bridge sends
    };

    SerialDevice() = default;
    ~SerialDevice() { Close(); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens path, takes it for this process (flock, then TIOCEXCL against
    // other openers) and sets it raw. Returns 0, or the errno of the step
    // that failed; EWOULDBLOCK when another process holds the lock, EBUSY
    // when the terminal is already held exclusively. errnoStep names the
    // step for a message.
    int Open(const std::string& path, const char*& step);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Writes the whole of text at once. Returns 0 or an errno.
    int Write(const std::string& text);

    // The next complete line, without its '\n' and with any '\r' left out,
    // waiting for it until deadline.
    Status ReadLine(std::string& line, Clock::time_point deadline);

    // Throws away what has arrived and not been read.
    void Discard();

    // The last system error a Lost status came from.
    int LostErrno() const { return lostErrno_; }

    // Bytes written and read since the line was opened (for measuring).
    unsigned long BytesWritten() const { return written_; }
    unsigned long BytesRead() const { return read_; }

private:
    bool TakeLine(std::string& line);

    int fd_ = -1;
    std::string pending_; // bytes read after the last complete line
    int lostErrno_ = 0;
    unsigned long written_ = 0, read_ = 0;
};

} // namespace puente
