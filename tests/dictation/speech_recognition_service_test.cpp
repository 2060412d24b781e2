#include "dictation/speech_recognition_service.h"

#include "dictation/speech_recognition_error.h"
#include "dictation/speech_run_transcript.h"
#include "support/async.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/fakes/file_audio_input_source.h"
#include "support/qt_printers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <thread>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

// Lets queued work and posted callbacks run for a while.
void settle(std::chrono::milliseconds time = 100ms) {
    test::waitUntil([] { return false; }, time);
}

const QString kNotAvailable = QStringLiteral("Speech recognition is not available on this device.");
const QString kInvalidFormat = QStringLiteral("Invalid microphone audio format. Please check your input device.");

class SpeechRecognitionServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<SpeechRecognitionService> make(const QString& locale = QStringLiteral("en-US")) {
        auto service = fake.factory()(locale);
        reports.attach(service);
        return service;
    }
    bool waitForOpenSources(int count) {
        return test::waitUntil([&] { return fake.audio->openSources.load() == count; });
    }

    test::FakeSpeechBackends fake;
    test::SpeechReports reports;
};

TEST_F(SpeechRecognitionServiceTest, StartWhileRunningAndStopWhileIdleDoNothing) {
    const auto service = make();
    service->stopTranscribing();
    settle();
    EXPECT_EQ(fake.audio->sourcesMade.load(), 0);

    service->startTranscribing();
    service->startTranscribing();
    ASSERT_TRUE(waitForOpenSources(1));
    settle();
    EXPECT_EQ(fake.audio->sourcesMade.load(), 1);
    EXPECT_EQ(fake.audio->starts.load(), 1);

    service->stopTranscribing();
    service->stopTranscribing();
    ASSERT_TRUE(waitForOpenSources(0));
    settle(700ms);
    EXPECT_EQ(fake.audio->stops.load(), 1);
    EXPECT_TRUE(reports.errors.isEmpty());
    EXPECT_TRUE(reports.transcriptions.isEmpty());
}

TEST_F(SpeechRecognitionServiceTest, ALocaleWithoutAModelIsNotAvailableOnEveryStart) {
    const auto service = make(QStringLiteral("de-DE"));
    EXPECT_FALSE(service->hasRecognizer());
    EXPECT_FALSE(service->isRecognizerAvailable());
    service->startTranscribing();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return reports.errors.size() == 2; }));
    EXPECT_EQ(reports.errors, (QStringList{kNotAvailable, kNotAvailable}));
    EXPECT_EQ(fake.audio->sourcesMade.load(), 0);
    EXPECT_EQ(fake.models->loads.load(), 0);
}

TEST_F(SpeechRecognitionServiceTest, AModelThatFailsToLoadIsNoRecognizer) {
    fake.models->loadFailure = QStringLiteral("truncated model");
    const auto service = make();
    EXPECT_TRUE(service->hasRecognizer());
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !reports.errors.isEmpty(); }));
    EXPECT_EQ(reports.errors, QStringList{kNotAvailable});
    EXPECT_FALSE(service->isRecognizerAvailable());
    EXPECT_EQ(fake.audio->sourcesMade.load(), 0);
}

TEST_F(SpeechRecognitionServiceTest, UnusableInputFormatsAreRefusedAndReleasedAtOnce) {
    const AudioInputFormat formats[] = {{0, 1}, {16000, 0}, {-1, 1}, {44100, 1}, {16000, 2}};
    for (const AudioInputFormat& format : formats) {
        {
            const std::lock_guard lock(fake.audio->mutex);
            fake.audio->reportedFormat = format;
        }
        reports.errors.clear();
        const auto service = make();
        service->startTranscribing();
        ASSERT_TRUE(test::waitUntil([&] { return !reports.errors.isEmpty(); })) << format.sampleRate;
        EXPECT_EQ(reports.errors, QStringList{kInvalidFormat});
        // Nothing stays open or alive from the failed start, and a stop finds nothing to do.
        EXPECT_EQ(fake.audio->sourcesAlive.load(), 0);
        EXPECT_EQ(fake.audio->starts.load(), 0);
        service->stopTranscribing();
        settle(50ms);
        EXPECT_EQ(reports.errors.size(), 1);
    }
}

