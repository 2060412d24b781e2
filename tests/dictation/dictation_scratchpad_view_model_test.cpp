// The scratchpad's state and actions on fakes: speech over scripted audio and decoders, held
// server requests, an in-memory clipboard and virtual time.
#include "dictation/dictation_scratchpad_view_model.h"

#include "core/app_settings_store.h"
#include "core/capture_workflow_error.h"
#include "core/defaults_store.h"
#include "core/online_feature_policy.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/speech_recognition_error.h"
#include "dictation/speech_recognition_service.h"
#include "language/online_gated_clients.h"
#include "support/async.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_dictation_authorization.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/fakes/held_text_requests.h"
#include "support/fakes/memory_log_sink.h"
#include "support/qt_printers.h"
#include "support/virtual_time.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Mode = DictationScratchpadViewModel::Mode;

// Speech services over scripted audio and decoders; keeps a handle on every service it made.
struct ScriptedSpeech {
    test::FakeSpeechBackends fakes;
    std::shared_ptr<test::FakeAudioInput> audio = fakes.audio;
    std::shared_ptr<test::FakeSpeechModels> models = fakes.models;
    std::vector<std::weak_ptr<SpeechRecognitionService>> services;

    const QStringList& locales() const { return *fakes.madeLocales; }
    DictationScratchpadViewModel::SpeechServiceFactory factory() {
        return [this, inner = fakes.factory()](const QString& locale) {
            auto service = inner(locale);
            services.push_back(service);
            return service;
        };
    }
    // The current service, as a result it posts reaches the main thread: through whatever
    // callback is set when it arrives.
    std::shared_ptr<SpeechRecognitionService> latest() const { return services.back().lock(); }
    void deliver(const QString& transcription) const { deliverTo(latest(), transcription); }
    static void deliverTo(const std::shared_ptr<SpeechRecognitionService>& service, const QString& transcription) {
        if (service && service->onTranscriptionUpdate) {
            service->onTranscriptionUpdate(transcription);
        }
    }
    void fail(const std::exception& error) const {
        if (auto service = latest(); service && service->onError) {
            service->onError(error);
        }
    }
};

class DictationScratchpadViewModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink_ = AppLog::setSink(log_);
        AppSettings settings = store_.settings();
        settings.onlineFeaturesEnabled = true;
        settings.autoImproveOnDictationStop = false;
        ASSERT_FALSE(store_.persist(settings).has_value());
        authorization_ = std::make_shared<test::FakeDictationAuthorization>();
        model_ = makeModel(clients_, clients_);
    }
    void TearDown() override {
        clients_->abandonOpenRequests();
        model_.reset();
        AppLog::setSink(previousSink_);
    }

    std::unique_ptr<DictationScratchpadViewModel> makeModel(std::shared_ptr<TextImproveClient> improve,
                                                            std::shared_ptr<TextPromptClient> prompt) {
        DictationScratchpadViewModel::Dependencies d;
        d.settingsStore = &store_;
        d.textImproveClient = std::move(improve);
        d.textPromptClient = std::move(prompt);
        d.makeSpeechService = speech_.factory();
        d.permissionManager = std::make_shared<DictationPermissionManager>(authorization_);
        d.clipboard = clipboard_;
        d.scheduler = scheduler_;
        auto model = std::make_unique<DictationScratchpadViewModel>(std::move(d));
        model->onRequestClose = [this] { ++closes_; };
        return model;
    }

    void setAutoImprove(bool on) {
        AppSettings settings = store_.settings();
        settings.autoImproveOnDictationStop = on;
        store_.setSettings(settings);
    }

    // Starts dictating with the text in the editor as it is.
    void record() {
        model_->startDictation();
        ASSERT_TRUE(model_->isRecording());
    }

    std::shared_ptr<test::MemoryLogSink> log_ = std::make_shared<test::MemoryLogSink>();
    std::shared_ptr<LogSink> previousSink_;
    InMemoryDefaultsStore defaults_;
    AppSettingsStore store_{defaults_};
    ScriptedSpeech speech_;
    std::shared_ptr<test::FakeDictationAuthorization> authorization_;
    std::shared_ptr<test::HeldTextClients> clients_ = std::make_shared<test::HeldTextClients>();
    std::shared_ptr<test::FakeClipboard> clipboard_ = std::make_shared<test::FakeClipboard>();
    std::shared_ptr<test::ManualScheduler> scheduler_ = std::make_shared<test::ManualScheduler>();
    std::unique_ptr<DictationScratchpadViewModel> model_;
    int closes_ = 0;
};

