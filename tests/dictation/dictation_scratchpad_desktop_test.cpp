// The scratchpad window on the session's display with the real speech service: PocketSphinx
// with a grammar of known phrases, fed by spoken audio made at test time (paced like a
// microphone), the real clipboard, settings in a file and a local server behind Improve.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_view.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "dictation/speech_recognition_service.h"
#include "dictation/text_view.h"
#include "language/online_gated_clients.h"
#include "language/url_session_text_improve_client.h"
#include "language/url_session_text_prompt_client.h"
#include "platform/audio_input.h"
#include "platform/clock.h"
#include "platform/desktop_backend.h"
#include "platform/linux/pocketsphinx_speech_models.h"
#include "platform/linux/qt_clipboard.h"
#include "server/server_request_transport.h"
#include "support/async.h"
#include "support/fakes/file_audio_input_source.h"
#include "support/fakes/local_http_server.h"
#include "support/qt_printers.h"
#include "support/scoped_environment.h"
#include "support/speech_test_audio.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>
#include <mutex>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

const QString kPhrase = QStringLiteral("open the window");

class DictationScratchpadDesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new QTemporaryDir();
        QString error;
        const auto clip = test::makeSpeechClip(folder_->path(), QStringLiteral("phrase"), {kPhrase}, error);
        ASSERT_TRUE(clip.has_value()) << error.toStdString();
        clip_ = new QString(*clip);
        ASSERT_TRUE(test::makeGrammarSpeechModel(folder_->filePath("data"), QStringLiteral("en-US"),
                                                 {kPhrase, QStringLiteral("close the door")}));
    }
    static void TearDownTestSuite() {
        delete clip_;
        clip_ = nullptr;
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(clip_, nullptr);
        defaults_ = std::make_unique<JsonFileDefaultsStore>(settingsFolder_.filePath("defaults.json"));
        store_ = std::make_unique<AppSettingsStore>(*defaults_);
        AppSettings settings = store_->settings();
        settings.onlineFeaturesEnabled = true;
        settings.autoImproveOnDictationStop = false;
        ASSERT_FALSE(store_->persist(settings).has_value());

        server_.server().Post("/api/text-improve",
                              [this](const httplib::Request& request, httplib::Response& response) {
                                  std::lock_guard lock(mutex_);
                                  improveBodies_ << QString::fromStdString(request.body);
                                  response.status = improveStatus_;
                                  response.set_content(improveAnswer_, "application/json");
                              });
        server_.start();
    }

    void TearDown() override {
        controller_.reset();
        test::waitUntil([] { return false; }, 600ms);  // let stopped runs release their sources
    }

    // The controller over the real pieces; `sound` chooses the audio: the paced clip or the
    // session's sound server.
    enum class Sound { clip, soundServer };
    void build(Sound sound = Sound::clip) {
        SpeechRecognitionBackends backends;
        backends.models = std::make_shared<PocketSphinxSpeechModels>(folder_->filePath("data"));
        if (sound == Sound::clip) {
            backends.makeAudioSource = [clip = *clip_] {
                return std::make_unique<test::FileAudioInputSource>(clip, true);
            };
        } else {
            backends.makeAudioSource = [] { return makeSystemAudioInputSource(); };
        }
        TextImproveConfiguration improve;
        improve.endpointURL = server_.url(QStringLiteral("/api/text-improve"));
        ServerSessionConfiguration session = ServerSessionConfiguration::textImprove();
        session.requestTimeout = 3s;
        session.resourceTimeout = 5s;
        policy_ = std::make_shared<OnlineFeaturePolicy>(true);

        DictationScratchpadViewModel::Dependencies d;
        d.settingsStore = store_.get();
        d.textImproveClient = std::make_shared<OnlineGatedTextImproveClient>(
            std::make_shared<URLSessionTextImproveClient>(improve, std::make_shared<ServerRequestTransport>(session)),
            policy_);
        TextPromptConfiguration prompt;
        prompt.endpointURL = server_.url(QStringLiteral("/api/text-prompt"));
        d.textPromptClient = std::make_shared<OnlineGatedTextPromptClient>(
            std::make_shared<URLSessionTextPromptClient>(prompt, std::make_shared<ServerRequestTransport>(session)),
            policy_);
        d.makeSpeechService = speechRecognitionServiceFactory(std::move(backends));
        d.permissionManager = std::make_shared<DictationPermissionManager>(makeSystemDictationAuthorization());
        d.clipboard = std::make_shared<QtClipboard>();
        d.scheduler = std::make_shared<QtScheduler>();
        controller_ = std::make_unique<DictationScratchpadWindowController>(std::move(d), policy_, nullptr);
    }

    template <typename Widget>
    Widget* child(const char* name) const {
        return controller_->window()->findChild<Widget*>(QString::fromLatin1(name));
    }
    DictationScratchpadViewModel& model() const { return controller_->viewModel(); }
    TextView* editor() const { return controller_->view()->editor(); }
    QPushButton* recordButton() const { return child<QPushButton>("recordButton"); }
    QPushButton* copyButton() const { return child<QPushButton>("copyButton"); }

    // Presents the window and ends the recording it starts, waiting out the stopped run.
    void presentStopped() {
        controller_->present(AppLanguage::english, AppLanguages::targetCases());
        ASSERT_TRUE(model().isRecording());
        recordButton()->click();
        test::waitUntil([] { return false; }, 700ms);
        model().setText(QString());
    }

    void typeIntoEditor(const QString& text) {
        QTest::keyClick(editor(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(editor(), text);
    }

    static QTemporaryDir* folder_;
    static QString* clip_;
    QTemporaryDir settingsFolder_;
    std::unique_ptr<JsonFileDefaultsStore> defaults_;
    std::unique_ptr<AppSettingsStore> store_;
    std::shared_ptr<OnlineFeaturePolicy> policy_;
    test::LocalHttpServer server_;
    std::mutex mutex_;
    QStringList improveBodies_;
    int improveStatus_ = 200;
    std::string improveAnswer_ = R"({"text":"Hello, open the window."})";
    std::unique_ptr<DictationScratchpadWindowController> controller_;
};

QTemporaryDir* DictationScratchpadDesktopTest::folder_ = nullptr;
QString* DictationScratchpadDesktopTest::clip_ = nullptr;

TEST_F(DictationScratchpadDesktopTest, DictatedWordsFollowTypedTextAndCopyCountsDownAndHides) {
    build();
    presentStopped();
    typeIntoEditor(QStringLiteral("Hello"));
    recordButton()->click();
    ASSERT_TRUE(model().isRecording());
    EXPECT_EQ(recordButton()->text(), "Stop Dictation");
    EXPECT_TRUE(test::waitUntil([&] { return editor()->toPlainText() == "Hello " + kPhrase; }, 10s))
        << editor()->toPlainText().toStdString();
    recordButton()->click();
    EXPECT_FALSE(model().isRecording());

    copyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), "Hello " + kPhrase);
    EXPECT_EQ(copyButton()->text(), "Copied! (2)");
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(test::waitUntil([&] { return copyButton()->text() == "Copied! (1)"; }, 2s));
    EXPECT_TRUE(test::waitUntil([&] { return !controller_->window()->isVisible(); }, 3s));
    EXPECT_GE(clock.elapsed(), 1800);
}

