// Speech recognition with the English language model of pocketsphinx-en-us, on speech that
// espeak-ng makes when the benchmark starts (about ten seconds, three sentences).
//   BM_RealTimeFactor/0: the decoder's own defaults; /1: the options the program uses.
//                The counter "rtf" is decoding time over audio time (one thread, so one core).
//   BM_FirstPartialResult: a running service fed by a file source paced to real time; the time
//                from the start of speech (a third of a second into the clip) to the first text
//                on the main thread. Manual time, in milliseconds.
#include "dictation/speech_recognition_service.h"
#include "platform/linux/pocketsphinx_speech_models.h"
#include "support/async.h"
#include "support/fakes/file_audio_input_source.h"
#include "support/speech_test_audio.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

const QStringList kSentences = {
    QStringLiteral("the weather is nice today and we are going for a walk"),
    QStringLiteral("please send me the report"),
    QStringLiteral("thank you very much for your help"),
};

struct Clip {
    QTemporaryDir dir;
    QString path;
    std::vector<std::int16_t> samples;
    QString error;
};

Clip& clip() {
    static Clip* made = [] {
        auto* c = new Clip;
        const auto path = test::makeSpeechClip(c->dir.path(), QStringLiteral("ten-seconds"), kSentences, c->error);
        if (!path) {
            return c;
        }
        c->path = *path;
        QFile file(c->path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll().mid(44);  // sox writes a plain 44-byte header
        c->samples.resize(static_cast<std::size_t>(bytes.size() / 2));
        std::memcpy(c->samples.data(), bytes.constData(), c->samples.size() * 2);
        return c;
    }();
    return *made;
}

void BM_RealTimeFactor(benchmark::State& state) {
    if (clip().path.isEmpty()) {
        state.SkipWithError(clip().error.toUtf8().constData());
        return;
    }
    PocketSphinxSpeechModels models;
    const auto files = models.modelFiles(QStringLiteral("en-US"));
    if (!files) {
        state.SkipWithError("pocketsphinx-en-us is not installed");
        return;
    }
    const QStringList options = state.range(0) == 0 ? QStringList() : models.extraOptions;
    QString error;
    const auto decoder = loadPocketSphinxDecoder(*files, options, error);
    if (!decoder) {
        state.SkipWithError(error.toUtf8().constData());
        return;
    }
    const std::vector<std::int16_t>& samples = clip().samples;
    const double audioSeconds = static_cast<double>(samples.size()) / decoder->sampleRate();
    double decodingSeconds = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        // As the service decodes: 1024-sample buffers, a new utterance after each end of speech.
        decoder->startUtterance(error);
        bool wasInSpeech = false;
        for (std::size_t at = 0; at < samples.size(); at += 1024) {
            const std::size_t count = std::min<std::size_t>(1024, samples.size() - at);
            decoder->processSamples(std::span(samples.data() + at, count), error);
            const bool inSpeech = decoder->inSpeech();
            benchmark::DoNotOptimize(decoder->hypothesis());
            if (wasInSpeech && !inSpeech) {
                decoder->endUtterance(error);
                decoder->startUtterance(error);
            }
            wasInSpeech = inSpeech;
        }
        decoder->endUtterance(error);
        benchmark::DoNotOptimize(decoder->hypothesis());
        decodingSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    state.counters["rtf"] = decodingSeconds / (audioSeconds * static_cast<double>(state.iterations()));
    state.counters["audio_s"] = audioSeconds;
}

// Notes when the paced file source handed out its first buffer.
class TimedFileSource final : public AudioInputSource {
public:
    TimedFileSource(const QString& path, std::shared_ptr<std::atomic<std::int64_t>> startedAt)
        : file_(path, true), startedAt_(std::move(startedAt)) {}
    AudioInputFormat format() const override { return file_.format(); }
    std::optional<QString> start() override {
        startedAt_->store(std::chrono::steady_clock::now().time_since_epoch().count());
        return file_.start();
    }
    AudioReadStatus read(std::span<std::int16_t> samples, QString& error) override {
        return file_.read(samples, error);
    }
    void stop() override { file_.stop(); }

private:
    test::FileAudioInputSource file_;
    std::shared_ptr<std::atomic<std::int64_t>> startedAt_;
};

void BM_FirstPartialResult(benchmark::State& state) {
    if (clip().path.isEmpty()) {
        state.SkipWithError(clip().error.toUtf8().constData());
        return;
    }
    const auto startedAt = std::make_shared<std::atomic<std::int64_t>>(0);
    const auto service = SpeechRecognitionService::create(
        QStringLiteral("en-US"), {std::make_shared<PocketSphinxSpeechModels>(), [path = clip().path, startedAt] {
                                      return std::make_unique<TimedFileSource>(path, startedAt);
                                  }});
    if (!service->hasRecognizer()) {
        state.SkipWithError("pocketsphinx-en-us is not installed");
        return;
    }
    std::int64_t firstText = 0;
    service->onTranscriptionUpdate = [&firstText](const QString&) {
        if (firstText == 0) {
            firstText = std::chrono::steady_clock::now().time_since_epoch().count();
        }
    };
    for (auto _ : state) {
        firstText = 0;
        startedAt->store(0);
        service->startTranscribing();
        if (!test::waitUntil([&] { return firstText != 0; }, 30s)) {
            state.SkipWithError("no text within 30 s");
            break;
        }
        const auto speechStart =
            std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(startedAt->load())) + 300ms;
        const auto arrived = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(firstText));
        state.SetIterationTime(std::chrono::duration<double>(arrived - speechStart).count());
        service->stopTranscribing();
        test::waitUntil([] { return false; }, 700ms);
    }
    service->onTranscriptionUpdate = nullptr;
}

BENCHMARK(BM_RealTimeFactor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FirstPartialResult)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
