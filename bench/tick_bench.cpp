// The cost of one tick of the console, through the real timer handler:
//   Empty:     an input code that shows no picture (15);
//   Unchanged: a code that shows rojo.jpg, already on show: the file is read
//              and compared, nothing decoded;
//   Changed:   codes alternating between rojo.jpg and verde.jpg, so every tick
//              decodes and replaces the picture.
// The four pictures sit beside this program, as beside the console.
#include "Dispatch.h"
#include "Form1.h"
#include "PortLibrary.h"

#include <QApplication>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <dlfcn.h>

namespace {

using SetStatus = void (*)(int);
SetStatus setStatus = nullptr;

// Status bytes whose first group decodes to codes 15, 1 (rojo.jpg) and 4 (verde.jpg).
constexpr int NoPicture = 0x00;
constexpr int Red = 0x70;
constexpr int Green = 0x58;

void Tick(Form1& form) {
    QMetaObject::invokeMethod(form.Timer1, "timeout");
}

void Run(benchmark::State& state, std::initializer_list<int> statuses) {
    Form1 form;
    form.Timer1->stop();
    for (int status : statuses) { // the first ticks decode whatever is needed
        setStatus(status);
        Tick(form);
    }
    while (state.KeepRunning()) {
        for (int status : statuses) {
            setStatus(status);
            Tick(form);
        }
    }
    if (Dispatch::Halted()) {
        state.SkipWithError("the tick reported an error");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(statuses.size()));
}

void Empty(benchmark::State& state) {
    Run(state, {NoPicture});
}
void Unchanged(benchmark::State& state) {
    Run(state, {Red});
}
void Changed(benchmark::State& state) {
    Run(state, {Red, Green});
}

BENCHMARK(Empty);
BENCHMARK(Unchanged);
BENCHMARK(Changed);

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Module1_Velantro::BindPortLibrary(NOOP_LIBRARY);
    void* library = ::dlopen(NOOP_LIBRARY, RTLD_NOW);
    setStatus = reinterpret_cast<SetStatus>(::dlsym(library, "NoopSetStatus"));
    Dispatch::InterceptReports([](const QString& message) { qWarning("%s", qPrintable(message)); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
