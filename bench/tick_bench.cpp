// The cost of one tick of the console, through the real timer handler:
//   Empty:     an input code that shows no picture (15);
//   Unchanged: a code that shows rojo.jpg, already on show: one stat of the
//              file, nothing read or decoded. The argument is the file's size:
//              the delivered picture, padded after its end (which the loader
//              ignores) to 50 kB or 2 MB;
//   Changed:   codes alternating between rojo.jpg and verde.jpg, so every tick
//              replaces the picture with the other file's kept one: one stat,
//              nothing read or decoded.
// The four pictures sit beside this program, as beside the console.
#include "Dispatch.h"
#include "Form1.h"
#include "PictureFormats.h"
#include "PortLibrary.h"

#include "ProgramDirectory.h"
#include "TestSupport.h"

#include <QApplication>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using SetStatus = void (*)(int);
SetStatus setStatus = nullptr;

// Status bytes whose first group decodes to codes 15, 1 (rojo.jpg) and 4 (verde.jpg).
constexpr int NoPicture = testsupport::StatusForCode(15);
constexpr int Red = testsupport::StatusForCode(1);
constexpr int Green = testsupport::StatusForCode(4);

void Tick(Form1& form) {
    QMetaObject::invokeMethod(form.Timer1, "timeout");
}

// Reports go to the log: a benchmark that hits one is skipped.
class WarnReports : public ReportSink {
public:
    void Report(const QString& message) override { qWarning("%s", qPrintable(message)); }
};

void Run(benchmark::State& state, std::initializer_list<int> statuses) {
    WarnReports reports;
    Dispatch dispatch(reports);
    Form1 form(dispatch);
    form.Timer1->stop();
    for (int status : statuses) { // the first ticks decode whatever is needed
        setStatus(status);
        Tick(form);
    }
    // A file is read when first seen and once more when its stamp has held
    // for two seconds: the first tick after the sleep reads it, none after.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    while (state.KeepRunning()) {
        for (int status : statuses) {
            setStatus(status);
            Tick(form);
        }
    }
    if (dispatch.Halted()) {
        state.SkipWithError("the tick reported an error");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(statuses.size()));
}

void Empty(benchmark::State& state) {
    Run(state, {NoPicture});
}
// Pads rojo.jpg to size bytes for the benchmark, and puts the delivered file
// back afterwards.
class PaddedPicture {
public:
    explicit PaddedPicture(std::size_t size)
        : path_(Module1_Velantro::ProgramDirectory() + "/rojo.jpg"), original_(Read(path_)) {
        std::string padded = original_;
        padded.resize(std::max(size, original_.size()), '\0');
        Write(padded);
    }
    ~PaddedPicture() { Write(original_); }
    PaddedPicture(const PaddedPicture&) = delete;
    PaddedPicture& operator=(const PaddedPicture&) = delete;

private:
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Write(const std::string& bytes) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::string path_;
    std::string original_;
};

void Unchanged(benchmark::State& state) {
    const PaddedPicture picture(static_cast<std::size_t>(state.range(0)));
    Run(state, {Red});
}
void Changed(benchmark::State& state) {
    Run(state, {Red, Green});
}

BENCHMARK(Empty);
BENCHMARK(Unchanged)->Arg(0)->Arg(std::int64_t{50} * 1024)->Arg(std::int64_t{2} * 1024 * 1024);
BENCHMARK(Changed);

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Module1_Velantro::BindPortLibrary(NOOP_LIBRARY);
    void* library = ::dlopen(NOOP_LIBRARY, RTLD_NOW);
    setStatus = reinterpret_cast<SetStatus>(::dlsym(library, "NoopSetStatus"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ::dlclose(library);
    return 0;
}