TEST_F(DictationScratchpadDesktopTest, CopyOnlyShowsTheResultAndHidesAtOnce) {
    build();
    const QString megabyte = QString(1024 * 1024 - 1, QLatin1Char('y')) + QLatin1Char('!');
    // One megabyte with no place to break a line: shown without a long freeze.
    QElapsedTimer clock;
    clock.start();
    controller_->presentCopyOnly(megabyte);
    EXPECT_EQ(controller_->window()->windowTitle(), "Copy Result");
    EXPECT_TRUE(controller_->window()->isVisible());
    EXPECT_FALSE(recordButton()->isVisible());
    EXPECT_EQ(editor()->toPlainText().size(), megabyte.size());
    test::waitUntil([] { return false; }, 50ms);  // painted
    copyButton()->click();
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_FALSE(controller_->window()->isVisible());
    EXPECT_EQ(QApplication::clipboard()->text(), megabyte);
}

TEST_F(DictationScratchpadDesktopTest, UndoAfterImproveRestoresTheTextThatCopyThenCopies) {
    build();
    presentStopped();
    typeIntoEditor(QStringLiteral("hello open the window"));
    child<QToolButton>("improveButton")->click();
    ASSERT_TRUE(test::waitUntil([&] { return !model().isImproving(); }, 5s));
    EXPECT_EQ(editor()->toPlainText(), "Hello, open the window.");
    {
        std::lock_guard lock(mutex_);
        ASSERT_EQ(improveBodies_.size(), 1);
        EXPECT_EQ(QJsonDocument::fromJson(improveBodies_[0].toUtf8()).object().value("text").toString(),
                  "hello open the window");
    }

    editor()->setFocus();
    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor()->toPlainText(), "hello open the window");
    copyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), "hello open the window");
}

