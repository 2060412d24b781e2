#include "onboarding/onboarding_view_model.h"

#include "core/capture_workflow_error.h"
#include "support/fakes/scripted_onboarding_demo_runner.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

using A = HotKeyAction;
using L = AppLanguage;
using VM = OnboardingViewModel;

// Page indexes of the full tutorial.
constexpr int kLanguageSetup = 0, kAppIntro = 1, kWriteDemo = 2, kEditDemo = 3, kRewriteDemo = 4, kFlipDemo = 5,
              kTranslateDemo = 6, kDictationDemo = 7, kReady = 8;

const QString kSetupHint = QStringLiteral("This step is for setup. Continue when you are ready.");
const QString kBusyHint = QStringLiteral("Still working on the current demo.");
const QString kDoneHint = QStringLiteral("Done. That is the same shortcut you will use in any app.");

// Every published property's signal, by property name, in emission order.
class SignalLog {
public:
    explicit SignalLog(VM& model) {
#define TAVROLIN_LOG_SIGNAL(name) \
    QObject::connect(&model, &VM::name##Changed, &context_, [this] { entries.append(QStringLiteral(#name)); })
        TAVROLIN_LOG_SIGNAL(selectedIndex);
        TAVROLIN_LOG_SIGNAL(nativeLanguage);
        TAVROLIN_LOG_SIGNAL(companyLanguage);
        TAVROLIN_LOG_SIGNAL(onlineFeaturesEnabled);
        TAVROLIN_LOG_SIGNAL(telemetryEnabled);
        TAVROLIN_LOG_SIGNAL(selectionPopupEnabled);
        TAVROLIN_LOG_SIGNAL(writeDraft);
        TAVROLIN_LOG_SIGNAL(editDraft);
        TAVROLIN_LOG_SIGNAL(rewriteDraft);
        TAVROLIN_LOG_SIGNAL(flipDraft);
        TAVROLIN_LOG_SIGNAL(writeResult);
        TAVROLIN_LOG_SIGNAL(editResult);
        TAVROLIN_LOG_SIGNAL(rewriteResult);
        TAVROLIN_LOG_SIGNAL(flipResult);
        TAVROLIN_LOG_SIGNAL(translatedConversation);
        TAVROLIN_LOG_SIGNAL(completedExerciseIDs);
        TAVROLIN_LOG_SIGNAL(runningAction);
        TAVROLIN_LOG_SIGNAL(hotKeyHint);
        TAVROLIN_LOG_SIGNAL(saveError);
#undef TAVROLIN_LOG_SIGNAL
    }
    void clear() {
        entries.clear();
    }
    QStringList entries;

private:
    QObject context_;
};

class OnboardingViewModelTest : public ::testing::Test {
protected:
    std::shared_ptr<VM> make(const AppSettings& settings = AppSettings{},
                             std::vector<OnboardingPage> pages = OnboardingPage::all()) {
        return std::make_shared<VM>(
            settings, std::move(pages),
            [this](const AppSettings& s) {
                saved.push_back(s);
                return saveAnswer;
            },
            runner);
    }
    // Runs a demonstration from its shortcut to its end.
    void press(VM& model, A action) {
        ASSERT_TRUE(model.handleHotKeyAction(action));
        ASSERT_FALSE(model.runningAction()) << "the scripted runner answers at once";
    }