TEST_F(SpeechRecognitionServiceTest, AnUnopenableSourceReportsTheReasonAndLeavesTheServiceIdle) {
    fake.audio->startFailure = QStringLiteral("Connection refused");
    const auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !reports.errors.isEmpty(); }));
    EXPECT_EQ(reports.errors, QStringList{QStringLiteral("Failed to start audio engine: Connection refused")});
    EXPECT_EQ(fake.audio->sourcesAlive.load(), 0);

    // Idle again: the next start tries again and, with the server back, records.
    fake.audio->startFailure.reset();
    service->startTranscribing();
    ASSERT_TRUE(waitForOpenSources(1));
    EXPECT_EQ(fake.audio->sourcesMade.load(), 2);
    service->stopTranscribing();
    ASSERT_TRUE(waitForOpenSources(0));
}

TEST_F(SpeechRecognitionServiceTest, ARecognitionErrorKeepsTheRunUntilItIsStopped) {
    fake.script().add(true, QStringLiteral("hello"));
    fake.script().addFailure(QStringLiteral("out of memory"));
    fake.audio->queueMarked(2);
    const auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !reports.errors.isEmpty(); }));
    EXPECT_EQ(reports.errors, QStringList{QStringLiteral("The speech decoder failed: out of memory")});
    EXPECT_EQ(reports.transcriptions, QStringList{QStringLiteral("hello")});

    // Still running: a start is ignored, the capture goes on.
    service->startTranscribing();
    settle();
    EXPECT_EQ(fake.audio->sourcesMade.load(), 1);
    EXPECT_EQ(fake.audio->openSources.load(), 1);

    service->stopTranscribing();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return fake.audio->sourcesMade.load() == 2; }));
    ASSERT_TRUE(waitForOpenSources(1));
    service->stopTranscribing();
    ASSERT_TRUE(waitForOpenSources(0));
}

TEST_F(SpeechRecognitionServiceTest, ASourceFailingMidRunReportsItAndKeepsWhatWasHeard) {
    fake.script().add(true, QStringLiteral("hello"));
    fake.script().add(true, QStringLiteral("hello there"));
    fake.audio->queueMarked(2);
    fake.audio->failureWhenQueueEmpty = QStringLiteral("Connection terminated");
    const auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !reports.errors.isEmpty(); }));
    EXPECT_EQ(reports.errors, QStringList{QStringLiteral("Audio capture stopped: Connection terminated")});
    ASSERT_TRUE(test::waitUntil([&] { return reports.transcriptions.size() == 2; }));
    EXPECT_EQ(reports.transcriptions.last(), QStringLiteral("hello there"));
    // The stream is freed by the capture thread as it gives up.
    ASSERT_TRUE(waitForOpenSources(0));

    // The run still counts until it is stopped.
    service->startTranscribing();
    settle();
    EXPECT_EQ(fake.audio->sourcesMade.load(), 1);
    service->stopTranscribing();
    settle(50ms);
    EXPECT_EQ(reports.errors.size(), 1);
}

TEST_F(SpeechRecognitionServiceTest, UtterancesAcrossASilenceJoinWithOneSpace) {
    fake.script().add(true, QStringLiteral("hello"));
    fake.script().add(true, QStringLiteral("<s> hello world [NOISE]"));
    fake.script().add(false, QStringLiteral("hello world"));  // speech ends: the utterance closes
    fake.script().add(false, QString());                      // silence changes nothing
    fake.script().add(true, QStringLiteral("<sil>"));         // a filler alone posts nothing
    fake.script().add(true, QStringLiteral("good"));
    fake.script().add(true, QStringLiteral("good morning(2)"));
    fake.audio->queueMarked(7);
    const auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return reports.transcriptions.size() == 4; }));
    EXPECT_EQ(reports.transcriptions,
              (QStringList{QStringLiteral("hello"), QStringLiteral("hello world"), QStringLiteral("hello world good"),
                           QStringLiteral("hello world good morning")}));
    EXPECT_GE(fake.script().utterancesEnded.load(), 1);
    service->stopTranscribing();
    settle(700ms);
    // Closing the last utterance (at the silence after it, or at the stop) changes no text.
    EXPECT_EQ(reports.transcriptions.size(), 4);
}

TEST_F(SpeechRecognitionServiceTest, ResultsArriveUntilTheCancelAfterAStopAndNoneAfter) {
    // A decoder that lags: ten buffers of speech are captured at once, each takes 100 ms.
    fake.script().processingTime = 100ms;
    for (int i = 1; i <= 10; ++i) {
        fake.script().add(true, QStringLiteral("w").repeated(i));
    }
    fake.audio->queueMarked(10);
    const auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !reports.transcriptions.isEmpty(); }));
    ASSERT_TRUE(test::waitUntil([&] { return fake.audio->reads.load() > 10; }));
    service->stopTranscribing();
    const qint64 stoppedAt = reports.clock.elapsed();
    settle(1500ms);

    const auto late = std::count_if(reports.arrivals.begin(), reports.arrivals.end(),
                                    [&](qint64 time) { return time > stoppedAt + 150; });
    EXPECT_GT(late, 0) << "results decoded after the stop must still arrive";
    for (const qint64 time : reports.arrivals) {
        EXPECT_LE(time, stoppedAt + SpeechRecognitionService::cancelDelayMilliseconds + 300);
    }
    // The cancel came before the backlog was decoded: the whole text never arrives.
    EXPECT_NE(reports.transcriptions.last(), QStringLiteral("w").repeated(10));
    EXPECT_LT(fake.script().processedBuffers.load(), 11);
}

