#include "dictation/speech_recognition_error.h"
#include "dictation/speech_recognition_service.h"
#include "support/async.h"
#include "support/fake_speech_backends.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// A recorder of what a service reports on the main thread.
struct Reports {
    QStringList transcriptions;
    QStringList errors;

    void attach(SpeechRecognitionService& service) {
        service.onTranscriptionUpdate = [this](const QString& text) { transcriptions << text; };
        service.onError = [this](const std::exception& error) { errors << speechErrorDescription(error); };
    }
};

TEST(SpeechRecognitionServiceTest, RecognisesScriptedSpeechIntoOneText) {
    test::FakeSpeechBackends fake;
    fake.script().add(true, QStringLiteral("hello"));
    fake.script().add(true, QStringLiteral("hello world"));
    fake.audio->queueMarked(2);
    const auto service = fake.factory()(QStringLiteral("en-US"));
    Reports reports;
    reports.attach(*service);
    service->startTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return reports.transcriptions.size() == 2; }));
    EXPECT_EQ(reports.transcriptions, (QStringList{QStringLiteral("hello"), QStringLiteral("hello world")}));
    service->stopTranscribing();
    ASSERT_TRUE(test::waitUntil([&] { return fake.audio->openSources.load() == 0; }));
    EXPECT_TRUE(reports.errors.isEmpty());
}

}  // namespace
}  // namespace tavrolin
