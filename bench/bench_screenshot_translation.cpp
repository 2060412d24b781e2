// Window translation of a painted 1280x800 application window (40 lines of English interface
// text, English favoured) into Spanish with the installed Tesseract and Apertium: the whole
// pipeline, and the rendering of its translated blocks alone. The first pipeline run of the
// process (engines cold) is printed before the benchmarks.
#include "language/system_translation_client.h"
#include "platform/desktop_backend.h"
#include "platform/language_recognizer.h"
#include "platform/text_recognition_engine.h"
#include "repeated_benchmark.h"
#include "support/async.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/painted_screen.h"
#include "window_translation/screenshot_translation_service.h"
#include "window_translation/text_recognition_service.h"

#include <QElapsedTimer>
#include <QGuiApplication>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <optional>

namespace {

using namespace tavrolin;

struct Fixture {
    std::shared_ptr<test::FixedPreferredLanguages> preferred =
        std::make_shared<test::FixedPreferredLanguages>(std::set<AppLanguage>{AppLanguage::english});
    std::shared_ptr<TextRecognitionService> recognizer = std::make_shared<TextRecognitionService>(
        makeSystemTextRecognitionEngine(), std::shared_ptr<const LanguageRecognizer>(makeSystemLanguageRecognizer()),
        preferred);
    ScreenshotTranslationService service = ScreenshotTranslationService::configured(
        recognizer,
        std::make_shared<SystemTranslationClient>(makeSystemTranslationEngine(), makeSystemLanguageRecognizer()),
        preferred, AppLanguage::german);
    QImage screen = test::paintUiScreen().image;
    const TranslationLanguagePair pair{AppLanguage::automatic, AppLanguage::spanish};

    TranslatedScreenshot translate() const { return test::await(service.translateText(screen, pair)); }

    // The blocks the pipeline draws for the screen.
    std::vector<TranslatedTextBlock> blocks() const {
        std::vector<RecognizedTextGroup> kept;
        for (const RecognizedTextGroup& group :
             service.grouper.group(recognizer->recognizeText(screen, AppLanguage::automatic, false).blocks)) {
            if (service.passesTextFilter(group.text)) {
                kept.push_back(group);
            }
        }
        return test::await(service.translateRecognizedGroupsResult(kept, AppLanguage::automatic, std::nullopt,
                                                                   preferred->boostedLanguages(), AppLanguage::spanish))
            .blocks;
    }
};

// Made in main, after the application object and destroyed before it.
Fixture* shared = nullptr;

Fixture& fixture() {
    return *shared;
}

void BM_WholePipeline(benchmark::State& state) {
    for (auto _ : state) {
        const TranslatedScreenshot result = fixture().translate();
        if (!result.translationState.appliedTranslation) {
            state.SkipWithError("nothing was translated");
            return;
        }
        benchmark::DoNotOptimize(result.image.constBits());
    }
}

void BM_RenderingOnly(benchmark::State& state) {
    const std::vector<TranslatedTextBlock> blocks = fixture().blocks();
    state.counters["blocks"] = static_cast<double>(blocks.size());
    const TranslatedImageRenderer renderer{fixture().service.layoutEngine};
    for (auto _ : state) {
        const QImage image = renderer.renderTranslatedImage(fixture().screen, blocks, WritingDirection::leftToRight);
        benchmark::DoNotOptimize(image.constBits());
    }
}

// A server that answers one paragraph with 100,000 characters: the screen's blocks, the first
// of them replaced by the long answer.
void BM_RenderingHugeAnswer(benchmark::State& state) {
    std::vector<TranslatedTextBlock> blocks = fixture().blocks();
    QString huge;
    while (huge.size() < 100000) {
        huge += QStringLiteral("una respuesta muy larga del servidor ");
    }
    blocks.front().translatedText = huge;
    const TranslatedImageRenderer renderer{fixture().service.layoutEngine};
    for (auto _ : state) {
        const QImage image = renderer.renderTranslatedImage(fixture().screen, blocks, WritingDirection::leftToRight);
        benchmark::DoNotOptimize(image.constBits());
    }
}

TAVROLIN_REPEATED_BENCHMARK(BM_WholePipeline, 5)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->ReportAggregatesOnly(true);
TAVROLIN_REPEATED_BENCHMARK(BM_RenderingOnly, 5)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);
TAVROLIN_REPEATED_BENCHMARK(BM_RenderingHugeAnswer, 5)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Fixture made;
    shared = &made;
    QElapsedTimer cold;
    cold.start();
    const TranslatedScreenshot first = fixture().translate();
    std::printf("cold first run: %lld ms (%s)\n", static_cast<long long>(cold.elapsed()),
                qPrintable(first.translationState.displayName()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    shared = nullptr;
    return 0;
}
