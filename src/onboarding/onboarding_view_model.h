#pragma once

#include "core/app_language.h"
#include "core/app_settings.h"
#include "core/hot_key_action.h"
#include "onboarding/onboarding_demo_running.h"
#include "onboarding/onboarding_page.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// The state and logic behind the onboarding window: the page list and the selected page, the
// language and privacy choices (saved at once through the save callback), the practice drafts
// and the results of their demonstrations, and the hint line. While the window is open every
// shortcut action comes here instead of its workflow; the view model runs a demonstration when
// the action is the one the selected page expects and otherwise only sets a hint.
//
// Every published property has a signal named after it, emitted on every assignment (also of
// an equal value), after the value is stored. Main thread only.
//
// Owned through std::shared_ptr: a demonstration holds the view model until it ends, so one
// still running when its window closes finishes on the detached view model.
class OnboardingViewModel final : public QObject, public std::enable_shared_from_this<OnboardingViewModel> {
    Q_OBJECT

public:
    // Answers none when the settings were saved, else the text to show.
    using SaveSettings = std::function<std::optional<QString>(const AppSettings&)>;
    // The settings as the application holds them now.
    using CurrentSettings = std::function<AppSettings()>;

    // `demoRunner` must not be null; `pages` is one of the page lists (an empty one makes every
    // page a setup step). A save puts the choices onto `currentSettings()` (onto the settings
    // last saved here when it is absent). Nothing is saved.
    OnboardingViewModel(const AppSettings& settings, std::vector<OnboardingPage> pages, SaveSettings onSaveSettings,
                        std::shared_ptr<OnboardingDemoRunning> demoRunner, CurrentSettings currentSettings = {});
    ~OnboardingViewModel() override;

    // ---- published state

    int selectedIndex() const { return selectedIndex_; }
    AppLanguage nativeLanguage() const { return nativeLanguage_; }
    AppLanguage companyLanguage() const { return companyLanguage_; }
    bool onlineFeaturesEnabled() const { return onlineFeaturesEnabled_; }
    bool telemetryEnabled() const { return telemetryEnabled_; }
    bool selectionPopupEnabled() const { return selectionPopupEnabled_; }
    const QString& writeDraft() const { return writeDraft_; }
    const QString& editDraft() const { return editDraft_; }
    const QString& rewriteDraft() const { return rewriteDraft_; }
    const QString& flipDraft() const { return flipDraft_; }
    const std::optional<QString>& writeResult() const { return writeResult_; }
    const std::optional<QString>& editResult() const { return editResult_; }
    const std::optional<QString>& rewriteResult() const { return rewriteResult_; }
    const std::optional<QString>& flipResult() const { return flipResult_; }
    const std::optional<QList<OnboardingChatMessage>>& translatedConversation() const {
        return translatedConversation_;
    }
    const QSet<QString>& completedExerciseIDs() const { return completedExerciseIDs_; }
    std::optional<HotKeyAction> runningAction() const { return runningAction_; }
    const std::optional<QString>& hotKeyHint() const { return hotKeyHint_; }
    const std::optional<QString>& saveError() const { return saveError_; }

    // What the views edit in place: the drafts (the next demonstration uses them) and the two
    // switches of the language page, which then calls saveLanguageChoices().
    void setWriteDraft(const QString& text);
    void setEditDraft(const QString& text);
    void setRewriteDraft(const QString& text);
    void setFlipDraft(const QString& text);
    void setTelemetryEnabled(bool enabled);
    void setSelectionPopupEnabled(bool enabled);

    // ---- not published

    // Set by the window controller: opens the real dictation scratchpad.
    std::function<void()> onOpenDictationScratchpad;
    const std::vector<OnboardingPage>& pages() const { return pages_; }
    // The settings last saved successfully (or given), sanitised.
    const AppSettings& settings() const { return settings_; }

    // ---- navigation: a page change clears the hint and touches nothing else

    // Ignored outside 0..<pages().size().
    void selectPage(int index);
    void moveBack();
    void moveForward();

    // ---- language and privacy choices

    // Automatic, Hebrew while online features are off and the language already chosen change
    // nothing. Otherwise the language is taken, the drafts in it renewed, the demonstration
    // results cleared and the choices saved.
    void updateNativeLanguage(AppLanguage language);
    void updateCompanyLanguage(AppLanguage language);
    // Turning online features off moves a Hebrew native language to Russian (renewing the write
    // and rewrite drafts) and a Hebrew second language to English (the drafts stay), and clears
    // the results. Saves in both directions.
    void updateOnlineFeaturesEnabled(bool enabled);
    // Saves the five choices onto the current settings; on success the saved (sanitised) values
    // are published, on failure the stored ones, and `saveError` tells why.
    void saveLanguageChoices();

