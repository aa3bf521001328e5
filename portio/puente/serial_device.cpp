#include "serial_device.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace puente {
namespace {

// No reply of the bridge is longer; more without a line end is not the bridge.
constexpr size_t LongestLine = 64;

int SetRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return errno;
    }
    cfmakeraw(&settings);
    // 8N1, receiver on, modem lines ignored: a bridge has none but DTR/RTS.
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, B115200) != 0 || cfsetospeed(&settings, B115200) != 0 ||
        tcsetattr(fd, TCSANOW, &settings) != 0) {
        return errno;
    }
    return 0;
}

} // namespace

int SerialDevice::Open(const std::string& path, const char*& step) {
    Close();
    step = "open";
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    // The lock keeps out every program that asks for it, root's too; TIOCEXCL
    // keeps out other openers that do not ask (a serial monitor), but not root.
    step = "flock";
    int err = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (err == 0) {
        step = "TIOCEXCL";
        err = ::ioctl(fd, TIOCEXCL) == 0 ? 0 : errno;
    }
    if (err == 0) {
        step = "tcsetattr";
        err = SetRaw(fd);
    }
    if (err != 0) {
        ::close(fd);
        return err;
    }
    fd_ = fd;
    pending_.clear();
    written_ = read_ = 0;
    tcflush(fd_, TCIOFLUSH);
    return 0;
}

void SerialDevice::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

int SerialDevice::Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            written_ += static_cast<unsigned long>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            // The output queue is full: wait until it drains.
            pollfd out{fd_, POLLOUT, 0};
            if (::poll(&out, 1, 1000) > 0 && (out.revents & POLLOUT) != 0) {
                continue;
            }
            return EIO;
        }
        return n < 0 ? errno : EIO;
    }
    return 0;
}

bool SerialDevice::TakeLine(std::string& line) {
    const size_t end = pending_.find('\n');
    if (end == std::string::npos) {
        return false;
    }
    line.clear();
    for (size_t i = 0; i < end; ++i) {
        if (pending_[i] != '\r') {
            line += pending_[i];
        }
    }
    pending_.erase(0, end + 1);
    return true;
}

SerialDevice::Status SerialDevice::ReadLine(std::string& line, Clock::time_point deadline) {
    for (;;) {
        if (TakeLine(line)) {
            return line.size() > LongestLine ? Status::Garbage : Status::Ok;
        }
        if (pending_.size() > LongestLine) {
            pending_.clear();
            return Status::Garbage;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd in{fd_, POLLIN, 0};
        const int ready = ::poll(&in, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            return Status::Timeout;
        }
        char buffer[256];
        const ssize_t n = ready > 0 ? ::read(fd_, buffer, sizeof buffer) : -1;
        if (n > 0) {
            pending_.append(buffer, static_cast<size_t>(n));
            read_ += static_cast<unsigned long>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        // A hung-up terminal reads as the end of the file; a pseudo-terminal
        // whose other side closed, and a USB device unplugged, as EIO.
        lostErrno_ = n < 0 ? errno : EIO;
        return Status::Lost;
    }
}

void SerialDevice::Discard() {
    tcflush(fd_, TCIFLUSH);
    char buffer[256];
    while (::read(fd_, buffer, sizeof buffer) > 0) {
    }
    pending_.clear();
}

} // namespace puente
