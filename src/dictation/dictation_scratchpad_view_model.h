#pragma once

// The state and the actions of the dictation scratchpad window, without widgets: dictating into
// the text, the dictation language, Improve and Create Prompt through the server, and copying.
// Every published property has a change signal; the window's widgets bind to them.

#include "core/app_language.h"
#include "language/text_prompt_client.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

class AppSettingsStore;
class Clipboard;
class DictationPermissionManager;
class Scheduler;
class SpeechRecognitionService;
class TextImproveClient;
struct CopyCountdown;

class DictationScratchpadViewModel final : public QObject {
    Q_OBJECT

public:
    enum class Mode { dictation, copyOnly };

    // Builds the speech service of one recognition locale ("en-US", ...).
    using SpeechServiceFactory = std::function<std::shared_ptr<SpeechRecognitionService>(const QString&)>;

    struct Dependencies {
        AppSettingsStore* settingsStore = nullptr;
        std::shared_ptr<TextImproveClient> textImproveClient;
        std::shared_ptr<TextPromptClient> textPromptClient;
        SpeechServiceFactory makeSpeechService;
        std::shared_ptr<DictationPermissionManager> permissionManager;
        std::shared_ptr<Clipboard> clipboard;
        std::shared_ptr<Scheduler> scheduler;
    };

    // The recognition locale when a language has none of its own.
    static inline const QString fallbackLocaleIdentifier = QStringLiteral("en-US");

    explicit DictationScratchpadViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~DictationScratchpadViewModel() override;

    // ---- published properties
    const QString& text() const { return text_; }
    Mode mode() const { return mode_; }
    bool showCopied() const { return showCopied_; }
    int copyCountdown() const { return copyCountdown_; }
    bool isRecording() const { return isRecording_; }
    // Recording and the microphone's audio flows: what the recording banner shows.
    bool isListening() const { return isListening_; }
    const std::optional<QString>& statusMessage() const { return statusMessage_; }
    AppLanguage selectedLanguage() const { return selectedLanguage_; }
    const std::vector<AppLanguage>& availableLanguages() const { return availableLanguages_; }
    bool isImproving() const { return isImproving_; }
    const std::optional<QString>& improveError() const { return improveError_; }
    bool isCreatingPrompt() const { return isCreatingPrompt_; }
    const std::optional<QString>& promptError() const { return promptError_; }

    // The editor's path: the user typed, undid or redid.
    void setText(const QString& text);
    // The language menu's and the presentation's path; the view answers the change with
    // changeLanguage().
    void setSelectedLanguage(AppLanguage language);
    void setAvailableLanguages(std::vector<AppLanguage> languages);
    void setStatusMessage(const std::optional<QString>& message);

    // ---- callbacks the window controller sets
    std::function<void()> onRequestClose;
    // Called just before an Improve or Create Prompt result replaces the text, so the editor can
    // keep the replaced text as an undo step.
    std::function<void()> registerTextUndo;

    // ---- actions
    void reset(Mode mode, const QString& text);
    void updateLocale(AppLanguage language);
    void changeLanguage(AppLanguage language);
    QCoro::Task<> startDictationIfReady();
    void startDictation();
    void stopDictation(bool shouldAutoImprove);
    void toggleDictation();
    void improveText();
    void createPrompt(TextPromptLanguage language);
    void copyToClipboard();

    // The locale the current speech service was built for; empty before the first is needed.
    const QString& speechLocaleIdentifier() const { return speechLocaleIdentifier_; }

Q_SIGNALS:
    void textChanged(const QString& text);
    void modeChanged(DictationScratchpadViewModel::Mode mode);
    void showCopiedChanged(bool showCopied);
    void copyCountdownChanged(int copyCountdown);
    void isRecordingChanged(bool isRecording);
    void isListeningChanged(bool isListening);
    void statusMessageChanged(const std::optional<QString>& statusMessage);
    void selectedLanguageChanged(AppLanguage language);
    void availableLanguagesChanged();
    void isImprovingChanged(bool isImproving);
    void improveErrorChanged(const std::optional<QString>& improveError);
    void isCreatingPromptChanged(bool isCreatingPrompt);
    void promptErrorChanged(const std::optional<QString>& promptError);

private:
    enum class ServerAction { improve, createPrompt };

    // Sets a published property and announces a change, once, when the value differs.
    template <typename Value, typename Signal>
    void publish(Value& field, Value value, Signal changed);
    void replaceSpeechService(const QString& localeIdentifier);
    void handleTranscriptionUpdate(const QString& transcription);
    void handleSpeechError(const QString& description);
    void endRecording();
    void setMode(Mode mode);
    void setShowCopied(bool value);
    void setCopyCountdown(int value);
    void setIsRecording(bool value);
    void setIsListening(bool value);
    void setBusy(ServerAction action, bool value);
    void setActionError(ServerAction action, const std::optional<QString>& message);
    void startServerAction(ServerAction action, TextPromptLanguage promptLanguage);
    void applyServerResult(const QString& result);
    void cancelCopyCountdown();

    static QCoro::Task<> runServerAction(QPointer<DictationScratchpadViewModel> self, ServerAction action,
                                         std::shared_ptr<TextImproveClient> improveClient,
                                         std::shared_ptr<TextPromptClient> promptClient, QString text,
                                         AppLanguage language, TextPromptLanguage promptLanguage,
                                         std::uint64_t presentation);
    static QCoro::Task<> runCopyCountdown(std::shared_ptr<CopyCountdown> countdown);

    Dependencies dependencies_;

    QString text_;
    Mode mode_ = Mode::dictation;
    bool showCopied_ = false;
    int copyCountdown_ = 0;
    bool isRecording_ = false;
    bool isListening_ = false;
    std::optional<QString> statusMessage_;
    AppLanguage selectedLanguage_ = AppLanguage::english;
    std::vector<AppLanguage> availableLanguages_;
    bool isImproving_ = false;
    std::optional<QString> improveError_;
    bool isCreatingPrompt_ = false;
    std::optional<QString> promptError_;

    std::shared_ptr<SpeechRecognitionService> speechService_;
    QString speechLocaleIdentifier_;
    std::shared_ptr<CopyCountdown> copyTask_;
    QString prefix_;

    // Speech results count from a start until the next presentation: a stop keeps them coming,
    // so the last words still land. The service itself drops what an earlier run reports.
    bool acceptsSpeech_ = false;
    // Server results count only for the presentation they were asked in.
    std::uint64_t presentation_ = 0;
};

}  // namespace tavrolin
