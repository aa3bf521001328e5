// The picture box as the operator sees it while the board reports input codes:
// which file is shown, unscaled at the box's inner top-left and clipped to it.
#include "ConsoleProcess.h"
#include "TestPictures.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

struct CodeStep {
    int code;
    const char* shows; // the picture file, or nullptr for the built-in one
    bool repaintAll = false;
};

// Codes 8 to 15 report no lamp and leave whatever was shown. A new picture
// repaints only the box's inner area; resizing the window repaints all of it,
// border included, which shows whether the picture is clipped.
const CodeStep Walk[] = {
    {15, nullptr},        {3, "verde.jpg"},      {9, "verde.jpg"},     {5, "amarillo.jpg"},
    {12, "amarillo.jpg"}, {6, "rojo.jpg", true}, {8, "rojo.jpg"},      {0, "velantro.gif"},
    {10, "velantro.gif"}, {4, "verde.jpg"},      {2, "amarillo.jpg"},  {13, "amarillo.jpg"},
    {1, "rojo.jpg"},      {7, "velantro.gif"},   {11, "velantro.gif"}, {14, "velantro.gif", true},
    {15, "velantro.gif"},
};

// Lays the pictures beside the console and starts it: the window's id, or 0
// when it did not start.
unsigned long StartWith(ConsoleProcess& console, const std::vector<TestPicture>& pictures) {
    for (const TestPicture& picture : pictures) {
        console.AddFile(picture.file, Encode(picture));
    }
    const testing::AssertionResult started = Started(console);
    EXPECT_TRUE(started);
    return started ? console.MainWindow().id : 0;
}

TEST(Pictures, EachInputCodeShowsItsFile) {
    ConsoleProcess console;
    const unsigned long window = StartWith(console, LampPictures());
    ASSERT_NE(window, 0UL);

    for (const CodeStep& step : Walk) {
        SCOPED_TRACE("input code " + std::to_string(step.code));
        const std::size_t ticksBefore = console.CurrentTraffic().reads.size();
        const int status = StatusForCode(step.code);
        console.Port().Script(status);
        // Once some ticks have seen the code, any change it brings is on screen.
        ASSERT_TRUE(console.WaitForTicksReading(status, 5, ticksBefore));
        if (step.repaintAll) {
            ResizeWindow(window, controls::Window.size() + QSize(20, 20));
            ResizeWindow(window, controls::Window.size());
            ASSERT_TRUE(
                console.WaitForTicksReading(status, 5, console.CurrentTraffic().reads.size()));
        }
        std::string difference;
        const bool shown = WaitFor([&] {
            difference = ShownDifference(GrabWindow(window), step.shows);
            return difference.empty();
        });
        ASSERT_TRUE(shown) << difference;
    }
    const Traffic traffic = console.CurrentTraffic();
    EXPECT_EQ(traffic.others, WritesOf({0}));
    ExpectCleanTicks(traffic, false);
}

// The simulated console is the simulated board's screen: another program of
// the session lights red through the simulated library and the console shows
// the red picture; what the console's buttons light, the program reads back.
TEST(Pictures, TheSimulatedConsoleShowsWhatAnotherProgramLights) {
    ConsoleProcess console(ConsoleProcess::PortLibrary::Simulated);
    const unsigned long window = StartWith(console, LampPictures());
    ASSERT_NE(window, 0UL);
    const auto shows = [&](const char* file) {
        std::string difference;
        const bool shown = WaitFor([&] {
            difference = ShownDifference(GrabWindow(window), file);
            return difference.empty();
        });
        return shown ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << difference;
    };
    EXPECT_TRUE(shows("velantro.gif")) << "the board starts dark";

    const CommandResult probe = console.RunBeside(QStringLiteral("velantro-sonda"), {"9"});
    EXPECT_TRUE(probe.finished && probe.exitCode == 0) << probe.output.toStdString();
    EXPECT_TRUE(shows("rojo.jpg"));

    // The buttons Manual and Ámbar light amber; Ámbar shows once Manual is done.
    console.Click(controls::Manual);
    const auto reads = [&](const char* lamp) {
        QByteArray output;
        return WaitFor([&] {
            output = console.RunBeside(QStringLiteral("velantro-sonda"), {}).output;
            return output.contains(lamp);
        });
    };
    ASSERT_TRUE(reads("ninguna lámpara encendida"));
    console.Click(controls::Ambar);
    EXPECT_TRUE(reads("lámpara ámbar encendida"));
    EXPECT_TRUE(shows("amarillo.jpg"));
    EXPECT_EQ(console.Reports(), std::vector<std::string>()) << console.Errors();
}