TEST_F(DictationScratchpadViewModelTest, DictatedWordsFollowTheTextThatStoodBeforeEachRecording) {
    record();
    speech_.deliver(QStringLiteral("Hello"));
    EXPECT_EQ(model_->text(), "Hello");  // no leading space into an empty text
    model_->stopDictation(false);

    record();
    speech_.deliver(QStringLiteral("wor"));
    speech_.deliver(QStringLiteral("world"));
    EXPECT_EQ(model_->text(), "Hello world");  // each update replaces what followed the prefix
    model_->stopDictation(false);

    record();
    speech_.deliver(QStringLiteral("again"));
    EXPECT_EQ(model_->text(), "Hello world again");
}

TEST_F(DictationScratchpadViewModelTest, RealServiceResultsReachTheTextOnTheMainThread) {
    speech_.models->script->add(true, QStringLiteral("hello"));
    speech_.models->script->add(true, QStringLiteral("hello there"));
    speech_.audio->queueMarked(2);
    model_->setText(QStringLiteral("Note:"));
    record();
    EXPECT_TRUE(test::waitUntil([&] { return model_->text() == "Note: hello there"; }));
    model_->stopDictation(false);
    EXPECT_TRUE(test::waitUntil([&] { return speech_.audio->openSources == 0; }));
}

TEST_F(DictationScratchpadViewModelTest, SpeechErrorsEndOnlyARunningRecording) {
    model_->setText(QStringLiteral("kept"));
    record();
    speech_.deliver(QStringLiteral("words"));
    speech_.fail(SpeechRecognitionTaskError(QStringLiteral("The decoder stopped.")));
    EXPECT_FALSE(model_->isRecording());
    EXPECT_EQ(model_->statusMessage(), QStringLiteral("❌ The decoder stopped."));

    // The text at the error is the new prefix: the next recording follows it.
    record();
    EXPECT_EQ(model_->statusMessage(), std::nullopt);
    speech_.deliver(QStringLiteral("more"));
    EXPECT_EQ(model_->text(), "kept words more");
    model_->stopDictation(false);

    // Not recording: an error is ignored.
    speech_.fail(SpeechRecognitionError::notAvailable());
    EXPECT_EQ(model_->statusMessage(), std::nullopt);
}

TEST_F(DictationScratchpadViewModelTest, StartFailuresOfTheRealServiceShowInTheStatusLine) {
    speech_.audio->startFailure = QStringLiteral("Connection refused");
    model_->startDictation();
    EXPECT_TRUE(test::waitUntil([&] { return !model_->isRecording(); }));
    EXPECT_EQ(model_->statusMessage(), QStringLiteral("❌ Failed to start audio engine: Connection refused"));

    // The record button still works once the sound server is back.
    speech_.audio->startFailure.reset();
    model_->toggleDictation();
    EXPECT_TRUE(model_->isRecording());
    EXPECT_EQ(model_->statusMessage(), std::nullopt);
    EXPECT_TRUE(test::waitUntil([&] { return speech_.audio->openSources == 1; }));
    model_->toggleDictation();
    EXPECT_TRUE(test::waitUntil([&] { return speech_.audio->openSources == 0; }));
}

TEST_F(DictationScratchpadViewModelTest, LocalesComeFromTheLanguageAndALanguageWithoutAModelCannotStart) {
    EXPECT_TRUE(speech_.locales().isEmpty()) << "no model is loaded before a language needs it";
    model_->updateLocale(AppLanguage::automatic);
    EXPECT_EQ(speech_.locales(), QStringList{"en-US"});
    model_->updateLocale(AppLanguage::german);
    EXPECT_EQ(speech_.locales().last(), "de-DE");

    model_->startDictation();
    EXPECT_FALSE(model_->isRecording());
    EXPECT_EQ(model_->statusMessage(), QStringLiteral("❌ Speech recognition is not available."));
}

