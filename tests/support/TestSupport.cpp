#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "velantro-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void CopyFile(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> WritesOf(const std::vector<int>& values) {
    std::vector<std::string> lines;
    for (int value : values) {
        lines.push_back("PortOut 890 7");
        lines.push_back("PortOut 888 " + std::to_string(value));
    }
    return lines;
}

RecordingPort::RecordingPort(const TempDir& dir)
    : trace_(dir.File("trace")), script_(dir.File("script")), fail_(dir.File("fail")) {
    ::setenv("PORTIO_TRACE", trace_.c_str(), 1);
    ::setenv("PORTIO_SCRIPT", script_.c_str(), 1);
    ::setenv("PORTIO_FAIL", fail_.c_str(), 1);
    ClearTrace();
}

RecordingPort::~RecordingPort() {
    ::unsetenv("PORTIO_TRACE");
    ::unsetenv("PORTIO_SCRIPT");
    ::unsetenv("PORTIO_FAIL");
}

void RecordingPort::Script(int first) {
    WriteFile(script_, std::to_string(first) + "\n");
}

void RecordingPort::Script(int first, int second) {
    WriteFile(script_, std::to_string(first) + " " + std::to_string(second) + "\n");
}

void RecordingPort::FailOn(const std::string& rule) {
    WriteFile(fail_, rule + "\n");
}

void RecordingPort::ClearTrace() {
    std::error_code ignored;
    fs::remove(trace_, ignored);
}

} // namespace testsupport
