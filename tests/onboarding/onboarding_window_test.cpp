// The onboarding window offscreen: how it ends, its navigation and Return key, the dialog for
// turning online features off, the language check, and the practice pages' panes and buttons.
#include "onboarding/onboarding_exercises.h"
#include "onboarding/onboarding_language_setup.h"
#include "onboarding/onboarding_view_model.h"
#include "onboarding/onboarding_window_controller.h"
#include "shell/onboarding_hooks.h"
#include "support/fakes/coroutine_gate.h"
#include "support/fakes/fake_accessibility_bus_status.h"
#include "support/fakes/scripted_onboarding_demo_runner.h"
#include "support/virtual_time.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// Every pair is "supported": each target gets a notice naming it. Calls wait while `holds`.
class HeldSetupClient final : public TranslationClient, public test::CoroutineGate {
public:
    using TranslationClient::translate;

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage, AppLanguage) override {
        co_await pass();
        co_return TranslationPairAvailability::supported;
    }
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage, AppLanguage) override { co_return texts; }
};

struct Window {
    explicit Window(OnboardingPageSet pages, bool markCompletedOnClose = false, AppSettings settings = {}) {
        OnboardingRequest request;
        request.pages = pages;
        request.markCompletedOnClose = markCompletedOnClose;
        request.settings = settings;
        stored = settings.sanitized();
        request.callbacks.onComplete = [this] { events.append(QStringLiteral("complete")); };
        request.callbacks.onClose = [this] { events.append(QStringLiteral("close")); };
        request.callbacks.onOpenDictationScratchpad = [this] { events.append(QStringLiteral("scratchpad")); };
        request.callbacks.onSaveSettings = [this](const AppSettings& saved) -> std::optional<QString> {
            this->saved.push_back(saved);
            if (!saveAnswer) {
                stored = saved.sanitized();
            }
            return saveAnswer;
        };
        request.callbacks.currentSettings = [this] { return stored; };
        OnboardingWindowServices services{
            runner, std::make_shared<TranslationSetupSupport>(setupClient, [] { return true; }), [] {}};
        controller = std::make_unique<OnboardingWindowController>(std::move(request), services);
    }
    OnboardingView& view() const { return *controller->window(); }
    OnboardingViewModel& model() const { return *controller->viewModel(); }
    template <typename T>
    T* page(OnboardingIllustration illustration) const {
        const auto& pages = model().pages();
        for (size_t i = 0; i < pages.size(); ++i) {
            if (pages[i].illustration == illustration) {
                return qobject_cast<T*>(view().illustration(static_cast<int>(i)));
            }
        }
        return nullptr;
    }
    int indexOf(OnboardingIllustration illustration) const {
        const auto& pages = model().pages();
        for (size_t i = 0; i < pages.size(); ++i) {
            if (pages[i].illustration == illustration) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    std::shared_ptr<test::ScriptedOnboardingDemoRunner> runner = std::make_shared<test::ScriptedOnboardingDemoRunner>();
    std::shared_ptr<HeldSetupClient> setupClient = std::make_shared<HeldSetupClient>();
    QStringList events;
    std::vector<AppSettings> saved;
    // The application's settings, replaced by every accepted save.
    AppSettings stored;
    std::optional<QString> saveAnswer;
    std::unique_ptr<OnboardingWindowController> controller;
};

TEST(OnboardingWindowTest, FinishingCompletesOnceAndEveryCloseReportsLast) {
    {
        Window w(OnboardingPageSet::firstRun, true);
        w.controller->bringToFront();
        EXPECT_EQ(w.view().windowTitle(), "Welcome to Tavrolin");
        EXPECT_EQ(w.view().size(), QSize(860, 620));
        EXPECT_EQ(w.view().minimumSize(), w.view().maximumSize()) << "not resizable";
        w.view().skipButton()->click();
        EXPECT_EQ(w.events, (QStringList{"complete", "close"}))
            << "finishing completes once although the window closes";
        EXPECT_FALSE(w.view().isVisible());
    }
    {
        // A first-run window closed without finishing still completes.
        Window w(OnboardingPageSet::firstRun, true);
        w.controller->bringToFront();
        w.view().close();
        EXPECT_EQ(w.events, (QStringList{"complete", "close"}));
    }
    {
        // The tutorial closed without finishing does not; finished on its last page it does.
        Window closed(OnboardingPageSet::fullTutorial, false);
        closed.controller->bringToFront();
        closed.view().close();
        EXPECT_EQ(closed.events, (QStringList{"close"}));

        Window finished(OnboardingPageSet::fullTutorial, false);
        finished.controller->bringToFront();
        finished.model().selectPage(8);
        EXPECT_EQ(finished.view().forwardButton()->text(), "Start Using Tavrolin");
        finished.view().forwardButton()->click();
        EXPECT_EQ(finished.events, (QStringList{"complete", "close"}));
    }
}

TEST(OnboardingWindowTest, ReturnBackAndSkipAcrossTheTwoFirstRunPages) {
    Window w(OnboardingPageSet::firstRun, true);
    w.controller->bringToFront();
    OnboardingView& view = w.view();
    EXPECT_EQ(view.stepCounter()->text(), "Step 1 of 2");
    EXPECT_FALSE(view.backButton()->isEnabled());
    EXPECT_TRUE(view.skipButton()->isVisible());
    EXPECT_EQ(view.forwardButton()->text(), "Next");
    EXPECT_EQ(view.stepButton(1)->text(), "Ready");

    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(w.model().selectedIndex(), 1);
    EXPECT_EQ(view.stepCounter()->text(), "Step 2 of 2");
    EXPECT_TRUE(view.backButton()->isEnabled());
    EXPECT_FALSE(view.skipButton()->isVisible());
    EXPECT_FALSE(view.skipButton()->isEnabled());
    EXPECT_EQ(view.forwardButton()->text(), "Start Using Tavrolin");
    EXPECT_TRUE(w.events.isEmpty());

    view.backButton()->click();
    EXPECT_EQ(w.model().selectedIndex(), 0);
    view.stepButton(1)->click();
    EXPECT_EQ(w.model().selectedIndex(), 1) << "a sidebar step jumps straight to its page";

    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(w.events, (QStringList{"complete", "close"}));
}

TEST(OnboardingWindowTest, ReturnInADraftEditorIsANewLine) {
    Window w(OnboardingPageSet::fullTutorial);
    w.controller->bringToFront();
    w.model().selectPage(w.indexOf(OnboardingIllustration::editDemo));
    auto* page = w.page<TextExerciseIllustration>(OnboardingIllustration::editDemo);
    ASSERT_NE(page, nullptr);
    const QString before = w.model().editDraft();
    page->editor()->setFocus();
    page->editor()->moveCursor(QTextCursor::End);
    QTest::keyClick(page->editor(), Qt::Key_Return);
    QTest::keyClicks(page->editor(), "x");
    EXPECT_EQ(w.model().selectedIndex(), w.indexOf(OnboardingIllustration::editDemo));
    EXPECT_EQ(w.model().editDraft(), before + "\nx") << "the editor writes straight into the draft";
}

TEST(OnboardingWindowTest, TurningOnlineFeaturesOffIsConfirmedOverTheWholeWindow) {
    AppSettings settings;
    settings.onlineFeaturesEnabled = true;
    settings.telemetryEnabled = true;
    settings.targetLanguage = AppLanguage::hebrew;
    settings.messageTargetLanguage = AppLanguage::hebrew;
    Window w(OnboardingPageSet::firstRun, true, settings);
    w.controller->bringToFront();
    auto* page = w.page<LanguageSetupIllustration>(OnboardingIllustration::languageSetup);
    ASSERT_NE(page, nullptr);
    const auto hasHebrew = [&] {
        const auto languages = page->card(LanguageSetupIllustration::Placement::native)->languages();
        return std::find(languages.begin(), languages.end(), AppLanguage::hebrew) != languages.end();
    };
    EXPECT_TRUE(hasHebrew());

    page->onlineFeaturesCheckBox()->click();
    ASSERT_TRUE(w.view().isShowingOnlineFeaturesAlert());
    EXPECT_FALSE(w.view().body()->isEnabled()) << "nothing under the dialog reacts";
    EXPECT_TRUE(page->onlineFeaturesCheckBox()->isChecked()) << "unticking only asks";
    EXPECT_TRUE(w.model().onlineFeaturesEnabled());

    w.view().onlineFeaturesDialog()->dialog()->cancel();
    QApplication::processEvents();
    EXPECT_FALSE(w.view().isShowingOnlineFeaturesAlert());
    EXPECT_TRUE(w.view().body()->isEnabled());
    EXPECT_TRUE(page->onlineFeaturesCheckBox()->isChecked());
    EXPECT_TRUE(w.saved.empty()) << "Cancel saves nothing";

    page->onlineFeaturesCheckBox()->click();
    w.view().onlineFeaturesDialog()->dialog()->confirm();
    QApplication::processEvents();
    EXPECT_FALSE(w.view().isShowingOnlineFeaturesAlert());
    EXPECT_FALSE(w.model().onlineFeaturesEnabled());
    EXPECT_FALSE(w.model().telemetryEnabled()) << "usage statistics follow online features";
    EXPECT_EQ(w.model().nativeLanguage(), AppLanguage::russian);
    EXPECT_EQ(w.model().companyLanguage(), AppLanguage::english);
    EXPECT_EQ(w.model().writeDraft(), OnboardingViewModel::defaultWriteDraft(AppLanguage::russian));
    EXPECT_FALSE(page->onlineFeaturesCheckBox()->isChecked());
    EXPECT_FALSE(page->telemetryCheckBox()->isEnabled());
    EXPECT_FALSE(hasHebrew());
    ASSERT_FALSE(w.saved.empty());
    EXPECT_FALSE(w.saved.back().onlineFeaturesEnabled);
    EXPECT_FALSE(w.saved.back().telemetryEnabled);

    // Ticking turns them on at once and brings usage statistics back.
    page->onlineFeaturesCheckBox()->click();
    QApplication::processEvents();
    EXPECT_FALSE(w.view().isShowingOnlineFeaturesAlert());
    EXPECT_TRUE(w.model().onlineFeaturesEnabled());
    EXPECT_TRUE(w.model().telemetryEnabled());
    EXPECT_TRUE(w.saved.back().telemetryEnabled);
}

TEST(OnboardingWindowTest, ThePlainSwitchesSaveOnlyARealChangeAndTheFirstValueMovesNothing) {
    AppSettings settings;
    settings.onlineFeaturesEnabled = true;
    settings.telemetryEnabled = false;
    Window w(OnboardingPageSet::firstRun, true, settings);
    auto* page = w.page<LanguageSetupIllustration>(OnboardingIllustration::languageSetup);
    QApplication::processEvents();
    EXPECT_FALSE(w.model().telemetryEnabled()) << "statistics follow changes, not the first value";
    EXPECT_TRUE(w.saved.empty());

    const bool popup = w.model().selectionPopupEnabled();
    page->selectionPopupCheckBox()->click();
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved.back().selectionPopupEnabled, !popup);
    // A click that lands on the value already held (the box out of step) saves nothing.
    page->selectionPopupCheckBox()->setChecked(popup);
    page->selectionPopupCheckBox()->clicked(!popup);
    EXPECT_EQ(w.saved.size(), 1u);
}

TEST(OnboardingWindowTest, ALanguageGoesOntoTheCurrentSettingsAndARefusalIsShownOnThePage) {
    Window w(OnboardingPageSet::firstRun, true);
    w.controller->bringToFront();
    auto* page = w.page<LanguageSetupIllustration>(OnboardingIllustration::languageSetup);
    ASSERT_NE(page, nullptr);
    LanguagePickerCard* native = page->card(LanguageSetupIllustration::Placement::native);
    const auto pick = [&](AppLanguage language) {
        native->picker()->setCurrentIndex(native->picker()->findData(static_cast<int>(language)));
        native->picker()->activated(native->picker()->currentIndex());
    };
    EXPECT_FALSE(page->saveMessageLabel()->isVisible());

    // The settings window saved new shortcuts and launch at login after the tutorial opened.
    w.stored.launchAtLoginEnabled = !w.stored.launchAtLoginEnabled;
    w.stored.writeTextShortcut = HotKeyShortcut{.key = HotKeyKey::m, .option = true, .control = true};
    AppSettings expected = w.stored;
    expected.targetLanguage = AppLanguage::german;
    pick(AppLanguage::german);
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved.back(), expected);