TEST_F(DictationScratchpadViewModelTest, ChangingTheLanguageStoresItUnlessRecording) {
    model_->changeLanguage(AppLanguage::french);
    EXPECT_EQ(model_->selectedLanguage(), AppLanguage::french);
    EXPECT_EQ(speech_.locales().last(), "fr-FR");
    EXPECT_EQ(store_.settings().dictationLanguage, AppLanguage::french);
    const auto stored = AppSettingsStore::load(defaults_, store_.languagePreferences());
    EXPECT_EQ(stored.dictationLanguage, AppLanguage::french);

    model_->changeLanguage(AppLanguage::english);
    record();
    const auto servicesBefore = speech_.locales().size();
    model_->changeLanguage(AppLanguage::german);
    EXPECT_EQ(model_->selectedLanguage(), AppLanguage::english);
    EXPECT_EQ(speech_.locales().size(), servicesBefore);
    EXPECT_EQ(store_.settings().dictationLanguage, AppLanguage::english);
}

TEST_F(DictationScratchpadViewModelTest, AFailedLanguageWriteIsLoggedAndNotShown) {
    defaults_.setWritable(false);
    model_->changeLanguage(AppLanguage::spanish);
    EXPECT_EQ(model_->selectedLanguage(), AppLanguage::spanish);
    EXPECT_EQ(model_->statusMessage(), std::nullopt);
    const QStringList lines = log_->messages(LogCategory::app);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().startsWith("dictation language not stored: ")) << lines.first().toStdString();
}

TEST_F(DictationScratchpadViewModelTest, PermissionRefusalsShowTheirLineAndDoNotRecord) {
    authorization_->microphone = DictationAuthorizationStatus::denied;
    test::await(model_->startDictationIfReady());
    EXPECT_FALSE(model_->isRecording());
    ASSERT_TRUE(model_->statusMessage().has_value());
    EXPECT_TRUE(model_->statusMessage()->startsWith("🚫 Microphone access denied."))
        << model_->statusMessage()->toStdString();

    authorization_->microphone = DictationAuthorizationStatus::authorized;
    test::await(model_->startDictationIfReady());
    EXPECT_TRUE(model_->isRecording());
    EXPECT_EQ(model_->statusMessage(), std::nullopt);
}

TEST_F(DictationScratchpadViewModelTest, ImproveAndCreatePromptRunOnlyWhenAllowedAndEachGuardsItsOwnFlag) {
    model_->improveText();  // empty text
    model_->setText(QStringLiteral("  "));
    record();
    model_->improveText();  // recording
    model_->createPrompt(TextPromptLanguage::original);
    model_->stopDictation(false);
    EXPECT_TRUE(clients_->requests.empty());

    model_->improveText();  // blank but not empty: the text goes as it is
    ASSERT_EQ(clients_->requests.size(), 1u);
    EXPECT_EQ(clients_->requests[0]->text, "  ");
    EXPECT_TRUE(model_->isImproving());
    model_->improveText();  // already improving
    EXPECT_EQ(clients_->requests.size(), 1u);
    model_->createPrompt(TextPromptLanguage::english);  // a different flag
    ASSERT_EQ(clients_->requests.size(), 2u);
    EXPECT_EQ(clients_->requests[1]->operation, "prompt");
    EXPECT_EQ(clients_->requests[1]->language, "english");
    EXPECT_TRUE(model_->isCreatingPrompt());
}

TEST_F(DictationScratchpadViewModelTest, AResultRegistersUndoFirstThenBecomesTextAndPrefix) {
    model_->changeLanguage(AppLanguage::german);
    model_->setText(QStringLiteral("hallo welt"));
    QStringList textsAtUndo;
    model_->registerTextUndo = [&] { textsAtUndo << model_->text(); };
    model_->improveText();
    EXPECT_EQ(clients_->requests[0]->language, "de");
    clients_->answer(0, QStringLiteral("Hallo Welt."));
    EXPECT_EQ(textsAtUndo, QStringList{"hallo welt"});
    EXPECT_EQ(model_->text(), "Hallo Welt.");
    EXPECT_FALSE(model_->isImproving());

    model_->updateLocale(AppLanguage::english);  // a locale with a model, to dictate on
    record();
    speech_.deliver(QStringLiteral("next"));
    EXPECT_EQ(model_->text(), "Hallo Welt. next");
    model_->stopDictation(false);

    model_->createPrompt(TextPromptLanguage::original);
    clients_->answer(1, QStringLiteral("Write a reply."));
    EXPECT_EQ(textsAtUndo.size(), 2);
    EXPECT_EQ(model_->text(), "Write a reply.");
    EXPECT_FALSE(model_->isCreatingPrompt());
}