// Pictures far larger than the box come on show some ticks after their code,
// whole, while the console goes on reading the board.
TEST(Pictures, BigPicturesComeOnShowWhileTheConsoleKeepsPolling) {
    ConsoleProcess console;
    const unsigned long window = StartWith(console, BigPictures());
    ASSERT_NE(window, 0UL);
    // rojo.jpg for code 1, velantro.gif for code 0.
    for (const int code : {1, 0}) {
        const TestPicture& picture = BigPictures()[code == 1 ? 0 : 1];
        SCOPED_TRACE(picture.file);
        const std::size_t ticksBefore = console.CurrentTraffic().reads.size();
        console.Port().Script(StatusForCode(code));
        std::string difference;
        const bool shown = WaitFor([&] {
            const QImage shot = GrabWindow(window);
            difference = shot.isNull() ? "no screenshot" : PictureMismatch(shot, picture);
            return difference.empty();
        });
        ASSERT_TRUE(shown) << difference;
        EXPECT_GT(console.CurrentTraffic().reads.size(), ticksBefore + 1);
    }
    ExpectCleanTicks(console.CurrentTraffic(), false);
    EXPECT_EQ(console.Errors().find("velantro:"), std::string::npos) << console.Errors();
}

const TestPicture& PictureOf(const char* file) {
    for (const TestPicture& picture : LampPictures()) {
        if (std::strcmp(picture.file, file) == 0) {
            return picture;
        }
    }
    throw std::logic_error(std::string("no test picture is called ") + file);
}

// The picture on show replaced the ways people replace files, every 10 ms
// while the console reads it every 10 ms: copied over in place, deleted and
// written anew, renamed into place, and last written slowly, in two halves.
TEST(Pictures, ReplacingThePictureOnShowNeverEndsTheConsole) {
    using namespace std::chrono_literals;
    const QByteArray versions[] = {Encode(PictureOf("verde.jpg")), Encode(PictureOf("rojo.jpg"))};
    ConsoleProcess console;
    console.AddFile("rojo.jpg", versions[1]);
    ASSERT_TRUE(Started(console));
    console.Port().Script(StatusForCode(1));
    const std::string path = console.ProgramDir() + "/rojo.jpg";
    for (int i = 0; i < 300; ++i) {
        const std::string bytes = versions[i % 2].toStdString();
        if (i % 3 == 1) {
            std::filesystem::remove(path);
        }
        if (i % 3 == 2) {
            testsupport::WriteFile(path + ".nuevo", bytes);
            std::filesystem::rename(path + ".nuevo", path);
        } else {
            testsupport::WriteFile(path, bytes);
        }
        std::this_thread::sleep_for(10ms);
    }
    const QByteArray& last = versions[0];
    const int file = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(file, 0);
    const auto half = static_cast<std::size_t>(last.size() / 2);
    ASSERT_EQ(::write(file, last.constData(), half), static_cast<ssize_t>(half));
    std::this_thread::sleep_for(300ms);
    const std::size_t rest = static_cast<std::size_t>(last.size()) - half;
    ASSERT_EQ(::write(file, last.constData() + half, rest), static_cast<ssize_t>(rest));
    ::close(file);

    std::string difference;
    const bool shown = WaitFor([&] {
        difference = ShownDifference(GrabWindow(console.MainWindow().id), "verde.jpg");
        return difference.empty();
    });
    EXPECT_TRUE(shown) << difference;
    EXPECT_TRUE(console.Running()) << console.Errors();
    EXPECT_EQ(console.Errors().find("velantro:"), std::string::npos) << console.Errors();
    ExpectCleanTicks(console.CurrentTraffic(), false);
}

} // namespace
} // namespace e2e
