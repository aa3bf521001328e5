#include "HarnessProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace puente {

namespace {

using Clock = std::chrono::steady_clock;

enum class Read { Line, Timeout, Closed };

// One line from fd, without its '\n', through pending (bytes read past it).
Read ReadLineFrom(int fd, std::string& pending, int timeoutMs, std::string& line) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return Read::Line;
        }
        const auto left = std::max<long long>(
            0,
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        pollfd ready = {fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno != EINTR) {
            return Read::Closed;
        }
        if (polled <= 0) {
            if (left == 0) {
                return Read::Timeout;
            }
            continue;
        }
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            return Read::Closed;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace

HarnessProcess::HarnessProcess(const Options& options) {
    std::vector<std::string> arguments = {PUENTE_HARNESS};
    if (!options.board) {
        arguments.emplace_back("--no-board");
    }
    if (options.reportPins) {
        arguments.emplace_back("--report-pins");
    }
    if (options.unplugAfterMs >= 0) {
        arguments.push_back("--unplug-after=" + std::to_string(options.unplugAfterMs));
    }
    if (!options.link.empty()) {
        arguments.push_back("--link=" + options.link);
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (pid_ > 0) {
        std::string path;
        if (ReadLineFrom(output_, pending_, 10000, path) == Read::Line) {
            pty_ = path;
        }
    }
}

HarnessProcess::~HarnessProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    close(input_);
    close(output_);
}

std::string HarnessProcess::ReadLine(int timeoutMs) {
    std::string line;
    return ReadLineFrom(output_, pending_, timeoutMs, line) == Read::Line ? line : std::string();
}

std::string HarnessProcess::NextPins(int timeoutMs) {
    std::string line = ReadLine(timeoutMs);
    if (!line.empty()) {
        pins_ = line;
    }
    return line;
}

std::string HarnessProcess::SettledPins(int waitMs) {
    usleep(static_cast<useconds_t>(waitMs) * 1000);
    while (!NextPins(0).empty()) {
    }
    return pins_;
}

bool HarnessProcess::WaitForExit(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        if (Clock::now() > deadline) {
            return false;
        }
        usleep(10000);
    }
    return true;
}

bool HarnessProcess::Unplug() {
    if (pid_ <= 0) {
        return false;
    }
    kill(pid_, SIGUSR1);
    return WaitForExit(5000);
}

SerialLine::SerialLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) {
        return;
    }
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    tcsetattr(fd_, TCSANOW, &settings);
}

SerialLine::~SerialLine() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool SerialLine::Write(const std::string& bytes) const {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::string SerialLine::ReadLine(int timeoutMs) {
    std::string line;
    switch (ReadLineFrom(fd_, pending_, timeoutMs, line)) {
    case Read::Line:
        return line;
    case Read::Timeout:
        return "<none>";
    case Read::Closed:
        break;
    }
    return "<closed>";
}

std::string SerialLine::Ask(const std::string& request, int timeoutMs) {
    if (!Write(request + "\n")) {
        return "<closed>";
    }
    return ReadLine(timeoutMs);
}

} // namespace puente
