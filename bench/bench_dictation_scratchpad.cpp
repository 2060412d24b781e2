// From the Dictation Scratchpad command (AppDelegate::presentDictationScratchpad(), what the
// shortcut runs) to the first buffer of microphone audio captured, with the real delegate, the
// PocketSphinx English model and the sound server's default source (under the desktop session: a
// null sink's monitor). Each round closes the window first, as the user does between openings.
// Silence plays into the default sink throughout, as sound reaches a live microphone: an idle null
// sink renders only every second or two, and its monitor would then deliver that late.
//   BM_ScratchpadOpeningToFirstAudio: every opening after the first, in manual time; the first
//                opening (model load included) is the counter cold_ms.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "dictation/speech_recognition_service.h"
#include "platform/audio_input.h"
#include "platform/desktop_backend.h"
#include "platform/linux/pocketsphinx_speech_models.h"
#include "shell/app_delegate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

using namespace tavrolin;

// The clock of the whole benchmark, readable from the capture thread.
std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The system's microphone source, noting when its first buffer came in.
class FirstBufferTimedSource final : public AudioInputSource {
public:
    explicit FirstBufferTimedSource(std::shared_ptr<std::atomic<std::int64_t>> firstBufferAt)
        : firstBufferAt_(std::move(firstBufferAt)) {}
    AudioInputFormat format() const override { return source_->format(); }
    std::optional<QString> start() override { return source_->start(); }
    AudioReadStatus read(std::span<std::int16_t> samples, QString& error) override {
        const AudioReadStatus status = source_->read(samples, error);
        if (status == AudioReadStatus::ok && !noted_) {
            noted_ = true;
            firstBufferAt_->store(nowNs());
        }
        return status;
    }
    void stop() override { source_->stop(); }

private:
    std::unique_ptr<AudioInputSource> source_ = makeSystemAudioInputSource();
    std::shared_ptr<std::atomic<std::int64_t>> firstBufferAt_;
    bool noted_ = false;
};

void spinFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

void BM_ScratchpadOpeningToFirstAudio(benchmark::State& state) {
    if (!PocketSphinxSpeechModels().hasModel(QStringLiteral("en-US"))) {
        state.SkipWithError("pocketsphinx-en-us is not installed");
        return;
    }
    const auto firstBufferAt = std::make_shared<std::atomic<std::int64_t>>(0);
    AppDelegate::Factories factories = AppDelegate::defaultFactories();
    factories.makeSpeechRecognitionService =
        speechRecognitionServiceFactory({std::make_shared<PocketSphinxSpeechModels>(), [firstBufferAt] {
                                             return std::make_unique<FirstBufferTimedSource>(firstBufferAt);
                                         }});
    AppDelegate delegate(std::move(factories));

    QProcess player;
    player.setStandardInputFile(QStringLiteral("/dev/zero"));
    player.start(QStringLiteral("pacat"),
                 {QStringLiteral("--playback"), QStringLiteral("--raw"), QStringLiteral("--latency-msec=20")});
    if (!player.waitForStarted(5000)) {
        state.SkipWithError("pacat (pulseaudio-utils) is needed to keep the sound server's sink running");
        return;
    }
    spinFor(500);

    // One opening: milliseconds from the command to the first captured buffer, or -1.
    const auto open = [&]() -> double {
        firstBufferAt->store(0);
        const std::int64_t started = nowNs();
        delegate.presentDictationScratchpad();
        QElapsedTimer timer;
        timer.start();
        while (firstBufferAt->load() == 0 && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        const std::int64_t arrived = firstBufferAt->load();
        if (DictationScratchpadWindowController* controller = delegate.dictationScratchpadWindowController()) {
            controller->window()->close();
        }
        // The stopped run releases the microphone and its decoder before the next opening.
        spinFor(700);
        return arrived == 0 ? -1.0 : double(arrived - started) / 1e6;
    };

    const double cold = open();
    if (cold < 0) {
        state.SkipWithError("no audio within 20 s: is a sound server running?");
        return;
    }
    state.counters["cold_ms"] = cold;
    std::vector<double> samples;
    for (auto _ : state) {
        const double ms = open();
        if (ms < 0) {
            state.SkipWithError("no audio within 20 s");
            return;
        }
        samples.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
    state.counters["max_ms"] = samples.back();
    player.kill();
    player.waitForFinished(2000);
}
BENCHMARK(BM_ScratchpadOpeningToFirstAudio)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "DISPLAY is not set: run inside scripts/desktop-session.sh\n");
        return 1;
    }
    // A configuration of its own, offline, so nothing is sent and the user's files stay untouched.
    QTemporaryDir home;
    for (const char* folder : {"config/tavrolin", "data", "state"}) {
        QDir().mkpath(home.filePath(QString::fromLatin1(folder)));
    }
    // The sound server of the session is found through the session's runtime folder, and its
    // cookie under the session's configuration folder.
    if (qEnvironmentVariableIsEmpty("PULSE_COOKIE")) {
        const QString sessionConfig = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath() + "/.config");
        setenv("PULSE_COOKIE", (sessionConfig + "/pulse/cookie").toLocal8Bit().constData(), 1);
    }
    setenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit().constData(), 1);
    setenv("XDG_STATE_HOME", home.filePath("state").toLocal8Bit().constData(), 1);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    {
        JsonFileDefaultsStore defaults(home.filePath("config/tavrolin/defaults.json"));
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.onlineFeaturesEnabled = false;
        settings.telemetryEnabled = false;
        settings.launchAtLoginEnabled = false;
        settings.dictationLanguage = AppLanguage::english;
        store.persist(settings);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