    std::shared_ptr<test::ScriptedOnboardingDemoRunner> runner = std::make_shared<test::ScriptedOnboardingDemoRunner>();
    std::vector<AppSettings> saved;
    std::optional<QString> saveAnswer;
};

TEST_F(OnboardingViewModelTest, StartsFromTheSanitisedSettingsWithTheirDraftsAndSavesNothing) {
    AppSettings settings;
    settings.onlineFeaturesEnabled = false;
    settings.targetLanguage = L::hebrew;
    settings.messageTargetLanguage = L::automatic;
    settings.telemetryEnabled = false;
    const auto model = make(settings);
    EXPECT_EQ(model->nativeLanguage(), L::russian);
    EXPECT_EQ(model->companyLanguage(), L::english);
    EXPECT_FALSE(model->onlineFeaturesEnabled());
    EXPECT_FALSE(model->telemetryEnabled());
    EXPECT_EQ(model->writeDraft(), VM::defaultWriteDraft(L::russian));
    EXPECT_EQ(model->rewriteDraft(), VM::defaultRewriteDraft(L::russian));
    EXPECT_EQ(model->editDraft(), VM::defaultEditDraft(L::english));
    EXPECT_EQ(model->flipDraft(), VM::defaultRewriteDraft(L::english));
    EXPECT_EQ(model->settings(), settings.sanitized());
    EXPECT_TRUE(saved.empty());
}

TEST_F(OnboardingViewModelTest, GateWithDefaultShortcutsNamesThePagesShortcutAndRefusesWhileBusy) {
    const auto model = make();
    for (const int page : {kLanguageSetup, kAppIntro, kReady}) {
        model->selectPage(page);
        EXPECT_FALSE(model->handleHotKeyAction(A::translateMessage));
        EXPECT_EQ(model->hotKeyHint(), kSetupHint);
    }
    model->selectPage(kRewriteDemo);
    EXPECT_FALSE(model->hotKeyHint()) << "a page change clears the hint";
    EXPECT_FALSE(model->handleHotKeyAction(A::writeText));
    EXPECT_EQ(model->hotKeyHint(), "This step is listening for Control+Shift+W.");
    EXPECT_TRUE(runner->calls.isEmpty());

    // The expected action passes and leaves the hint to the demonstration.
    runner->holds = true;
    EXPECT_TRUE(model->canRunHotKeyAction(A::translateMessage));
    EXPECT_EQ(model->hotKeyHint(), "This step is listening for Control+Shift+W.");
    EXPECT_TRUE(model->handleHotKeyAction(A::translateMessage));
    EXPECT_EQ(model->runningAction(), A::translateMessage) << "handleHotKeyAction returns while the demo runs";
    EXPECT_EQ(model->hotKeyHint(), "Running Control+Shift+W...");
    for (const A action : {A::translateMessage, A::editText}) {
        EXPECT_FALSE(model->handleHotKeyAction(action));
        EXPECT_EQ(model->hotKeyHint(), kBusyHint);
    }
    EXPECT_EQ(runner->calls.size(), 1);
    runner->release();
    EXPECT_FALSE(model->runningAction());
    EXPECT_EQ(model->rewriteResult(), "translated");

    // Navigation out of range changes nothing.
    model->selectPage(-1);
    model->selectPage(static_cast<int>(model->pages().size()));
    EXPECT_EQ(model->selectedIndex(), kRewriteDemo);
    EXPECT_EQ(model->hotKeyHint(), kDoneHint);
    model->selectPage(0);
    model->moveBack();
    EXPECT_EQ(model->selectedIndex(), 0);
    model->selectPage(kReady);
    model->moveForward();
    EXPECT_EQ(model->selectedIndex(), kReady);
    model->moveBack();
    EXPECT_EQ(model->selectedIndex(), kDictationDemo);
}

TEST_F(OnboardingViewModelTest, GateWithChangedShortcutsNamesTheUsersOwn) {
    AppSettings settings;
    settings.translateMessageShortcut = HotKeyShortcut{HotKeyKey::m, true, true, false, false};
    settings.writeTextShortcut = HotKeyShortcut{HotKeyKey::f5, false, false, true, true};
    const auto model = make(settings);
    model->selectPage(kRewriteDemo);
    model->handleHotKeyAction(A::editText);
    EXPECT_EQ(model->hotKeyHint(), "This step is listening for Alt+Super+M.");
    runner->holds = true;
    model->handleHotKeyAction(A::translateMessage);
    EXPECT_EQ(model->hotKeyHint(), "Running Alt+Super+M...");
    runner->release();
    EXPECT_EQ(model->shortcutDisplayName(A::writeText), "Control+Shift+F5");
    // A shortcut that sanitising must replace (no modifier) shows the replacement.
    settings.editTextShortcut = HotKeyShortcut{HotKeyKey::e, false, false, false, false};
    EXPECT_EQ(make(settings)->shortcutDisplayName(A::editText), "Control+Shift+E");
}

TEST_F(OnboardingViewModelTest, LanguageChoicesThatChangeNothingSaveNothingAndKeepResults) {
    AppSettings settings;
    settings.onlineFeaturesEnabled = false;
    const auto model = make(settings);
    model->selectPage(kEditDemo);
    press(*model, A::editText);
    for (const L language : {L::automatic, L::hebrew, L::russian}) {
        model->updateNativeLanguage(language);
    }
    for (const L language : {L::automatic, L::hebrew, L::english}) {
        model->updateCompanyLanguage(language);
    }
    model->updateOnlineFeaturesEnabled(false);
    EXPECT_TRUE(saved.empty());
    EXPECT_EQ(model->nativeLanguage(), L::russian);
    EXPECT_EQ(model->companyLanguage(), L::english);
    EXPECT_EQ(model->editResult(), "edited");
    EXPECT_EQ(model->hotKeyHint(), kDoneHint);

    // Online features on: kept results, one save.
    model->updateOnlineFeaturesEnabled(true);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(saved[0].onlineFeaturesEnabled);
    EXPECT_EQ(model->editResult(), "edited");
}

TEST_F(OnboardingViewModelTest, HebrewNativeRenewsItsDraftsAndGoingOfflineMovesItToRussian) {
    const auto model = make();
    model->selectPage(kEditDemo);
    press(*model, A::editText);
    const QString editDraft = model->editDraft();

    model->updateNativeLanguage(L::hebrew);
    EXPECT_EQ(model->nativeLanguage(), L::hebrew);
    EXPECT_EQ(model->writeDraft(), VM::defaultWriteDraft(L::hebrew));
    EXPECT_EQ(model->rewriteDraft(), VM::defaultRewriteDraft(L::hebrew));
    EXPECT_EQ(model->editDraft(), editDraft);
    EXPECT_FALSE(model->editResult());
    EXPECT_TRUE(model->completedExerciseIDs().isEmpty());
    EXPECT_FALSE(model->hotKeyHint());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].targetLanguage, L::hebrew);

    model->setWriteDraft(QStringLiteral("my own words"));
    model->updateOnlineFeaturesEnabled(false);
    EXPECT_EQ(model->nativeLanguage(), L::russian);
    EXPECT_EQ(model->writeDraft(), VM::defaultWriteDraft(L::russian));
    EXPECT_EQ(model->rewriteDraft(), VM::defaultRewriteDraft(L::russian));
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_FALSE(saved[1].onlineFeaturesEnabled);
    EXPECT_EQ(saved[1].targetLanguage, L::russian);
}