    // ---- shortcuts and demonstrations

    // Starts the demonstration when the gate lets the action through and returns at once.
    bool handleHotKeyAction(HotKeyAction action);
    // The gate: answers whether the selected page takes the action now; when it does not,
    // `hotKeyHint` says why.
    bool canRunHotKeyAction(HotKeyAction action);
    // One demonstration on the current drafts and languages. Never throws for a failed run: the
    // hint tells the error. The caller keeps the view model alive until it ends.
    QCoro::Task<> runDemo(HotKeyAction action);
    // The user's shortcut for the action in words ("Control+Shift+R", "Alt+Super+M").
    QString shortcutDisplayName(HotKeyAction action) const;
    // The front-window text the Rewrite demonstration sends with its draft.
    QString writeContextText() const;
    // "Could not run the live demo. " with the error's description and its suggestion.
    static QString demoErrorMessage(const std::exception_ptr& error);

    // ---- the sample texts

    // A rough refusal of weekend duty, in the native language.
    static QString defaultWriteDraft(AppLanguage language);
    // A message with typos about needing access to logs and the deploy dashboard, in the second
    // language.
    static QString defaultEditDraft(AppLanguage language);
    // "I can join for two hours, but I need the priority list and the release owner.", in the
    // native language.
    static QString defaultRewriteDraft(AppLanguage language);
    // The same sentence in the second language; the native language does not matter.
    static QString defaultFlipDraft(AppLanguage nativeLanguage, AppLanguage companyLanguage);
    // A three-message incident chat (ids "1", "2", "3"; incoming, outgoing, incoming).
    static QList<OnboardingChatMessage> conversationMessages(AppLanguage language);

Q_SIGNALS:
    void selectedIndexChanged();
    void nativeLanguageChanged();
    void companyLanguageChanged();
    void onlineFeaturesEnabledChanged();
    void telemetryEnabledChanged();
    void selectionPopupEnabledChanged();
    void writeDraftChanged();
    void editDraftChanged();
    void rewriteDraftChanged();
    void flipDraftChanged();
    void writeResultChanged();
    void editResultChanged();
    void rewriteResultChanged();
    void flipResultChanged();
    void translatedConversationChanged();
    void completedExerciseIDsChanged();
    void runningActionChanged();
    void hotKeyHintChanged();
    void saveErrorChanged();

private:
    template <typename T>
    void publish(T& field, T value, void (OnboardingViewModel::*changed)());
    void clearDemoResults();
    AppSettings storedSettings() const;
    // The five choices, in the order a save publishes them.
    void publishChoices(const AppSettings& settings);
    void completeExercise();
    // Awaits the runner call of one practice: its answer goes into `result`, a failure only
    // into the hint.
    template <typename T>
    QCoro::Task<> runPracticeDemo(QCoro::Task<T> call, std::optional<T>& result,
                                  void (OnboardingViewModel::*changed)());

    int selectedIndex_ = 0;
    AppLanguage nativeLanguage_;
    AppLanguage companyLanguage_;
    bool onlineFeaturesEnabled_;
    bool telemetryEnabled_;
    bool selectionPopupEnabled_;
    QString writeDraft_;
    QString editDraft_;
    QString rewriteDraft_;
    QString flipDraft_;
    std::optional<QString> writeResult_;
    std::optional<QString> editResult_;
    std::optional<QString> rewriteResult_;
    std::optional<QString> flipResult_;
    std::optional<QList<OnboardingChatMessage>> translatedConversation_;
    QSet<QString> completedExerciseIDs_;
    std::optional<HotKeyAction> runningAction_;
    std::optional<QString> hotKeyHint_;
    std::optional<QString> saveError_;

    std::vector<OnboardingPage> pages_;
    AppSettings settings_;
    SaveSettings onSaveSettings_;
    CurrentSettings currentSettings_;
    std::shared_ptr<OnboardingDemoRunning> demoRunner_;
    // The demonstration started by handleHotKeyAction(), kept until the next one starts.
    std::optional<QCoro::Task<>> demoTask_;
};

}  // namespace tavrolin
