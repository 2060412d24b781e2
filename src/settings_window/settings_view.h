#pragma once

#include "core/app_settings.h"
#include "language/translation_setup_support.h"
#include "settings_window/confirmation_dialog.h"
#include "settings_window/settings_pane.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace tavrolin {

class KeyboardLayoutReading;
class SettingsSidebar;

// Which notice of the window a download check fills: the native language's or the second
// language's.
enum class SettingsLanguageDownloadPlacement { target, messageTarget };

// What the panes need from outside the window.
struct SettingsViewServices {
    // Asks the translation engine of this device only, never the server.
    std::shared_ptr<TranslationSetupSupport> localTranslationSetupSupport;
    // The notice's button: opens the step that explains how translation data is installed.
    std::function<void()> openTranslationSetup;
    // Read each time the About pane is built.
    std::function<QString()> deviceID;
    std::function<QString()> appVersion;
    // How the recorder tells keys apart; none reads the press's own key only.
    std::shared_ptr<KeyboardLayoutReading> keyboard;
};

// The whole content of the settings window: the sidebar, the selected pane, the footer with the
// message line, Cancel and Save, and the two confirmations. It edits a working copy of the
// settings; nothing leaves it until Save hands the copy to `onSave`.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    using SaveCallback = std::function<std::optional<QString>(const AppSettings&)>;

    SettingsView(const AppSettings& settings, std::function<void()> onCancel, SaveCallback onSave,
                 std::function<void()> onExportDiagnostics,
                 std::function<void(bool recording)> onShortcutRecordingChanged, SettingsViewServices services,
                 QWidget* parent = nullptr);
    ~SettingsView() override;

    // ---- state
    const AppSettings& draftSettings() const { return draftSettings_; }
    const std::optional<QString>& saveError() const { return saveError_; }
    const std::optional<TranslationDownloadNotice>& targetLanguageDownloadNotice() const { return targetNotice_; }
    const std::optional<TranslationDownloadNotice>& messageTargetLanguageDownloadNotice() const {
        return messageTargetNotice_;
    }
    bool showOnlineFeaturesAlert() const { return showOnlineFeaturesAlert_; }
    bool showResetAllConfirmation() const { return showResetAllConfirmation_; }
    SettingsPane selectedPane() const { return selectedPane_; }
    const SaveCallback& onSave() const { return onSave_; }

    // ---- actions
    void selectPane(SettingsPane pane);
    void save();
    // Every change of the working copy goes through here, so the observers run.
    void modifyDraft(const std::function<void(AppSettings&)>& change);
    // The defaults' seven shortcuts with every other field of the working copy.
    AppSettings keepCustomDraftSettings(const AppSettings& defaults) const;
    bool onlineFeaturesToggle() const { return draftSettings_.onlineFeaturesEnabled; }
    // Writing false asks first (the switch springs back on while it asks).
    void setOnlineFeaturesToggle(bool on);
    void requestResetAll();
    // A language chosen in the native or second-language picker: clears that notice and checks.
    void languageChosen(SettingsLanguageDownloadPlacement placement);
    bool isCurrentLanguagePair(const TranslationLanguagePair& pair, SettingsLanguageDownloadPlacement placement) const;
    // Clears a notice as dismissing its popover does.
    void dismissNotice(SettingsLanguageDownloadPlacement placement);

    // ---- parts, for tests and the shell
    SettingsSidebar* sidebar() const { return sidebar_; }
    QWidget* paneContent() const { return paneContent_; }
    QLabel* messageLabel() const { return message_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    ConfirmationDialogOverlay* confirmationOverlay() const { return overlay_; }
    QComboBox* languagePicker(SettingsLanguageDownloadPlacement placement) const;
    // The notice popover on screen, if any.
    QWidget* noticePopover() const { return popover_; }
    bool isRecordingShortcut() const { return recording_; }
    // Escape cancels, Return saves (when Save is enabled); true when the key was one of them.
    // The window calls it for keys that reach it with nothing focused.
    bool handleWindowKey(QKeyEvent* event);

Q_SIGNALS:
    void draftChanged();
    // A download check has stored its result (or dropped it as stale).
    void languageCheckFinished();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    static QCoro::Task<void> checkLanguageDownload(QPointer<SettingsView> view,
                                                   std::shared_ptr<TranslationSetupSupport> support,
                                                   TranslationLanguagePair pair,
                                                   SettingsLanguageDownloadPlacement placement);
    void setNotice(SettingsLanguageDownloadPlacement placement, std::optional<TranslationDownloadNotice> notice);
    std::optional<TranslationDownloadNotice>& notice(SettingsLanguageDownloadPlacement placement);
    void showNoticePopover(SettingsLanguageDownloadPlacement placement);
    void closeNoticePopover();
    void rebuildPane();
    void refresh();
    void setRecording(bool recording);
    void showOverlay(bool resetShortcuts);
    void closeOverlay();

    QWidget* buildPaneContent(SettingsPane pane);
    QWidget* translationPane();
    QWidget* dictationPane();
    QWidget* overlaysPane();
    QWidget* shortcutsPane();
    QWidget* antiSleepPane();
    QWidget* privacyPane();
    QWidget* aboutPane();

    AppSettings draftSettings_;
    std::optional<QString> saveError_;
    std::optional<TranslationDownloadNotice> targetNotice_;
    std::optional<TranslationDownloadNotice> messageTargetNotice_;
    bool showOnlineFeaturesAlert_ = false;
    SettingsPane selectedPane_ = SettingsPane::translation;
    bool showResetAllConfirmation_ = false;
    std::function<void()> onCancel_;
    SaveCallback onSave_;
    std::function<void()> onExportDiagnostics_;
    std::function<void(bool)> onShortcutRecordingChanged_;
    SettingsViewServices services_;

    bool recording_ = false;
    QWidget* body_ = nullptr;
    SettingsSidebar* sidebar_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* paneContent_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPointer<ConfirmationDialogOverlay> overlay_;
    QPointer<QWidget> popover_;
    bool closingPopover_ = false;
    QPointer<QComboBox> targetPicker_;
    QPointer<QComboBox> messageTargetPicker_;
    // Bring the current pane's controls in line with the working copy.
    std::vector<std::function<void()>> refreshers_;
};

}  // namespace tavrolin
