// Helpers shared by the tests: a scratch directory, the files through which
// tests talk to the recording port library, and the status byte for an input
// code.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);

// The lines of a file, without their line ends; none when it does not exist.
std::vector<std::string> ReadLines(const std::string& path);

// The trace of writing each output value in turn: "PortOut 890 7" and then
// "PortOut 888 <value>" for every value.
std::vector<std::string> WritesOf(const std::vector<int>& values);

// The status byte whose first group decodes to input code 0 to 15: line k of
// a group is status bit 3 + k, and a decoded bit is 1 when its line reads 0.
constexpr int StatusForCode(int code) {
    return (15 - code) << 3;
}

// Points the recording port library of this process at files in dir:
// trace, script and fail rule. Clears all three.
class RecordingPort {
public:
    explicit RecordingPort(const TempDir& dir);
    ~RecordingPort();

    // Status byte(s) PortIn(889) answers from now on.
    void Script(int first);
    void Script(int first, int second);
    // A fail rule, "<function> <port> [<value> [<skip>]]".
    void FailOn(const std::string& rule);

    std::vector<std::string> Trace() const { return ReadLines(trace_); }
    void ClearTrace();

    const std::string& TracePath() const { return trace_; }
    const std::string& ScriptPath() const { return script_; }
    const std::string& FailPath() const { return fail_; }

private:
    std::string trace_, script_, fail_;
};

} // namespace testsupport
