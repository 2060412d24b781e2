#include "onboarding/onboarding_view_model.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "core/error_description.h"

namespace tavrolin {

namespace {

const QString kStillWorkingHint = QStringLiteral("Still working on the current demo.");
const QString kSetupStepHint = QStringLiteral("This step is for setup. Continue when you are ready.");
const QString kDoneHint = QStringLiteral("Done. That is the same shortcut you will use in any app.");
const QString kDictationDoneHint = QStringLiteral("Done. Dictation scratchpad opened.");
const QString kCreatePromptDoneHint = QStringLiteral("Done. Create Prompt is available in any text field.");

// Runs a demonstration started by a shortcut and holds the view model until it ends, so a
// window that closes meanwhile leaves it to finish on its own. The reference is a local, not
// the parameter, so the finished frame that the view model keeps refers to nothing.
QCoro::Task<> runDemoHoldingViewModel(std::shared_ptr<OnboardingViewModel> viewModel, HotKeyAction action) {
    const std::shared_ptr<OnboardingViewModel> held = std::move(viewModel);
    try {
        co_await held->runDemo(action);
    } catch (...) {
        // runDemo reports every runner failure in the hint; what reaches here came from an
        // observer or a callback.
        AppLog::app().error(QStringLiteral("onboarding demo failed action=%1 error=%2")
                                .arg(settingsKey(action), errorDescription(std::current_exception())));
    }
}

}  // namespace

OnboardingViewModel::OnboardingViewModel(const AppSettings& settings, std::vector<OnboardingPage> pages,
                                         SaveSettings onSaveSettings, std::shared_ptr<OnboardingDemoRunning> demoRunner,
                                         CurrentSettings currentSettings)
    : pages_(std::move(pages)),
      settings_(settings.sanitized()),
      onSaveSettings_(std::move(onSaveSettings)),
      currentSettings_(std::move(currentSettings)),
      demoRunner_(std::move(demoRunner)) {
    Q_ASSERT(demoRunner_);
    nativeLanguage_ = settings_.targetLanguage;
    companyLanguage_ = settings_.messageTargetLanguage;
    onlineFeaturesEnabled_ = settings_.onlineFeaturesEnabled;
    telemetryEnabled_ = settings_.telemetryEnabled;
    selectionPopupEnabled_ = settings_.selectionPopupEnabled;
    writeDraft_ = defaultWriteDraft(nativeLanguage_);
    editDraft_ = defaultEditDraft(companyLanguage_);
    rewriteDraft_ = defaultRewriteDraft(nativeLanguage_);
    flipDraft_ = defaultFlipDraft(nativeLanguage_, companyLanguage_);
}

OnboardingViewModel::~OnboardingViewModel() = default;

template <typename T>
void OnboardingViewModel::publish(T& field, T value, void (OnboardingViewModel::*changed)()) {
    field = std::move(value);
    Q_EMIT(this->*changed)();
}

void OnboardingViewModel::setWriteDraft(const QString& text) {
    publish(writeDraft_, text, &OnboardingViewModel::writeDraftChanged);
}
void OnboardingViewModel::setEditDraft(const QString& text) {
    publish(editDraft_, text, &OnboardingViewModel::editDraftChanged);
}
void OnboardingViewModel::setRewriteDraft(const QString& text) {
    publish(rewriteDraft_, text, &OnboardingViewModel::rewriteDraftChanged);
}
void OnboardingViewModel::setFlipDraft(const QString& text) {
    publish(flipDraft_, text, &OnboardingViewModel::flipDraftChanged);
}
void OnboardingViewModel::setTelemetryEnabled(bool enabled) {
    publish(telemetryEnabled_, enabled, &OnboardingViewModel::telemetryEnabledChanged);
}
void OnboardingViewModel::setSelectionPopupEnabled(bool enabled) {
    publish(selectionPopupEnabled_, enabled, &OnboardingViewModel::selectionPopupEnabledChanged);
}

// ---- navigation

void OnboardingViewModel::selectPage(int index) {
    if (index < 0 || index >= static_cast<int>(pages_.size())) {
        return;
    }
    publish(selectedIndex_, index, &OnboardingViewModel::selectedIndexChanged);
    publish(hotKeyHint_, std::optional<QString>(), &OnboardingViewModel::hotKeyHintChanged);
}

void OnboardingViewModel::moveBack() {
    if (selectedIndex_ >= 1) {
        selectPage(selectedIndex_ - 1);
    }
}

void OnboardingViewModel::moveForward() {
    if (selectedIndex_ < static_cast<int>(pages_.size()) - 1) {
        selectPage(selectedIndex_ + 1);
    }
}

// ---- language and privacy choices

void OnboardingViewModel::updateNativeLanguage(AppLanguage language) {
    if (language == AppLanguage::automatic || (language == AppLanguage::hebrew && !onlineFeaturesEnabled_) ||
        language == nativeLanguage_) {
        return;
    }
    publish(nativeLanguage_, language, &OnboardingViewModel::nativeLanguageChanged);
    publish(writeDraft_, defaultWriteDraft(language), &OnboardingViewModel::writeDraftChanged);
    publish(rewriteDraft_, defaultRewriteDraft(language), &OnboardingViewModel::rewriteDraftChanged);
    publish(flipDraft_, defaultFlipDraft(language, companyLanguage_), &OnboardingViewModel::flipDraftChanged);
    clearDemoResults();
    saveLanguageChoices();
}

void OnboardingViewModel::updateCompanyLanguage(AppLanguage language) {
    if (language == AppLanguage::automatic || (language == AppLanguage::hebrew && !onlineFeaturesEnabled_) ||
        language == companyLanguage_) {
        return;
    }
    publish(companyLanguage_, language, &OnboardingViewModel::companyLanguageChanged);
    publish(editDraft_, defaultEditDraft(language), &OnboardingViewModel::editDraftChanged);
    publish(flipDraft_, defaultFlipDraft(nativeLanguage_, language), &OnboardingViewModel::flipDraftChanged);
    clearDemoResults();
    saveLanguageChoices();
}

void OnboardingViewModel::updateOnlineFeaturesEnabled(bool enabled) {
    if (enabled == onlineFeaturesEnabled_) {
        return;
    }
    publish(onlineFeaturesEnabled_, enabled, &OnboardingViewModel::onlineFeaturesEnabledChanged);
    if (!enabled) {
        // Only the server translates Hebrew.
        if (nativeLanguage_ == AppLanguage::hebrew) {
            publish(nativeLanguage_, AppLanguage::russian, &OnboardingViewModel::nativeLanguageChanged);
            publish(writeDraft_, defaultWriteDraft(AppLanguage::russian), &OnboardingViewModel::writeDraftChanged);
            publish(rewriteDraft_, defaultRewriteDraft(AppLanguage::russian),
                    &OnboardingViewModel::rewriteDraftChanged);
        }
        if (companyLanguage_ == AppLanguage::hebrew) {
            publish(companyLanguage_, AppLanguage::english, &OnboardingViewModel::companyLanguageChanged);
        }
        clearDemoResults();
    }
    saveLanguageChoices();
}

AppSettings OnboardingViewModel::storedSettings() const {
    return currentSettings_ ? currentSettings_().sanitized() : settings_;
}

void OnboardingViewModel::saveLanguageChoices() {
    // The choices go onto the settings as they are now: whatever the settings window or the
    // scratchpad saved since this window opened stays.
    AppSettings copy = storedSettings();
    copy.targetLanguage = nativeLanguage_;
    copy.messageTargetLanguage = companyLanguage_;
    copy.onlineFeaturesEnabled = onlineFeaturesEnabled_;
    copy.telemetryEnabled = telemetryEnabled_;
    copy.selectionPopupEnabled = selectionPopupEnabled_;

    const std::optional<QString> failure = onSaveSettings_ ? onSaveSettings_(copy) : std::nullopt;
    if (failure) {
        // The refused choice is not in effect: the controls go back to what is stored.
        publishChoices(storedSettings());
        publish(saveError_, failure, &OnboardingViewModel::saveErrorChanged);
        return;
    }
    settings_ = copy.sanitized();
    publishChoices(settings_);
    publish(saveError_, std::optional<QString>(), &OnboardingViewModel::saveErrorChanged);
}

void OnboardingViewModel::publishChoices(const AppSettings& settings) {
    publish(onlineFeaturesEnabled_, settings.onlineFeaturesEnabled, &OnboardingViewModel::onlineFeaturesEnabledChanged);
    publish(telemetryEnabled_, settings.telemetryEnabled, &OnboardingViewModel::telemetryEnabledChanged);
    publish(nativeLanguage_, settings.targetLanguage, &OnboardingViewModel::nativeLanguageChanged);
    publish(companyLanguage_, settings.messageTargetLanguage, &OnboardingViewModel::companyLanguageChanged);
    publish(selectionPopupEnabled_, settings.selectionPopupEnabled, &OnboardingViewModel::selectionPopupEnabledChanged);
}

void OnboardingViewModel::clearDemoResults() {
    publish(writeResult_, std::optional<QString>(), &OnboardingViewModel::writeResultChanged);
    publish(editResult_, std::optional<QString>(), &OnboardingViewModel::editResultChanged);
    publish(rewriteResult_, std::optional<QString>(), &OnboardingViewModel::rewriteResultChanged);
    publish(flipResult_, std::optional<QString>(), &OnboardingViewModel::flipResultChanged);
    publish(translatedConversation_, std::optional<QList<OnboardingChatMessage>>(),
            &OnboardingViewModel::translatedConversationChanged);
    publish(completedExerciseIDs_, QSet<QString>(), &OnboardingViewModel::completedExerciseIDsChanged);
    publish(hotKeyHint_, std::optional<QString>(), &OnboardingViewModel::hotKeyHintChanged);
}

// ---- shortcuts and demonstrations

bool OnboardingViewModel::handleHotKeyAction(HotKeyAction action) {
    if (!canRunHotKeyAction(action)) {
        return false;
    }
    // Held for this call too: a callback of a demonstration that ends at once may drop the
    // window's reference.
    const std::shared_ptr<OnboardingViewModel> self = shared_from_this();
    demoTask_ = runDemoHoldingViewModel(self, action);
    return true;
}

bool OnboardingViewModel::canRunHotKeyAction(HotKeyAction action) {
    if (runningAction_) {
        publish(hotKeyHint_, std::optional<QString>(kStillWorkingHint), &OnboardingViewModel::hotKeyHintChanged);
        return false;
    }
    const std::optional<HotKeyAction> expected =
        pages_.empty() ? std::nullopt : pages_[static_cast<std::size_t>(selectedIndex_)].expectedAction;
    if (!expected) {
        publish(hotKeyHint_, std::optional<QString>(kSetupStepHint), &OnboardingViewModel::hotKeyHintChanged);
        return false;
    }
    if (*expected == action) {
        return true;
    }
    publish(
        hotKeyHint_,
        std::optional<QString>(QStringLiteral("This step is listening for %1.").arg(shortcutDisplayName(*expected))),
        &OnboardingViewModel::hotKeyHintChanged);
    return false;
}

void OnboardingViewModel::completeExercise() {
    if (pages_.empty()) {
        return;
    }
    QSet<QString> completed = completedExerciseIDs_;
    completed.insert(pages_[static_cast<std::size_t>(selectedIndex_)].id);
    publish(completedExerciseIDs_, std::move(completed), &OnboardingViewModel::completedExerciseIDsChanged);
}

template <typename T>
QCoro::Task<> OnboardingViewModel::runPracticeDemo(QCoro::Task<T> call, std::optional<T>& result,
                                                   void (OnboardingViewModel::*changed)()) {
    std::optional<T> answer;
    std::exception_ptr failure;
    try {
        answer = co_await std::move(call);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        publish(hotKeyHint_, std::optional<QString>(demoErrorMessage(failure)),
                &OnboardingViewModel::hotKeyHintChanged);
        publish(runningAction_, std::optional<HotKeyAction>(), &OnboardingViewModel::runningActionChanged);
        co_return;
    }
    publish(result, std::move(answer), changed);
    completeExercise();
    publish(hotKeyHint_, std::optional<QString>(kDoneHint), &OnboardingViewModel::hotKeyHintChanged);
    publish(runningAction_, std::optional<HotKeyAction>(), &OnboardingViewModel::runningActionChanged);
}

QCoro::Task<> OnboardingViewModel::runDemo(HotKeyAction action) {
    publish(runningAction_, std::optional<HotKeyAction>(action), &OnboardingViewModel::runningActionChanged);
    publish(hotKeyHint_, std::optional<QString>(QStringLiteral("Running %1...").arg(shortcutDisplayName(action))),
            &OnboardingViewModel::hotKeyHintChanged);

    switch (action) {
    case HotKeyAction::captureAndTranslateActiveWindow:
        co_await runPracticeDemo(demoRunner_->translateConversation(conversationMessages(companyLanguage_),
                                                                    companyLanguage_, nativeLanguage_),
                                 translatedConversation_, &OnboardingViewModel::translatedConversationChanged);
        co_return;
    case HotKeyAction::translateMessage:
        co_await runPracticeDemo(demoRunner_->translateDraft(rewriteDraft_, companyLanguage_), rewriteResult_,
                                 &OnboardingViewModel::rewriteResultChanged);
        co_return;
    case HotKeyAction::editText:
        co_await runPracticeDemo(demoRunner_->editText(editDraft_, companyLanguage_, companyLanguage_), editResult_,
                                 &OnboardingViewModel::editResultChanged);
        co_return;
    case HotKeyAction::writeText:
        co_await runPracticeDemo(demoRunner_->writeReply(writeDraft_, writeContextText(), companyLanguage_),
                                 writeResult_, &OnboardingViewModel::writeResultChanged);
        co_return;
    case HotKeyAction::flipLanguage:
        co_await runPracticeDemo(demoRunner_->flipDraft(flipDraft_, nativeLanguage_, companyLanguage_), flipResult_,
                                 &OnboardingViewModel::flipResultChanged);
        co_return;
    case HotKeyAction::openDictationScratchpad:
        publish(runningAction_, std::optional<HotKeyAction>(), &OnboardingViewModel::runningActionChanged);
        if (onOpenDictationScratchpad) {
            onOpenDictationScratchpad();
        }
        completeExercise();
        publish(hotKeyHint_, std::optional<QString>(kDictationDoneHint), &OnboardingViewModel::hotKeyHintChanged);
        co_return;
    case HotKeyAction::createPrompt:
        publish(runningAction_, std::optional<HotKeyAction>(), &OnboardingViewModel::runningActionChanged);
        completeExercise();
        publish(hotKeyHint_, std::optional<QString>(kCreatePromptDoneHint), &OnboardingViewModel::hotKeyHintChanged);
        co_return;
    }
}

QString OnboardingViewModel::shortcutDisplayName(HotKeyAction action) const {
    return settings_.shortcut(action).displayName();
}

QString OnboardingViewModel::writeContextText() const {
    return QStringList{QStringLiteral("Second language: ") + displayName(companyLanguage_),
                       QStringLiteral("Production is down after the last deploy."),
                       QStringLiteral("We need someone to work this weekend. Can you take it?")}
        .join(QLatin1Char('\n'));
}

QString OnboardingViewModel::demoErrorMessage(const std::exception_ptr& error) {
    QString description;
    try {
        if (error) {
            std::rethrow_exception(error);
        }
        description = errorDescription(error);
    } catch (const CaptureWorkflowError& workflowError) {
        description = workflowError.errorDescription();
        if (const std::optional<QString> suggestion = workflowError.recoverySuggestion()) {
            description += QLatin1Char(' ') + *suggestion;
        }
    } catch (const std::exception& other) {
        description = QString::fromUtf8(other.what());
    } catch (...) {
        description = errorDescription(error);
    }
    return QStringLiteral("Could not run the live demo. ") + description;
}

}  // namespace tavrolin
