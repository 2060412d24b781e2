// The speech service recording from the desktop session's sound server: speech played into the
// null sink "vsink" comes back through the default source "vmic".
#include "dictation/speech_recognition_error.h"
#include "dictation/speech_recognition_service.h"
#include "platform/audio_input.h"
#include "platform/desktop_backend.h"
#include "platform/linux/pocketsphinx_speech_models.h"
#include "support/async.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/qt_printers.h"
#include "support/scoped_environment.h"
#include "support/speech_test_audio.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString runPactl(const QStringList& arguments) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), arguments);
    pactl.waitForFinished(10000);
    return QString::fromUtf8(pactl.readAllStandardOutput());
}

// Recording streams of this program on the server.
int ourRecordingStreams() {
    return static_cast<int>(runPactl({QStringLiteral("list"), QStringLiteral("source-outputs")})
                                .count(QStringLiteral("application.name = \"Tavrolin\"")));
}

class SpeechDesktopTest : public ::testing::Test {
protected:
    std::shared_ptr<SpeechRecognitionService> service(const QString& dataHome) {
        auto made = SpeechRecognitionService::create(
            QStringLiteral("en-US"),
            {std::make_shared<PocketSphinxSpeechModels>(dataHome), [] { return makeSystemAudioInputSource(); }});
        reports.attach(made);
        return made;
    }

    QTemporaryDir dir;
    test::SpeechReports reports;
    QStringList& transcriptions = reports.transcriptions;
    QStringList& errors = reports.errors;
};

TEST_F(SpeechDesktopTest, SpeechPlayedIntoTheSessionComesBackAsTheGrammarsWords) {
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(test::makeGrammarSpeechModel(home, QStringLiteral("en-US"),
                                             {QStringLiteral("hello world"), QStringLiteral("good morning")}));
    QString error;
    const auto clip = test::makeSpeechClip(dir.path(), QStringLiteral("hello"), {QStringLiteral("hello world")}, error);
    ASSERT_TRUE(clip) << error.toStdString();
    ASSERT_EQ(ourRecordingStreams(), 0);

    auto recognizer = service(home);
    recognizer->startTranscribing();
    ASSERT_TRUE(test::waitUntil([] { return ourRecordingStreams() == 1; }, 10s)) << errors.join(u'|').toStdString();

    QProcess player;
    player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("vsink"), *clip});
    ASSERT_TRUE(player.waitForFinished(15000));
    ASSERT_EQ(player.exitCode(), 0) << player.readAllStandardError().toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return transcriptions.contains(QStringLiteral("hello world")); }, 10s))
        << transcriptions.join(u'|').toStdString() << errors.join(u'|').toStdString();

    recognizer->stopTranscribing();
    recognizer.reset();
    EXPECT_TRUE(test::waitUntil([] { return ourRecordingStreams() == 0; }, 5s));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(u'|').toStdString();
}

TEST_F(SpeechDesktopTest, WithoutASoundServerTheStartReportsTheServersReasonAtOnce) {
    const test::ScopedEnvironmentVariable nowhere("PULSE_SERVER", QByteArray("unix:/nonexistent/tavrolin/pulse"));
    auto recognizer = service(dir.filePath(QStringLiteral("empty-home")));
    ASSERT_TRUE(recognizer->hasRecognizer()) << "needs the pocketsphinx-en-us model";
    QElapsedTimer timer;
    timer.start();
    recognizer->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return !errors.isEmpty(); }, 20s));
    ASSERT_EQ(errors.size(), 1);
    const QString prefix = QStringLiteral("Failed to start audio engine: ");
    EXPECT_TRUE(errors.first().startsWith(prefix)) << errors.first().toStdString();
    EXPECT_GT(errors.first().size(), prefix.size() + 3) << "the server's reason follows";

    // Idle after the failure: a stop does nothing and the release does not wait.
    recognizer->stopTranscribing();
    test::waitUntil([] { return false; }, 100ms);
    timer.restart();
    recognizer->onError = nullptr;
    recognizer.reset();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(errors.size(), 1);
}

}  // namespace
}  // namespace tavrolin
