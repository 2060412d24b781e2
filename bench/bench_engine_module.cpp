// Opening the text recognition module (libtavrolin-ocr.so with Tesseract and its libraries), the
// heaviest of the engine modules, from this build's module folder:
//   BM_FirstOpen: the first open in the process, as the first Translate pays it: the checks of the
//                 file and of the folders on its way, reading it whole and its digest, then
//                 mapping it with its libraries. Once per process: run the program again for
//                 another sample.
//   BM_CheckOnly: the same call on a module already mapped: the checks, the read and the digest,
//                 what the first open pays on top of mapping the module.
#include "platform/linux/engine_module.h"

#include <QFileInfo>

#include <benchmark/benchmark.h>

using namespace tavrolin;

namespace {

void openOcrModule(benchmark::State& state) {
    EngineModule module(QStringLiteral("ocr"));
    QString error;
    if (module.entry("tavrolin_ocr_make_engine", error) == nullptr) {
        state.SkipWithError(error.toUtf8().constData());
    }
}

void BM_FirstOpen(benchmark::State& state) {
    for (auto _ : state) {
        openOcrModule(state);
    }
    state.SetLabel("the module with its libraries, checked and mapped");
}
BENCHMARK(BM_FirstOpen)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_CheckOnly(benchmark::State& state) {
    openOcrModule(state);
    for (auto _ : state) {
        openOcrModule(state);
    }
    const QFileInfo file(EngineModule(QStringLiteral("ocr")).folder() + QStringLiteral("/libtavrolin-ocr.so"));
    state.SetLabel(
        QStringLiteral("%1 kB read and digested, module already mapped").arg(file.size() / 1024).toStdString());
}
BENCHMARK(BM_CheckOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