TEST_F(DictationScratchpadViewModelTest, FailuresShowTheirMessageAndKeepTheText) {
    model_->setText(QStringLiteral("draft"));
    int undoRegistrations = 0;
    model_->registerTextUndo = [&] { ++undoRegistrations; };

    model_->improveText();
    clients_->fail(0, CaptureWorkflowError(CaptureWorkflowError::Case::textImproveRequestFailed));
    EXPECT_EQ(model_->improveError(),
              CaptureWorkflowError(CaptureWorkflowError::Case::textImproveRequestFailed).errorDescription());
    EXPECT_FALSE(model_->isImproving());

    model_->createPrompt(TextPromptLanguage::original);
    clients_->fail(1, std::runtime_error("socket closed"));
    EXPECT_EQ(model_->promptError(), QStringLiteral("socket closed"));

    // A new attempt clears its own line only.
    model_->improveText();
    EXPECT_EQ(model_->improveError(), std::nullopt);
    EXPECT_EQ(model_->promptError(), QStringLiteral("socket closed"));
    clients_->answer(2, QStringLiteral("Draft."));
    EXPECT_EQ(undoRegistrations, 1);
    EXPECT_EQ(model_->text(), "Draft.");
}

TEST_F(DictationScratchpadViewModelTest, OfflineTheGatedClientsAskNothingAndTheLinesSayWhy) {
    auto policy = std::make_shared<OnlineFeaturePolicy>(false);
    auto server = std::make_shared<test::HeldTextClients>();
    model_ = makeModel(std::make_shared<OnlineGatedTextImproveClient>(server, policy),
                       std::make_shared<OnlineGatedTextPromptClient>(server, policy));
    model_->setText(QStringLiteral("draft"));
    model_->improveText();
    model_->createPrompt(TextPromptLanguage::english);
    EXPECT_TRUE(test::waitUntil([&] { return !model_->isImproving() && !model_->isCreatingPrompt(); }));
    EXPECT_TRUE(server->requests.empty());
    EXPECT_EQ(model_->improveError(),
              QStringLiteral("Online features are disabled. Enable them in Settings to use Improve."));
    EXPECT_EQ(model_->promptError(),
              QStringLiteral("Online features are disabled. Enable them in Settings to use Create Prompt."));
    EXPECT_EQ(model_->text(), "draft");
}

TEST_F(DictationScratchpadViewModelTest, AnswersToAnEarlierPresentationAreDropped) {
    model_->setText(QStringLiteral("first"));
    int undoRegistrations = 0;
    model_->registerTextUndo = [&] { ++undoRegistrations; };
    model_->improveText();
    model_->createPrompt(TextPromptLanguage::original);
    model_->reset(Mode::copyOnly, QStringLiteral("result to copy"));
    EXPECT_FALSE(model_->isImproving());
    EXPECT_FALSE(model_->isCreatingPrompt());

    clients_->answer(0, QStringLiteral("First."));
    clients_->fail(1, std::runtime_error("late failure"));
    EXPECT_EQ(model_->text(), "result to copy");
    EXPECT_EQ(model_->promptError(), std::nullopt);
    EXPECT_EQ(undoRegistrations, 0);

    // Requests of this presentation still land.
    model_->improveText();
    clients_->answer(2, QStringLiteral("Result to copy."));
    EXPECT_EQ(model_->text(), "Result to copy.");
}