TEST_F(OnboardingViewModelTest, HebrewSecondLanguageGoingOfflineBecomesEnglishAndKeepsTheEditAndFlipDrafts) {
    const auto model = make();
    model->updateCompanyLanguage(L::hebrew);
    EXPECT_EQ(model->editDraft(), VM::defaultEditDraft(L::hebrew));
    EXPECT_EQ(model->flipDraft(), VM::defaultFlipDraft(L::russian, L::hebrew));
    model->selectPage(kFlipDemo);
    press(*model, A::flipLanguage);

    model->updateOnlineFeaturesEnabled(false);
    EXPECT_EQ(model->companyLanguage(), L::english);
    EXPECT_EQ(model->editDraft(), VM::defaultEditDraft(L::hebrew));
    EXPECT_EQ(model->flipDraft(), VM::defaultFlipDraft(L::russian, L::hebrew));
    EXPECT_FALSE(model->flipResult());
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1].messageTargetLanguage, L::english);
    EXPECT_EQ(saved[1].targetLanguage, L::russian);
}

TEST_F(OnboardingViewModelTest, ASaveChangesOnlyTheFiveChoicesAndPublishesThemInOrder) {
    AppSettings settings;
    settings.antiSleepSchedule.enabled = true;
    settings.dictationLanguage = L::german;
    const auto model = make(settings);
    SignalLog log(*model);
    model->setTelemetryEnabled(false);
    model->setSelectionPopupEnabled(false);
    log.clear();
    model->saveLanguageChoices();

    ASSERT_EQ(saved.size(), 1u);
    AppSettings expected = settings.sanitized();
    expected.telemetryEnabled = false;
    expected.selectionPopupEnabled = false;
    EXPECT_EQ(saved[0], expected);
    EXPECT_EQ(model->settings(), expected);
    EXPECT_EQ(log.entries, (QStringList{"onlineFeaturesEnabled", "telemetryEnabled", "nativeLanguage",
                                        "companyLanguage", "selectionPopupEnabled", "saveError"}));
}