    // Refused: the page says why, the picker stays on the stored language.
    w.saveAnswer = QStringLiteral("Could not register shortcuts: Control+Shift+T is already in use.");
    pick(AppLanguage::french);
    ASSERT_EQ(w.saved.size(), 2u);
    EXPECT_TRUE(page->saveMessageLabel()->isVisible());
    EXPECT_EQ(page->saveMessageLabel()->text(), *w.saveAnswer);
    EXPECT_EQ(page->saveMessageLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(native->selection(), AppLanguage::german);

    w.saveAnswer.reset();
    page->selectionPopupCheckBox()->click();
    ASSERT_EQ(w.saved.size(), 3u);
    EXPECT_FALSE(page->saveMessageLabel()->isVisible());
}

TEST(OnboardingWindowTest, ALateLanguageCheckIsDroppedAndAutomaticIsNeverChecked) {
    AppSettings settings;
    settings.targetLanguage = AppLanguage::russian;
    Window w(OnboardingPageSet::firstRun, true, settings);
    auto* page = w.page<LanguageSetupIllustration>(OnboardingIllustration::languageSetup);
    LanguagePickerCard* native = page->card(LanguageSetupIllustration::Placement::native);
    const auto pick = [&](AppLanguage language) {
        native->picker()->setCurrentIndex(native->picker()->findData(static_cast<int>(language)));
        native->picker()->activated(native->picker()->currentIndex());
    };

    w.setupClient->holds = true;
    pick(AppLanguage::german);
    EXPECT_EQ(w.model().nativeLanguage(), AppLanguage::german);
    EXPECT_FALSE(native->downloadNotice());
    w.setupClient->holds = false;
    pick(AppLanguage::french);
    ASSERT_TRUE(native->downloadNotice());
    EXPECT_TRUE(native->downloadNotice()->message.contains("French"));
    w.setupClient->release();  // German's answer arrives late
    ASSERT_TRUE(native->downloadNotice());
    EXPECT_TRUE(native->downloadNotice()->message.contains("French")) << "the late answer for German is dropped";
    EXPECT_FALSE(native->downloadNotice()->message.contains("German"));

    // Picking clears the notice first; automatic is not asked about.
    page->checkLanguageDownload(AppLanguage::automatic, LanguageSetupIllustration::Placement::native);
    EXPECT_FALSE(native->downloadNotice());
}

TEST(OnboardingWindowTest, PanesArePlacedByContextAndShowTheResultOrThePlaceholder) {
    Window w(OnboardingPageSet::fullTutorial);
    auto* edit = w.page<TextExerciseIllustration>(OnboardingIllustration::editDemo);
    EXPECT_EQ(edit->mockWindow(), nullptr);
    EXPECT_EQ(edit->resultPane()->height(), 112);
    EXPECT_EQ(edit->editor()->parentWidget()->height(), 112);
    for (const auto illustration :
         {OnboardingIllustration::writeDemo, OnboardingIllustration::rewriteDemo, OnboardingIllustration::flipDemo}) {
        auto* page = w.page<TextExerciseIllustration>(illustration);
        ASSERT_NE(page->mockWindow(), nullptr);
        EXPECT_EQ(page->resultPane()->height(), 86);
        EXPECT_EQ(page->editor()->parentWidget()->height(), 86);
    }

    ResultPane* pane = edit->resultPane();
    EXPECT_FALSE(pane->hasResult());
    EXPECT_EQ(pane->textLabel()->text(), "Press the shortcut to run this demo.");
    w.model().selectPage(w.indexOf(OnboardingIllustration::editDemo));
    w.model().handleHotKeyAction(HotKeyAction::editText);
    EXPECT_TRUE(pane->hasResult());
    EXPECT_EQ(pane->textLabel()->text(), "edited");

    ResultPane empty(OnboardingTint::pink);
    empty.setText(QString());
    EXPECT_TRUE(empty.hasResult()) << "an empty result is a tinted pane, not the placeholder";
    EXPECT_EQ(empty.textLabel()->text(), "");
}

TEST(OnboardingWindowTest, EveryTryIsDisabledWhileADemonstrationRunsAndOnlyItsBarShowsProgress) {
    AppSettings settings;
    settings.writeTextShortcut = HotKeyShortcut{.key = HotKeyKey::m, .option = true, .control = true};
    Window w(OnboardingPageSet::fullTutorial, false, settings);
    w.controller->bringToFront();
    auto* write = w.page<TextExerciseIllustration>(OnboardingIllustration::writeDemo);
    auto* edit = w.page<TextExerciseIllustration>(OnboardingIllustration::editDemo);
    auto* dictation = w.page<DictationDemoIllustration>(OnboardingIllustration::dictationDemo);

    // The caps show the default letter; the hint names the configured shortcut.
    EXPECT_EQ(write->actionBar()->keyCombo()->caps().back()->label(), "R");
    EXPECT_EQ(write->actionBar()->hintLabel()->text(), "Press Control+Alt+M or click Try.");

    w.model().selectPage(w.indexOf(OnboardingIllustration::writeDemo));
    w.runner->holds = true;
    write->actionBar()->tryButton()->click();
    ASSERT_EQ(w.runner->heldCalls(), 1) << "Try goes through the same gate as the shortcut";
    for (ExerciseActionBar* bar : {write->actionBar(), edit->actionBar(), dictation->actionBar()}) {
        EXPECT_FALSE(bar->tryButton()->isEnabled());
    }
    EXPECT_FALSE(write->actionBar()->progress()->isHidden());
    EXPECT_TRUE(edit->actionBar()->progress()->isHidden());

    w.runner->release();
    EXPECT_TRUE(edit->actionBar()->tryButton()->isEnabled());
    EXPECT_TRUE(write->actionBar()->progress()->isHidden());
    EXPECT_EQ(write->resultPane()->textLabel()->text(), "written");

    // Another page's shortcut only changes the hint line.
    w.controller->handleHotKeyAction(HotKeyAction::editText);
    EXPECT_EQ(w.runner->calls.size(), 1);
    EXPECT_NE(write->actionBar()->hintLabel()->text(), "Press Control+Alt+M or click Try.");
}

TEST(OnboardingWindowTest, TheTranslationPanelEmphasisesMessageOneAndShowsServerTextAsTyped) {
    Window w(OnboardingPageSet::fullTutorial);
    const QString markup = QStringLiteral(" <b>bold</b> <img src=\"file:///etc/hostname\">");
    w.runner->conversationSuffix = markup;
    auto* page = w.page<TranslateExerciseIllustration>(OnboardingIllustration::translateDemo);
    EXPECT_EQ(page->translationPanel(), nullptr);
    w.model().selectPage(w.indexOf(OnboardingIllustration::translateDemo));
    w.model().handleHotKeyAction(HotKeyAction::captureAndTranslateActiveWindow);
    ASSERT_NE(page->translationPanel(), nullptr);
    QStringList emphasised;
    for (QLabel* label : page->translationPanel()->findChildren<QLabel*>()) {
        if (label->property("emphasised").toBool()) {
            emphasised.append(label->text());
        }
    }
    EXPECT_EQ(emphasised.size(), 1);
    EXPECT_TRUE(emphasised.value(0).startsWith("1 in ")) << emphasised.join('|').toStdString();
    int messages = 0;
    for (QLabel* label : page->translationPanel()->findChildren<QLabel*>()) {
        if (label->text().endsWith(markup)) {
            ++messages;
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    EXPECT_EQ(messages, 3);
}

TEST(OnboardingWindowTest, TheDictationPageOpensTheScratchpadOnlyWhileTheControllerLives) {
    auto w = std::make_unique<Window>(OnboardingPageSet::fullTutorial);
    w->model().selectPage(w->indexOf(OnboardingIllustration::dictationDemo));
    EXPECT_TRUE(w->controller->handleHotKeyAction(HotKeyAction::openDictationScratchpad));
    EXPECT_EQ(w->events, (QStringList{"scratchpad"}));
    const std::shared_ptr<OnboardingViewModel> model = w->controller->viewModel();
    w->controller.reset();
    model->handleHotKeyAction(HotKeyAction::openDictationScratchpad);
    EXPECT_EQ(w->events, (QStringList{"scratchpad"})) << "the view model holds the window weakly";
}

TEST(OnboardingWindowTest, AWindowClosedWhileItsDemonstrationWaitsLeavesTheNextOneClean) {
    InMemoryDefaultsStore defaults;
    auto runner = std::make_shared<test::ScriptedOnboardingDemoRunner>();
    OnboardingWindowPresenter presenter(OnboardingWindowServices{runner, nullptr, [] {}});
    test::FakeAccessibilityBusStatus bus;
    AccessibilityPermission accessibility{bus};
    test::ManualScheduler scheduler;
    OnboardingHooks hooks(OnboardingHooks::Dependencies{
        defaults, presenter, accessibility, scheduler, [](TelemetryAction, TelemetryTrigger) {},
        [] { return AppSettings{}; }, [](const AppSettings&) { return std::nullopt; }, [] {}, [] {}, [] {}});

    hooks.showTutorial();
    auto* first = static_cast<OnboardingWindowController*>(hooks.window());
    first->viewModel()->selectPage(2);  // the Rewrite practice
    runner->holds = true;
    hooks.route(HotKeyAction::writeText, [] { FAIL() << "the workflow must not run"; });
    ASSERT_EQ(runner->heldCalls(), 1);
    first->window()->close();
    EXPECT_FALSE(hooks.isOpen());

    hooks.showTutorial();  // the closed window (and its widgets) go now
    auto* second = static_cast<OnboardingWindowController*>(hooks.window());
    ASSERT_NE(second, nullptr);
    second->viewModel()->selectPage(2);
    auto* page = qobject_cast<TextExerciseIllustration*>(second->window()->illustration(2));
    ASSERT_NE(page, nullptr);
    runner->release();  // the old demonstration answers into its detached view model
    EXPECT_FALSE(page->resultPane()->hasResult());
    EXPECT_TRUE(page->actionBar()->tryButton()->isEnabled());
    EXPECT_EQ(page->actionBar()->hintLabel()->text(), "Press Control+Shift+R or click Try.");
    EXPECT_EQ(defaults.integer(OnboardingHooks::completedVersionKey, 0), 0) << "the tutorial closed unfinished";
}

TEST(OnboardingWindowTest, LongLabelsShrinkToFourFifthsAndLongDetailsStayOnOneLine) {
    EXPECT_EQ(KeyCap(QStringLiteral("W"), KeyCapStyle::compactLetter, OnboardingTint::teal).drawnPointSize(), 12);
    const KeyCap crowded(QStringLiteral("Shift+Shift"), KeyCapStyle::tiny, OnboardingTint::blue);
    EXPECT_DOUBLE_EQ(crowded.drawnPointSize(), 8.0) << "never below 80 % of the style's size";

    CompactShortcutTile tile(OnboardingShortcut{
        QStringLiteral("W"), QStringLiteral("Write Message"),
        QStringLiteral("A detail far too long to fit into one line of a narrow tile"), OnboardingTint::teal});
    tile.resize(220, tile.sizeHint().height());
    tile.show();
    QApplication::processEvents();
    EXPECT_FALSE(tile.detailLabel()->wordWrap());
    EXPECT_TRUE(tile.detailLabel()->text().endsWith(QChar(0x2026))) << tile.detailLabel()->text().toStdString();
    EXPECT_EQ(tile.detailLabel()->toolTip(), tile.shortcut().detail);
}

}  // namespace
}  // namespace tavrolin
