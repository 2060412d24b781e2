#include "dictation/dictation_scratchpad_view_model.h"

#include "core/app_log.h"
#include "core/app_settings_store.h"
#include "core/capture_workflow_error.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/speech_recognition_error.h"
#include "dictation/speech_recognition_service.h"
#include "language/text_improve_client.h"
#include "platform/clipboard.h"
#include "platform/clock.h"

#include <chrono>
#include <coroutine>
#include <type_traits>
#include <utility>

namespace tavrolin {

using namespace std::chrono_literals;

// One run of the copy countdown. cancel() ends a pending pause at once, the way a cancelled
// task's sleep ends: the countdown then clears its confirmation and does not close.
struct CopyCountdown {
    DictationScratchpadViewModel* owner = nullptr;  // cleared when the view model goes away
    std::shared_ptr<Scheduler> scheduler;
    std::unique_ptr<ScheduledCall> call;
    std::coroutine_handle<> waiting;
    bool cancelled = false;

    void cancel() {
        if (cancelled) {
            return;
        }
        cancelled = true;
        call.reset();
        if (auto handle = std::exchange(waiting, {})) {
            handle.resume();
        }
    }

    // Answers true when the pause ran its full length, false when it was cancelled.
    struct Pause {
        CopyCountdown& countdown;
        std::chrono::milliseconds delay;
        bool await_ready() const noexcept { return countdown.cancelled; }
        void await_suspend(std::coroutine_handle<> handle) {
            countdown.waiting = handle;
            // Whole seconds shown to the user: no timer slack.
            countdown.call = countdown.scheduler->scheduleAfterWithTolerance(delay, 0ms, [c = &countdown] {
                if (auto waiting = std::exchange(c->waiting, {})) {
                    waiting.resume();
                }
            });
        }
        bool await_resume() const noexcept { return !countdown.cancelled; }
    };
    Pause pause(std::chrono::milliseconds delay) { return Pause{*this, delay}; }
};

namespace {

QString describe(const std::exception_ptr& error, const QString& onlineFeaturesDisabledMessage) {
    try {
        std::rethrow_exception(error);
    } catch (const CaptureWorkflowError& e) {
        if (e.errorCase() == CaptureWorkflowError::Case::onlineFeaturesDisabled) {
            return onlineFeaturesDisabledMessage;
        }
        return e.errorDescription();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace

// The speech service is built when a language is set or a recording starts, not before: its
// model loads as it is built, and the first presentation usually names its own language.
DictationScratchpadViewModel::DictationScratchpadViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

DictationScratchpadViewModel::~DictationScratchpadViewModel() {
    if (copyTask_) {
        copyTask_->owner = nullptr;
        copyTask_->cancel();
    }
    if (speechService_) {
        speechService_->onTranscriptionUpdate = nullptr;
        speechService_->onError = nullptr;
        speechService_->onAudioStarted = nullptr;
        if (isRecording_) {
            speechService_->stopTranscribing();
        }
    }
}

// ---- properties

template <typename Value, typename Signal>
void DictationScratchpadViewModel::publish(Value& field, Value value, Signal changed) {
    if (field == value) {
        return;
    }
    field = std::move(value);
    if constexpr (std::is_invocable_v<Signal, DictationScratchpadViewModel*>) {
        Q_EMIT(this->*changed)();
    } else {
        Q_EMIT(this->*changed)(field);
    }
}

void DictationScratchpadViewModel::setText(const QString& text) {
    publish(text_, text, &DictationScratchpadViewModel::textChanged);
}
void DictationScratchpadViewModel::setSelectedLanguage(AppLanguage language) {
    publish(selectedLanguage_, language, &DictationScratchpadViewModel::selectedLanguageChanged);
}
void DictationScratchpadViewModel::setAvailableLanguages(std::vector<AppLanguage> languages) {
    publish(availableLanguages_, std::move(languages), &DictationScratchpadViewModel::availableLanguagesChanged);
}
void DictationScratchpadViewModel::setStatusMessage(const std::optional<QString>& message) {
    publish(statusMessage_, message, &DictationScratchpadViewModel::statusMessageChanged);
}
void DictationScratchpadViewModel::setMode(Mode mode) {
    publish(mode_, mode, &DictationScratchpadViewModel::modeChanged);
}
void DictationScratchpadViewModel::setShowCopied(bool value) {
    publish(showCopied_, value, &DictationScratchpadViewModel::showCopiedChanged);
}
void DictationScratchpadViewModel::setCopyCountdown(int value) {
    publish(copyCountdown_, value, &DictationScratchpadViewModel::copyCountdownChanged);
}
void DictationScratchpadViewModel::setIsRecording(bool value) {
    publish(isRecording_, value, &DictationScratchpadViewModel::isRecordingChanged);
}
void DictationScratchpadViewModel::setIsListening(bool value) {
    publish(isListening_, value, &DictationScratchpadViewModel::isListeningChanged);
}
void DictationScratchpadViewModel::setBusy(ServerAction action, bool value) {
    if (action == ServerAction::improve) {
        publish(isImproving_, value, &DictationScratchpadViewModel::isImprovingChanged);
    } else {
        publish(isCreatingPrompt_, value, &DictationScratchpadViewModel::isCreatingPromptChanged);
    }
}
void DictationScratchpadViewModel::setActionError(ServerAction action, const std::optional<QString>& message) {
    if (action == ServerAction::improve) {
        publish(improveError_, message, &DictationScratchpadViewModel::improveErrorChanged);
    } else {
        publish(promptError_, message, &DictationScratchpadViewModel::promptErrorChanged);
    }
}

// ---- speech

void DictationScratchpadViewModel::replaceSpeechService(const QString& localeIdentifier) {
    if (speechService_) {
        // A stop asked for just before keeps its own hold on the old service until it has
        // released the microphone; nothing of the old service reaches this view model again.
        speechService_->onTranscriptionUpdate = nullptr;
        speechService_->onError = nullptr;
        speechService_->onAudioStarted = nullptr;
    }
    speechService_ = dependencies_.makeSpeechService(localeIdentifier);
    speechLocaleIdentifier_ = localeIdentifier;
    if (!speechService_) {
        return;
    }
    const QPointer<DictationScratchpadViewModel> self(this);
    speechService_->onTranscriptionUpdate = [self](const QString& transcription) {
        if (self && self->acceptsSpeech_) {
            self->handleTranscriptionUpdate(transcription);
        }
    };
    speechService_->onError = [self](const std::exception& error) {
        if (self && self->acceptsSpeech_) {
            self->handleSpeechError(speechErrorDescription(error));
        }
    };
    speechService_->onAudioStarted = [self] {
        if (self && self->acceptsSpeech_ && self->isRecording_) {
            self->setIsListening(true);
        }
    };
}

void DictationScratchpadViewModel::handleTranscriptionUpdate(const QString& transcription) {
    setText(prefix_.isEmpty() ? transcription : prefix_ + QLatin1Char(' ') + transcription);
}

void DictationScratchpadViewModel::handleSpeechError(const QString& description) {
    if (!isRecording_) {
        return;
    }
    endRecording();
    prefix_ = text_;
    setStatusMessage(QStringLiteral("❌ ") + description);
}

void DictationScratchpadViewModel::endRecording() {
    setIsListening(false);
    setIsRecording(false);
    if (speechService_) {
        speechService_->stopTranscribing();
    }
}

void DictationScratchpadViewModel::updateLocale(AppLanguage language) {
    const QStringList identifiers = recognitionIdentifiers(language);
    const QString localeIdentifier = identifiers.isEmpty() ? fallbackLocaleIdentifier : identifiers.first();
    // Loading a model takes longer than a user waits for the microphone: a service whose model
    // is loaded (or loading) for this locale is kept. One without a model is built anew, so that
    // a model installed meanwhile is found.
    if (speechService_ && speechLocaleIdentifier_ == localeIdentifier && speechService_->hasRecognizer() &&
        speechService_->isRecognizerAvailable()) {
        return;
    }
    replaceSpeechService(localeIdentifier);
}

void DictationScratchpadViewModel::changeLanguage(AppLanguage language) {
    if (isRecording_) {
        return;
    }
    setSelectedLanguage(language);
    updateLocale(language);
    if (!dependencies_.settingsStore) {
        return;
    }
    AppSettings settings = dependencies_.settingsStore->settings();
    settings.dictationLanguage = language;
    if (const auto failure = dependencies_.settingsStore->persist(settings)) {
        AppLog::app().error(QStringLiteral("dictation language not stored: %1").arg(*failure));
    }
}

QCoro::Task<> DictationScratchpadViewModel::startDictationIfReady() {
    const QPointer<DictationScratchpadViewModel> self(this);
    const std::shared_ptr<DictationPermissionManager> manager = dependencies_.permissionManager;
    // Named, not a temporary inside the co_await expression: g++ 12 destroys such temporaries twice.
    std::function<void(std::optional<QString>)> setStatus = [self](const std::optional<QString>& status) {
        if (self) {
            self->setStatusMessage(status);
        }
    };
    const bool start = co_await runDictationPermissionFlow(*manager, std::move(setStatus));
    if (start && self) {
        self->startDictation();
    }
}

void DictationScratchpadViewModel::startDictation() {
    if (isRecording_) {
        return;
    }
    if (!speechService_) {
        replaceSpeechService(fallbackLocaleIdentifier);
    }
    if (!speechService_ || !speechService_->hasRecognizer() || !speechService_->isRecognizerAvailable()) {
        setStatusMessage(QStringLiteral("❌ Speech recognition is not available."));
        return;
    }
    prefix_ = text_;
    acceptsSpeech_ = true;
    setIsRecording(true);
    setStatusMessage(std::nullopt);
    speechService_->startTranscribing();
}

void DictationScratchpadViewModel::stopDictation(bool shouldAutoImprove) {
    if (!isRecording_) {
        return;
    }
    endRecording();
    if (shouldAutoImprove && dependencies_.settingsStore &&
        dependencies_.settingsStore->settings().autoImproveOnDictationStop) {
        improveText();
    }
}

void DictationScratchpadViewModel::toggleDictation() {
    if (isRecording_) {
        stopDictation(true);
    } else {
        startDictationIfReady();
    }
}

void DictationScratchpadViewModel::reset(Mode mode, const QString& text) {
    if (isRecording_) {
        endRecording();
    }
    // Whatever the earlier presentation still has in flight (speech results, server answers)
    // belongs to it, not to this one.
    acceptsSpeech_ = false;
    ++presentation_;
    setMode(mode);
    setText(text);
    prefix_.clear();
    setShowCopied(false);
    setBusy(ServerAction::improve, false);
    setBusy(ServerAction::createPrompt, false);
    setCopyCountdown(0);
    setStatusMessage(std::nullopt);
    setActionError(ServerAction::improve, std::nullopt);
    setActionError(ServerAction::createPrompt, std::nullopt);
    cancelCopyCountdown();
}

// ---- Improve and Create Prompt

void DictationScratchpadViewModel::improveText() {
    startServerAction(ServerAction::improve, TextPromptLanguage::original);
}

void DictationScratchpadViewModel::createPrompt(TextPromptLanguage language) {
    startServerAction(ServerAction::createPrompt, language);
}

void DictationScratchpadViewModel::startServerAction(ServerAction action, TextPromptLanguage promptLanguage) {
    const bool busy = action == ServerAction::improve ? isImproving_ : isCreatingPrompt_;
    if (text_.isEmpty() || busy || isRecording_) {
        return;
    }
    setBusy(action, true);
    setActionError(action, std::nullopt);
    runServerAction(QPointer<DictationScratchpadViewModel>(this), action, dependencies_.textImproveClient,
                    dependencies_.textPromptClient, text_, selectedLanguage_, promptLanguage, presentation_);
}

QCoro::Task<> DictationScratchpadViewModel::runServerAction(
    QPointer<DictationScratchpadViewModel> self, ServerAction action, std::shared_ptr<TextImproveClient> improveClient,
    std::shared_ptr<TextPromptClient> promptClient, QString text, AppLanguage language,
    TextPromptLanguage promptLanguage, std::uint64_t presentation) {
    std::optional<QString> result;
    std::exception_ptr error;
    try {
        if (action == ServerAction::improve) {
            result = co_await improveClient->improve(text, language);
        } else {
            result = co_await promptClient->createPrompt(text, promptLanguage);
        }
    } catch (...) {
        error = std::current_exception();
    }
    if (!self || self->presentation_ != presentation) {
        co_return;  // the window was presented anew meanwhile: the answer is for a text no longer shown
    }
    if (result) {
        self->applyServerResult(*result);
    } else {
        const QString feature =
            action == ServerAction::improve ? QStringLiteral("Improve") : QStringLiteral("Create Prompt");
        self->setActionError(
            action,
            describe(error,
                     QStringLiteral("Online features are disabled. Enable them in Settings to use %1.").arg(feature)));
    }
    self->setBusy(action, false);
}

void DictationScratchpadViewModel::applyServerResult(const QString& result) {
    if (registerTextUndo) {
        registerTextUndo();
    }
    setText(result);
    prefix_ = result;
}

// ---- copy

void DictationScratchpadViewModel::cancelCopyCountdown() {
    if (auto countdown = std::exchange(copyTask_, nullptr)) {
        countdown->cancel();
    }
}

void DictationScratchpadViewModel::copyToClipboard() {
    if (dependencies_.clipboard) {
        dependencies_.clipboard->clear();
        dependencies_.clipboard->setText(text_);
    }
    if (mode_ == Mode::copyOnly) {
        stopDictation(false);
        if (onRequestClose) {
            onRequestClose();
        }
        return;
    }
    // The earlier countdown ends first, so that its clean-up cannot hide the new confirmation.
    cancelCopyCountdown();
    setShowCopied(true);
    setCopyCountdown(2);
    stopDictation(false);
    auto countdown = std::make_shared<CopyCountdown>();
    countdown->owner = this;
    countdown->scheduler = dependencies_.scheduler;
    copyTask_ = countdown;
    runCopyCountdown(std::move(countdown));
}

QCoro::Task<> DictationScratchpadViewModel::runCopyCountdown(std::shared_ptr<CopyCountdown> countdown) {
    const auto cancelled = [&countdown] {
        if (DictationScratchpadViewModel* owner = countdown->owner) {
            owner->setShowCopied(false);
            owner->setCopyCountdown(0);
        }
    };
    if (countdown->owner) {
        countdown->owner->setCopyCountdown(2);
    }
    if (!co_await countdown->pause(1s)) {
        cancelled();
        co_return;
    }
    if (countdown->owner) {
        countdown->owner->setCopyCountdown(1);
    }
    if (!co_await countdown->pause(1s)) {
        cancelled();
        co_return;
    }
    DictationScratchpadViewModel* owner = countdown->owner;
    if (owner && owner->copyTask_ == countdown) {
        owner->copyTask_.reset();
    }
    if (owner && owner->onRequestClose) {
        owner->onRequestClose();
    }
}

}  // namespace tavrolin