TEST_F(OnboardingViewModelTest, ChoicesGoOntoTheCurrentSettingsAndARefusalShowsTheStoredOnes) {
    AppSettings stored;  // what the application holds; a successful save replaces it
    const auto model = std::make_shared<VM>(
        stored, OnboardingPage::all(),
        [&](const AppSettings& s) {
            saved.push_back(s);
            if (!saveAnswer) {
                stored = s.sanitized();
            }
            return saveAnswer;
        },
        runner, [&] { return stored; });
    // Saved elsewhere after the onboarding opened: the settings window and the scratchpad.
    stored.launchAtLoginEnabled = false;
    stored.editTextShortcut = HotKeyShortcut{.key = HotKeyKey::k, .option = true, .control = true};
    stored.dictationLanguage = L::german;
    AppSettings expected = stored;
    expected.messageTargetLanguage = L::french;
    model->updateCompanyLanguage(L::french);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0], expected);
    EXPECT_EQ(model->shortcutDisplayName(A::editText), "Control+Alt+K");

    // Refused: the message, and the stored language back in the picker.
    saveAnswer = QStringLiteral("Shortcut Control+Shift+T is already in use.");
    SignalLog log(*model);
    model->updateNativeLanguage(L::spanish);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1].targetLanguage, L::spanish);
    EXPECT_EQ(model->saveError(), saveAnswer);
    EXPECT_EQ(model->nativeLanguage(), L::russian);
    EXPECT_EQ(model->companyLanguage(), L::french);
    EXPECT_EQ(log.entries.mid(log.entries.indexOf("onlineFeaturesEnabled")),
              (QStringList{"onlineFeaturesEnabled", "telemetryEnabled", "nativeLanguage", "companyLanguage",
                           "selectionPopupEnabled", "saveError"}));

    // The next save clears the message.
    saveAnswer.reset();
    model->updateNativeLanguage(L::italian);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[2].targetLanguage, L::italian);
    EXPECT_EQ(saved[2].messageTargetLanguage, L::french);
    EXPECT_FALSE(model->saveError());
}

TEST_F(OnboardingViewModelTest, EachDemonstrationSendsItsDraftInItsLanguagesAndStoresItsResult) {
    AppSettings settings;
    settings.targetLanguage = L::russian;
    settings.messageTargetLanguage = L::spanish;
    const auto model = make(settings);
    model->setEditDraft(QStringLiteral("my typo'd text"));

    model->selectPage(kTranslateDemo);
    press(*model, A::captureAndTranslateActiveWindow);
    model->selectPage(kEditDemo);
    press(*model, A::editText);
    model->selectPage(kRewriteDemo);
    press(*model, A::translateMessage);
    model->selectPage(kWriteDemo);
    press(*model, A::writeText);
    model->selectPage(kFlipDemo);
    press(*model, A::flipLanguage);

    EXPECT_EQ(runner->calls,
              (QStringList{
                  "conversation es>ru [1|2|3]",
                  "edit es>es [my typo'd text]",
                  "translate es [" + VM::defaultRewriteDraft(L::russian) + "]",
                  "write es [" + VM::defaultWriteDraft(L::russian) +
                      "] [Second language: Spanish\nProduction is down after the last deploy.\nWe need someone to "
                      "work this weekend. Can you take it?]",
                  "flip ru/es [" + VM::defaultFlipDraft(L::russian, L::spanish) + "]",
              }));
    EXPECT_EQ(model->translatedConversation(),
              (QList<OnboardingChatMessage>{{"1", "1 in ru", true}, {"2", "2 in ru", false}, {"3", "3 in ru", true}}));
    EXPECT_EQ(model->editResult(), "edited");
    EXPECT_EQ(model->rewriteResult(), "translated");
    EXPECT_EQ(model->writeResult(), "written");
    EXPECT_EQ(model->flipResult(), "flipped");
    EXPECT_EQ(model->completedExerciseIDs(),
              (QSet<QString>{"translate-demo", "edit-demo", "rewrite-demo", "write-demo", "flip-demo"}));
}

