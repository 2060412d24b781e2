// The scratchpad window and its editor on the offscreen platform, over the same fakes as the
// view model's tests.
#include "core/app_settings_store.h"
#include "core/capture_workflow_error.h"
#include "core/defaults_store.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_view.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "dictation/speech_recognition_service.h"
#include "dictation/text_view.h"
#include "support/async.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_dictation_authorization.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/fakes/held_text_requests.h"
#include "support/qt_printers.h"
#include "support/virtual_time.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

TEST(TextViewTest, OutsideTextKeepsTheUsersHistoryAndTheSelectionWithinTheText) {
    TextView editor;
    QSignalSpy edits(&editor, &TextView::textEdited);
    QTest::keyClicks(&editor, QStringLiteral("typed"));
    EXPECT_EQ(edits.count(), 5);

    editor.setBoundText(QStringLiteral("typed and dictated"));
    editor.setBoundText(QStringLiteral("typed and dictated words"));
    EXPECT_EQ(edits.count(), 5);  // outside text is not reported back as an edit

    // The dictated words are one step; before them is what the user typed.
    editor.undo();
    EXPECT_EQ(editor.toPlainText(), "typed");
    EXPECT_EQ(edits.count(), 6);
    EXPECT_EQ(edits.last().first().toString(), "typed");

    QTextCursor selection = editor.textCursor();
    selection.setPosition(2);
    selection.setPosition(5, QTextCursor::KeepAnchor);
    editor.setTextCursor(selection);
    editor.setBoundText(QStringLiteral("ty"));
    EXPECT_EQ(editor.textCursor().anchor(), 2);
    EXPECT_EQ(editor.textCursor().position(), 2);
    editor.setBoundText(QStringLiteral("typed again"));
    EXPECT_EQ(editor.textCursor().position(), 2);
}

TEST(TextViewTest, AMarkedStepUndoesOnItsOwn) {
    TextView editor;
    editor.setBoundText(QStringLiteral("dictated"));
    editor.markUndoStep();
    editor.setBoundText(QStringLiteral("Improved."));
    editor.undo();
    EXPECT_EQ(editor.toPlainText(), "dictated");
    editor.redo();
    EXPECT_EQ(editor.toPlainText(), "Improved.");

    editor.startFreshHistory();
    EXPECT_FALSE(editor.document()->isUndoAvailable());
}

class DictationScratchpadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppSettings settings = store_.settings();
        settings.onlineFeaturesEnabled = true;
        settings.autoImproveOnDictationStop = true;
        ASSERT_FALSE(store_.persist(settings).has_value());

        DictationScratchpadViewModel::Dependencies d;
        d.settingsStore = &store_;
        d.textImproveClient = clients_;
        d.textPromptClient = clients_;
        d.makeSpeechService = speech_.factory();
        d.permissionManager =
            std::make_shared<DictationPermissionManager>(std::make_shared<test::FakeDictationAuthorization>());
        d.clipboard = clipboard_;
        d.scheduler = scheduler_;
        controller_ = std::make_unique<DictationScratchpadWindowController>(std::move(d), nullptr, nullptr);
    }
    void TearDown() override {
        clients_->abandonOpenRequests();
        controller_.reset();
        test::waitUntil([&] { return audio_->openSources == 0; });
    }

    template <typename Widget>
    Widget* child(const char* name) const {
        return controller_->window()->findChild<Widget*>(QString::fromLatin1(name));
    }
    DictationScratchpadViewModel& model() const { return controller_->viewModel(); }
    TextView* editor() const { return controller_->view()->editor(); }
    bool shown(const char* name) const { return child<QWidget>(name)->isVisibleTo(controller_->window()); }

    void presentAndStop() {
        controller_->present(AppLanguage::english, AppLanguages::targetCases());
        ASSERT_TRUE(model().isRecording());
        child<QPushButton>("recordButton")->click();  // no words: nothing to improve
        ASSERT_FALSE(model().isRecording());
    }

    InMemoryDefaultsStore defaults_;
    AppSettingsStore store_{defaults_};
    test::FakeSpeechBackends speech_;
    std::shared_ptr<test::FakeAudioInput> audio_ = speech_.audio;
    std::shared_ptr<test::HeldTextClients> clients_ = std::make_shared<test::HeldTextClients>();
    std::shared_ptr<test::FakeClipboard> clipboard_ = std::make_shared<test::FakeClipboard>();
    std::shared_ptr<test::ManualScheduler> scheduler_ = std::make_shared<test::ManualScheduler>();
    std::unique_ptr<DictationScratchpadWindowController> controller_;
};