TEST_F(SpeechRecognitionServiceTest, AStopAndStartAtOnceKeepTheStoppedRunsLastWordsOutOfTheNewRun) {
    // A lagging decoder: the stopped run's later words are decoded after the new start.
    fake.script().processingTime = 50ms;
    fake.script().add(true, QStringLiteral("one"));
    fake.script().add(true, QStringLiteral("one two"));
    fake.script().add(true, QStringLiteral("one two three"));
    fake.audio->queueMarked(3);
    const auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !reports.transcriptions.isEmpty() && fake.audio->reads.load() > 3; }));
    service->stopTranscribing();
    service->startTranscribing();
    // The stopped run decodes its last words well within its time before the cancel.
    ASSERT_TRUE(test::waitUntil([&] { return fake.script().processedBuffers.load() >= 3; }));
    settle(100ms);
    EXPECT_EQ(reports.transcriptions, QStringList{QStringLiteral("one")});

    // The new run's own words arrive.
    fake.script().processingTime = 0ms;
    fake.script().add(true, QStringLiteral("fresh"));
    fake.audio->queueMarked(1);
    ASSERT_TRUE(test::waitUntil([&] { return reports.last() == QStringLiteral("fresh"); }, 3s))
        << reports.transcriptions.join(u'|').toStdString();
    EXPECT_TRUE(reports.errors.isEmpty());
    service->stopTranscribing();
}

TEST_F(SpeechRecognitionServiceTest, AServiceReleasedRightAfterStopStillClosesItsSource) {
    fake.script().add(true, QStringLiteral("hello"));
    fake.audio->queueMarked(1);
    auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(waitForOpenSources(1));
    ASSERT_TRUE(test::waitUntil([&] { return !reports.transcriptions.isEmpty(); }));
    service->stopTranscribing();
    service.reset();
    ASSERT_TRUE(waitForOpenSources(0));
    EXPECT_EQ(fake.audio->stops.load(), 1);
    // The service itself ends after its delayed cancel, decoder and all.
    ASSERT_TRUE(test::waitUntil([&] { return fake.script().decodersAlive.load() == 0; }));
    EXPECT_EQ(fake.audio->sourcesAlive.load(), 0);
}

TEST_F(SpeechRecognitionServiceTest, AServiceReleasedWhileRunningClosesItsSourceAndReportsNothingMore) {
    fake.script().add(true, QStringLiteral("hello"));
    auto service = make();
    service->startTranscribing();
    ASSERT_TRUE(waitForOpenSources(1));
    fake.audio->queueMarked(1);
    service.reset();
    // The last owner may be the start still finishing on the worker: the teardown follows it.
    EXPECT_TRUE(test::waitUntil(
        [&] {
            return fake.audio->openSources.load() == 0 && fake.audio->sourcesAlive.load() == 0 &&
                   fake.script().decodersAlive.load() == 0;
        },
        1s));
    settle();
    EXPECT_TRUE(reports.transcriptions.isEmpty());
}

TEST_F(SpeechRecognitionServiceTest, CallbacksAreReadWhenTheResultArrives) {
    fake.script().add(true, QStringLiteral("one"));
    fake.script().add(true, QStringLiteral("two"));  // after the silence between: a new utterance
    fake.audio->queueMarked(1);
    const auto service = make();
    service->onTranscriptionUpdate = nullptr;
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return fake.script().processedBuffers.load() >= 1; }));
    settle(50ms);
    service->onTranscriptionUpdate = [&](const QString& text) { reports.transcriptions << text; };
    fake.audio->queueMarked(1);
    ASSERT_TRUE(test::waitUntil([&] { return !reports.transcriptions.isEmpty(); }));
    EXPECT_EQ(reports.transcriptions, QStringList{QStringLiteral("one two")});  // "one" went nowhere
    service->stopTranscribing();
}

