#include "BridgeHarness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

// How long the harness may take to load the firmware and open the terminal.
constexpr auto StartTime = std::chrono::seconds(20);

} // namespace

BridgeHarness::BridgeHarness(const std::string& program, const std::vector<std::string>& options) {
    int toHarness[2], fromHarness[2];
    if (::pipe2(toHarness, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(fromHarness, O_CLOEXEC) != 0) {
        ::close(toHarness[0]);
        ::close(toHarness[1]);
        return;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(toHarness[0], STDIN_FILENO);
        ::dup2(fromHarness[1], STDOUT_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(toHarness[0]);
    ::close(fromHarness[1]);
    input_ = toHarness[1];
    const int output = fromHarness[0];
    if (pid_ < 0) {
        ::close(output);
        return;
    }
    reader_ = std::thread([this, output] { Collect(output); });
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, StartTime, [this] { return !device_.empty() || ended_; });
}

void BridgeHarness::Collect(int output) {
    std::string pending;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        pending.append(buffer, static_cast<size_t>(n));
        std::lock_guard lock(mutex_);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (device_.empty()) {
                device_ = line;
                changed_.notify_all();
            } else {
                lines_.push_back(std::move(line));
            }
        }
    }
    ::close(output);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

BridgeHarness::~BridgeHarness() {
    if (pid_ > 0) {
        ::close(input_);
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

std::vector<std::string> BridgeHarness::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void BridgeHarness::Unplug() const {
    if (pid_ > 0) {
        ::kill(pid_, SIGUSR1);
    }
}

bool BridgeHarness::WaitForExit(int timeoutMilliseconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                             [this] { return ended_; });
}

} // namespace testsupport