TEST_F(DictationScratchpadWindowTest, ADictationPresentationShowsTheWindowRecordingAndStoresItsLanguage) {
    controller_->present(AppLanguage::french, AppLanguages::filteredCases(AppLanguages::targetCases(), false));
    QWidget* window = controller_->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Dictation Scratchpad");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window->size(), QSize(640, 300));

    // French has no model here: the presentation tried to start and says why it could not.
    EXPECT_EQ(model().statusMessage(), QStringLiteral("❌ Speech recognition is not available."));
    EXPECT_TRUE(shown("statusLine"));
    EXPECT_EQ(child<QLabel>("statusLine")->text(), "❌ Speech recognition is not available.");
    EXPECT_EQ(store_.settings().dictationLanguage, AppLanguage::french);

    auto* languages = child<QComboBox>("languageMenu");
    EXPECT_EQ(languages->count(), 19);  // no Hebrew while online features are off
    EXPECT_EQ(languages->findText("Hebrew"), -1);
    EXPECT_EQ(languages->currentText(), "French");

    // Picking English in the menu stores it and lets the record button dictate.
    languages->setCurrentIndex(languages->findText("English"));
    Q_EMIT languages->activated(languages->currentIndex());
    EXPECT_EQ(store_.settings().dictationLanguage, AppLanguage::english);
    child<QPushButton>("recordButton")->click();
    EXPECT_TRUE(model().isRecording());
    EXPECT_TRUE(test::waitUntil([&] { return shown("recordingBanner"); }));
    EXPECT_EQ(child<QPushButton>("recordButton")->text(), "Stop Dictation");
    EXPECT_FALSE(languages->isEnabled());
    EXPECT_FALSE(editor()->isEditable());
    EXPECT_FALSE(shown("statusLine"));
}

TEST_F(DictationScratchpadWindowTest, ReopeningKeepsTheLoadedModelAndTheBannerWaitsForTheMicrophone) {
    speech_.models->locales.insert(QStringLiteral("de-DE"));  // before any recognizer exists
    // A microphone that opens but has not delivered yet: recording, not yet listening.
    audio_->withholdAudio = true;
    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    ASSERT_TRUE(model().isRecording());
    ASSERT_TRUE(test::waitUntil([&] { return audio_->openSources == 1; }));
    test::waitUntil([] { return false; }, 100ms);
    EXPECT_FALSE(shown("recordingBanner")) << "nothing is heard before the audio flows";
    EXPECT_EQ(child<QPushButton>("recordButton")->text(), "Stop Dictation");
    audio_->withholdAudio = false;
    EXPECT_TRUE(test::waitUntil([&] { return shown("recordingBanner"); }));

    // Every later opening in the same language records with the model already loaded.
    for (int opening = 0; opening < 2; ++opening) {
        controller_->window()->close();
        EXPECT_FALSE(shown("recordingBanner"));
        controller_->present(AppLanguage::english, AppLanguages::targetCases());
        EXPECT_TRUE(test::waitUntil([&] { return shown("recordingBanner"); }));
    }
    EXPECT_EQ(speech_.models->loads.load(), 1);
    EXPECT_EQ(*speech_.madeLocales, QStringList{"en-US"});

    // A language change loads the new language's model once, and going back loads one more.
    controller_->window()->close();
    controller_->present(AppLanguage::german, AppLanguages::targetCases());
    EXPECT_TRUE(test::waitUntil([&] { return shown("recordingBanner"); }));
    EXPECT_EQ(*speech_.madeLocales, (QStringList{"en-US", "de-DE"}));
    controller_->window()->close();
    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    EXPECT_TRUE(test::waitUntil([&] { return shown("recordingBanner"); }));
    EXPECT_EQ(*speech_.madeLocales, (QStringList{"en-US", "de-DE", "en-US"}));
    EXPECT_EQ(speech_.models->loads.load(), 3);
}