TEST_F(DictationScratchpadDesktopTest, ServerFailuresShowTheRedLineAndKeepTheText) {
    build();
    presentStopped();
    typeIntoEditor(QStringLiteral("keep me"));
    struct Case {
        int status;
        std::string body;
    };
    for (const Case& answer : {Case{500, R"({"text":"no"})"}, Case{200, "{not json"}, Case{200, ""}}) {
        {
            std::lock_guard lock(mutex_);
            improveStatus_ = answer.status;
            improveAnswer_ = answer.body;
        }
        child<QToolButton>("improveButton")->click();
        ASSERT_TRUE(test::waitUntil([&] { return !model().isImproving(); }, 8s)) << answer.body;
        EXPECT_TRUE(child<QLabel>("improveError")->isVisible()) << answer.body;
        EXPECT_FALSE(child<QLabel>("improveError")->text().isEmpty()) << answer.body;
        EXPECT_EQ(editor()->toPlainText(), "keep me") << answer.body;
    }
}

TEST_F(DictationScratchpadDesktopTest, AChosenLanguageIsStoredInTheSettingsFile) {
    build();
    presentStopped();
    auto* languages = child<QComboBox>("languageMenu");
    const int german = languages->findText("German");
    ASSERT_GE(german, 0);
    languages->setCurrentIndex(german);
    Q_EMIT languages->activated(german);

    defaults_->flush();
    QFile file(settingsFolder_.filePath("defaults.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(stored.value("appSettings").toObject().value("dictationLanguage").toString(), "de");

    // No German model here: the record button says so.
    recordButton()->click();
    EXPECT_EQ(child<QLabel>("statusLine")->text(), "❌ Speech recognition is not available.");
}

TEST_F(DictationScratchpadDesktopTest, WithoutASoundServerTheStartFailsAndTheButtonStillWorks) {
    const test::ScopedEnvironmentVariable noServer("PULSE_SERVER",
                                                   ("unix:" + settingsFolder_.filePath("no-such-socket")).toUtf8());
    build(Sound::soundServer);
    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    ASSERT_TRUE(test::waitUntil([&] { return !model().isRecording(); }, 5s));
    const QString line = child<QLabel>("statusLine")->text();
    EXPECT_TRUE(line.startsWith("❌ Failed to start audio engine: ")) << line.toStdString();
    EXPECT_GT(line.size(), QStringLiteral("❌ Failed to start audio engine: ").size());
    EXPECT_EQ(recordButton()->text(), "Start Dictation");

    recordButton()->click();
    EXPECT_TRUE(test::waitUntil([&] { return !model().isRecording(); }, 5s));
    EXPECT_TRUE(child<QLabel>("statusLine")->text().startsWith("❌ Failed to start audio engine: "));
}

}  // namespace
}  // namespace tavrolin