TEST_F(DictationScratchpadViewModelTest, SpeechOfAnEarlierPresentationOrRunDoesNotLand) {
    record();
    speech_.deliver(QStringLiteral("old words"));
    const auto firstService = speech_.latest();

    // The copy window opens while dictating: the run's last results still arrive.
    model_->reset(Mode::copyOnly, QStringLiteral("text to copy"));
    ScriptedSpeech::deliverTo(firstService, QStringLiteral("old words and more"));
    EXPECT_EQ(model_->text(), "text to copy");

    // A new dictation on the same service starts without the old words.
    model_->reset(Mode::dictation, QString());
    ScriptedSpeech::deliverTo(firstService, QStringLiteral("old words and more"));
    EXPECT_EQ(model_->text(), "");
    record();
    speech_.deliver(QStringLiteral("new"));
    EXPECT_EQ(model_->text(), "new");

    // After a plain stop the run's last words still land.
    model_->toggleDictation();
    speech_.deliver(QStringLiteral("new words"));
    EXPECT_EQ(model_->text(), "new words");
}

TEST_F(DictationScratchpadViewModelTest, OnlyTheRecordButtonStopMayImprove) {
    setAutoImprove(true);
    model_->setText(QStringLiteral("a"));
    record();
    model_->stopDictation(false);
    record();
    model_->copyToClipboard();  // copying ends the recording without improving
    EXPECT_FALSE(model_->isRecording());
    record();
    model_->reset(Mode::dictation, QStringLiteral("b"));
    EXPECT_TRUE(clients_->requests.empty());

    record();
    model_->toggleDictation();
    ASSERT_EQ(clients_->requests.size(), 1u);
    EXPECT_EQ(clients_->requests[0]->operation, "improve");

    setAutoImprove(false);
    clients_->answer(0, QStringLiteral("B."));
    record();
    model_->toggleDictation();
    EXPECT_EQ(clients_->requests.size(), 1u);
}

TEST_F(DictationScratchpadViewModelTest, CopyCountsDownAndClosesAfterTwoSecondsRestartingOnANewCopy) {
    model_->setText(QStringLiteral("copied text"));
    model_->copyToClipboard();
    EXPECT_EQ(clipboard_->text(), QStringLiteral("copied text"));
    EXPECT_TRUE(model_->showCopied());
    EXPECT_EQ(model_->copyCountdown(), 2);
    scheduler_->advance(1s);
    EXPECT_EQ(model_->copyCountdown(), 1);

    scheduler_->advance(500ms);
    model_->setText(QStringLiteral("copied again"));
    model_->copyToClipboard();
    EXPECT_EQ(clipboard_->text(), QStringLiteral("copied again"));
    EXPECT_TRUE(model_->showCopied());
    EXPECT_EQ(model_->copyCountdown(), 2);
    scheduler_->advance(1s);
    EXPECT_EQ(model_->copyCountdown(), 1);
    EXPECT_EQ(closes_, 0);  // the first countdown would have closed by now
    scheduler_->advance(999ms);
    EXPECT_EQ(closes_, 0);
    scheduler_->advance(1ms);
    EXPECT_EQ(closes_, 1);
    EXPECT_EQ(scheduler_->pendingCount(), 0u);
}

TEST_F(DictationScratchpadViewModelTest, AResetCancelsTheCountdownWithoutClosing) {
    model_->setText(QStringLiteral("copied text"));
    model_->copyToClipboard();
    scheduler_->advance(1500ms);
    model_->reset(Mode::dictation, QString());
    EXPECT_FALSE(model_->showCopied());
    EXPECT_EQ(model_->copyCountdown(), 0);
    scheduler_->advance(5s);
    EXPECT_EQ(closes_, 0);
    EXPECT_EQ(scheduler_->pendingCount(), 0u);
}

TEST_F(DictationScratchpadViewModelTest, CopyOnlyClosesAtOnceWithoutACountdown) {
    const QString megabyte(1024 * 1024, QLatin1Char('x'));
    model_->reset(Mode::copyOnly, megabyte);
    model_->copyToClipboard();
    EXPECT_EQ(clipboard_->text(), megabyte);
    EXPECT_EQ(closes_, 1);
    EXPECT_FALSE(model_->showCopied());
    EXPECT_EQ(scheduler_->pendingCount(), 0u);
}

TEST_F(DictationScratchpadViewModelTest, AViewModelGoneDuringTheCountdownLeavesNothingToRun) {
    model_->setText(QStringLiteral("copied"));
    model_->copyToClipboard();
    model_.reset();
    scheduler_->advance(3s);
    EXPECT_EQ(closes_, 0);
}

}  // namespace
}  // namespace tavrolin