TEST_F(DictationScratchpadWindowTest, ClosingWhileRecordingStopsWithoutImprovingAndTheWindowIsReused) {
    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    ASSERT_TRUE(model().isRecording());
    EXPECT_TRUE(test::waitUntil([&] { return audio_->openSources == 1; }));
    model().setText(QStringLiteral("words"));  // as if dictated
    QWidget* window = controller_->window();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(model().isRecording());
    EXPECT_TRUE(clients_->requests.empty());  // auto-improve is on, but a close never improves
    EXPECT_TRUE(test::waitUntil([&] { return audio_->openSources == 0; }));

    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    EXPECT_EQ(controller_->window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(model().isRecording());
    EXPECT_EQ(editor()->toPlainText(), "");
}

TEST_F(DictationScratchpadWindowTest, CopyOnlyShowsTheTextEditableWithOnlyTheCopyButtonAndCloses) {
    presentAndStop();
    controller_->presentCopyOnly(QStringLiteral("Could not paste this"));
    EXPECT_EQ(controller_->window()->windowTitle(), "Copy Result");
    EXPECT_EQ(editor()->toPlainText(), "Could not paste this");
    EXPECT_TRUE(editor()->isEditable());
    EXPECT_FALSE(shown("recordButton"));
    EXPECT_FALSE(shown("languageMenu"));
    EXPECT_FALSE(shown("improveButton"));
    EXPECT_FALSE(shown("statusLine"));
    auto* copy = child<QPushButton>("copyButton");
    EXPECT_EQ(copy->text(), "Copy to Clipboard");
    EXPECT_TRUE(copy->isEnabled());

    QTest::keyClick(editor(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(editor(), QStringLiteral("!"));
    copy->click();
    EXPECT_EQ(clipboard_->text(), QStringLiteral("Could not paste this!"));
    EXPECT_FALSE(controller_->window()->isVisible());

    // The dictation command switches the same window back, empty and recording.
    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    EXPECT_EQ(controller_->window()->windowTitle(), "Dictation Scratchpad");
    EXPECT_TRUE(shown("recordButton"));
    EXPECT_EQ(editor()->toPlainText(), "");
    EXPECT_TRUE(model().isRecording());
}

// Escape dismisses the offered text as it does a dialog; the dictation window, holding the
// user's words and the microphone, stays.
TEST_F(DictationScratchpadWindowTest, EscapeClosesTheCopyWindowButNotTheDictation) {
    QWidget* window = controller_->window();
    controller_->presentCopyOnly(QStringLiteral("Could not paste this"));
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(editor(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());

    presentAndStop();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClicks(editor(), QStringLiteral("words"));
    QTest::keyClick(editor(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(model().text(), "words");
}

TEST_F(DictationScratchpadWindowTest, CopyShowsTheCountdownAndHidesTheWindow) {
    presentAndStop();
    auto* copy = child<QPushButton>("copyButton");
    EXPECT_FALSE(copy->isEnabled());  // nothing to copy yet
    QTest::keyClicks(editor(), QStringLiteral("note"));
    copy->click();
    EXPECT_EQ(copy->text(), "Copied! (2)");
    scheduler_->advance(1s);
    EXPECT_EQ(copy->text(), "Copied! (1)");
    EXPECT_TRUE(controller_->window()->isVisible());
    scheduler_->advance(1s);
    EXPECT_FALSE(controller_->window()->isVisible());
    EXPECT_EQ(clipboard_->text(), QStringLiteral("note"));
}

TEST_F(DictationScratchpadWindowTest, UndoAfterImproveRestoresTheTextEverywhere) {
    presentAndStop();
    QTest::keyClicks(editor(), QStringLiteral("helo wrld"));
    auto* improve = child<QToolButton>("improveButton");
    ASSERT_TRUE(improve->isEnabled());
    improve->click();
    EXPECT_EQ(improve->text(), "Improving...");
    EXPECT_FALSE(improve->isEnabled());
    for (QAction* action : improve->menu()->actions()) {
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    }
    ASSERT_EQ(clients_->requests.size(), 1u);
    clients_->answer(0, QStringLiteral("Hello world."));
    EXPECT_EQ(editor()->toPlainText(), "Hello world.");
    EXPECT_EQ(improve->text(), "Improve");

    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor()->toPlainText(), "helo wrld");
    EXPECT_EQ(model().text(), "helo wrld");
    child<QPushButton>("copyButton")->click();
    EXPECT_EQ(clipboard_->text(), QStringLiteral("helo wrld"));

    QTest::keyClick(editor(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(model().text(), "Hello world.");
}

TEST_F(DictationScratchpadWindowTest, FailuresShowInTheRedLinesAndAudioFailuresInTheStatusLine) {
    audio_->startFailure = QStringLiteral("Connection refused");
    controller_->present(AppLanguage::english, AppLanguages::targetCases());
    EXPECT_TRUE(test::waitUntil([&] { return !model().isRecording(); }));
    EXPECT_EQ(child<QLabel>("statusLine")->text(), "❌ Failed to start audio engine: Connection refused");
    EXPECT_EQ(child<QPushButton>("recordButton")->text(), "Start Dictation");

    QTest::keyClicks(editor(), QStringLiteral("draft"));
    child<QToolButton>("improveButton")->click();
    clients_->fail(0, CaptureWorkflowError(CaptureWorkflowError::Case::textImproveInvalidResponse));
    child<QToolButton>("improveButton")->menu()->actions().at(1)->trigger();  // Create English Prompt
    ASSERT_EQ(clients_->requests.size(), 2u);
    EXPECT_EQ(clients_->requests[1]->language, "english");
    clients_->fail(1, CaptureWorkflowError(CaptureWorkflowError::Case::textPromptRequestFailed));
    EXPECT_TRUE(shown("improveError"));
    EXPECT_EQ(child<QLabel>("improveError")->text(),
              CaptureWorkflowError(CaptureWorkflowError::Case::textImproveInvalidResponse).errorDescription());
    EXPECT_TRUE(shown("promptError"));
    EXPECT_EQ(editor()->toPlainText(), "draft");
}

}  // namespace
}  // namespace tavrolin