// Audio files handed to the service as its source.
class FileSourceServiceTest : public SpeechRecognitionServiceTest {
protected:
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    static QByteArray wav(int rate, int channels, int bits, int formatTag, int dataBytes) {
        QByteArray bytes("RIFF....WAVEfmt ");
        const auto append32 = [&bytes](quint32 v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
        const auto append16 = [&bytes](quint16 v) { bytes.append(reinterpret_cast<const char*>(&v), 2); };
        append32(16);
        append16(static_cast<quint16>(formatTag));
        append16(static_cast<quint16>(channels));
        append32(static_cast<quint32>(rate));
        append32(static_cast<quint32>(rate * channels * bits / 8));
        append16(static_cast<quint16>(channels * bits / 8));
        append16(static_cast<quint16>(bits));
        bytes.append("data");
        append32(static_cast<quint32>(dataBytes));
        bytes.append(QByteArray(dataBytes, '\1'));
        return bytes;
    }
    QStringList errorsFor(const QString& path) {
        test::FakeSpeechBackends backends;
        const auto service = SpeechRecognitionService::create(
            QStringLiteral("en-US"),
            {backends.models, [path] { return std::make_unique<test::FileAudioInputSource>(path); }});
        test::SpeechReports fileReports;
        fileReports.attach(service);
        service->startTranscribing();
        test::waitUntil([&] { return !fileReports.errors.isEmpty(); }, 2s);
        service->stopTranscribing();
        return fileReports.errors;
    }

    QTemporaryDir dir;
};

TEST_F(FileSourceServiceTest, BadAudioFilesAreReportedNotRecognised) {
    EXPECT_EQ(errorsFor(write(QStringLiteral("odd.raw"), QByteArray(2049, '\0'))),
              QStringList{QStringLiteral("Failed to start audio engine: raw audio with an odd number of bytes")});
    EXPECT_EQ(errorsFor(write(QStringLiteral("cd.wav"), wav(44100, 2, 16, 1, 4096))), QStringList{kInvalidFormat});
    EXPECT_EQ(errorsFor(write(QStringLiteral("zero.wav"), wav(0, 1, 16, 1, 4096))), QStringList{kInvalidFormat});
    EXPECT_EQ(errorsFor(write(QStringLiteral("eight.wav"), wav(16000, 1, 8, 1, 4096))),
              QStringList{QStringLiteral("Failed to start audio engine: only 16-bit PCM WAV files can be read")});
    EXPECT_EQ(errorsFor(write(QStringLiteral("float.wav"), wav(16000, 1, 16, 3, 4096))),
              QStringList{QStringLiteral("Failed to start audio engine: only 16-bit PCM WAV files can be read")});
    EXPECT_EQ(errorsFor(write(QStringLiteral("cut.wav"), wav(16000, 1, 16, 1, 0).left(20))),
              QStringList{kInvalidFormat});
    EXPECT_EQ(errorsFor(dir.filePath(QStringLiteral("missing.raw"))).size(), 1);
}

TEST_F(FileSourceServiceTest, APacedSourceDeliversInRealTime) {
    const QString path = write(QStringLiteral("quiet.wav"), wav(16000, 1, 16, 1, 16000));  // half a second
    test::FileAudioInputSource source(path, true);
    ASSERT_EQ(source.format(), (AudioInputFormat{16000, 1}));
    ASSERT_EQ(source.start(), std::nullopt);
    std::vector<std::int16_t> buffer(1024);
    QString error;
    QElapsedTimer timer;
    timer.start();
    int buffers = 0;
    while (source.read(buffer, error) == AudioReadStatus::ok) {
        ++buffers;
    }
    EXPECT_EQ(buffers, 8);  // 8000 samples, the last buffer padded
    EXPECT_GE(timer.elapsed(), 450);
    EXPECT_EQ(buffer[0], 0x0101);
}

TEST(SpeechRunTranscriptTest, FillersAndAlternateMarksNeverReachTheText) {
    EXPECT_EQ(SpeechRunTranscript::cleanHypothesis(QStringLiteral("  <s> read(2)  [BREATH] the ++UM++ book </s> ")),
              QStringLiteral("read the book"));
    EXPECT_EQ(SpeechRunTranscript::cleanHypothesis(QStringLiteral("<sil>")), QString());

    SpeechRunTranscript transcript;
    transcript.finishUtterance(QStringLiteral("<sil>"));
    EXPECT_EQ(transcript.text(), QString());
    transcript.setCurrentHypothesis(QStringLiteral("good"));
    transcript.finishUtterance(QStringLiteral("good morning"));  // the final answer wins over the partial
    transcript.setCurrentHypothesis(QStringLiteral("my  friend"));
    EXPECT_EQ(transcript.text(), QStringLiteral("good morning my friend"));
}

}  // namespace
}  // namespace tavrolin