TEST_F(OnboardingViewModelTest, ACompletedDemonstrationPublishesResultPageHintThenIdle) {
    const auto model = make();
    model->selectPage(kEditDemo);
    runner->holds = true;
    model->handleHotKeyAction(A::editText);
    // The user may change pages meanwhile: the page selected at the end is recorded.
    model->selectPage(kFlipDemo);
    SignalLog log(*model);
    runner->release();
    EXPECT_EQ(log.entries, (QStringList{"editResult", "completedExerciseIDs", "hotKeyHint", "runningAction"}));
    EXPECT_EQ(model->hotKeyHint(), kDoneHint);
    EXPECT_EQ(model->completedExerciseIDs(), QSet<QString>{"flip-demo"});
}

TEST_F(OnboardingViewModelTest, DictationOpensTheScratchpadWithoutTheRunnerAndCreatePromptIsNeverExpected) {
    const auto model = make();
    std::vector<std::optional<A>> runningWhenOpened;
    model->onOpenDictationScratchpad = [&] { runningWhenOpened.push_back(model->runningAction()); };
    model->selectPage(kDictationDemo);
    press(*model, A::openDictationScratchpad);
    EXPECT_EQ(runningWhenOpened, (std::vector<std::optional<A>>{std::nullopt}));
    EXPECT_EQ(model->hotKeyHint(), "Done. Dictation scratchpad opened.");
    EXPECT_TRUE(model->completedExerciseIDs().contains("dictation-demo"));

    // Without a window controller nothing opens, and the practice still completes.
    model->onOpenDictationScratchpad = nullptr;
    press(*model, A::openDictationScratchpad);
    EXPECT_EQ(runningWhenOpened.size(), 1u);

    for (int page = 0; page < static_cast<int>(model->pages().size()); ++page) {
        model->selectPage(page);
        EXPECT_FALSE(model->handleHotKeyAction(A::createPrompt));
    }
    model->selectPage(kWriteDemo);
    const auto direct = model->runDemo(A::createPrompt);
    EXPECT_EQ(model->hotKeyHint(), "Done. Create Prompt is available in any text field.");
    EXPECT_TRUE(model->completedExerciseIDs().contains("write-demo"));
    EXPECT_TRUE(runner->calls.isEmpty());
}

TEST_F(OnboardingViewModelTest, AFailedDemonstrationNamesTheErrorAndKeepsDraftsAndEarlierResults) {
    const auto model = make();
    model->selectPage(kWriteDemo);
    press(*model, A::writeText);
    const QString draft = model->writeDraft();

    runner->error = std::make_exception_ptr(CaptureWorkflowError(CaptureWorkflowError::Case::onlineFeaturesDisabled));
    press(*model, A::writeText);
    EXPECT_EQ(model->hotKeyHint(),
              "Could not run the live demo. Online features are disabled in Tavrolin Settings. Enable online features "
              "in Settings to use server-backed translation, text editing, writing, updates, and usage statistics.");
    EXPECT_EQ(model->writeResult(), "written");
    EXPECT_EQ(model->writeDraft(), draft);

    runner->error = std::make_exception_ptr(CaptureWorkflowError(CaptureWorkflowError::Case::noTextSelected));
    press(*model, A::writeText);
    EXPECT_EQ(model->hotKeyHint(), "Could not run the live demo. No text is selected.");

    runner->error = std::make_exception_ptr(std::runtime_error("socket closed"));
    model->selectPage(kTranslateDemo);
    press(*model, A::captureAndTranslateActiveWindow);
    EXPECT_EQ(model->hotKeyHint(), "Could not run the live demo. socket closed");
    EXPECT_FALSE(model->translatedConversation());
    EXPECT_FALSE(model->completedExerciseIDs().contains("translate-demo"));
}

}  // namespace
}  // namespace tavrolin
