#pragma once

// Steps shared by the services that run one operation on the focused field of another
// application (write, flip, edit, rewrite, prompt).

#include "core/app_language.h"
#include "language/focused_text_field_accessing.h"
#include "language/translation_client.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QMetaObject>
#include <QRectF>
#include <QString>
#include <QThread>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace tavrolin {

class LanguageRecognizer;

// The text an operation works on: the selection when there is a non-empty one, else the whole
// field.
struct FocusedFieldInput {
    QString text;
    // True exactly when the selection was taken.
    bool replacedSelection = false;

    static FocusedFieldInput choose(const FocusedTextFieldSnapshot& snapshot);
};

// Fails with focusedTextFieldEmpty when the text has no characters at all (blanks are text).
void requireNonEmptyInput(const QString& text);

// Fails with textExceedsCharacterLimit carrying the count when the text has more
// user-perceived characters (grapheme clusters) than CaptureWorkflowError::characterLimit.
void requireWithinCharacterLimit(const QString& text);

// True when nothing but white space and line breaks is left.
bool isBlankAnswer(const QString& answer);

// installed goes on; supported fails with translationLanguagePairNotInstalled and unsupported
// with translationLanguagePairUnsupported, both naming the languages by display name.
void requireInstalledPair(TranslationPairAvailability availability, AppLanguage source, AppLanguage target);

// The text to write from a translation of one text: failedToReplaceFocusedTextFieldText when
// there is none or it is empty, textTranslationInvalidResponse when it is blank (the input is
// never blank by then, and writing blanks would wipe the user's message).
QString acceptedTranslation(const QStringList& translated);

// Translates one field text from source to target on a pair the device or server has installed
// and answers the text to write (acceptedTranslation), its lines as the user's (withLinesOf),
// back on the main thread.
QCoro::Task<QString> translateFieldText(std::shared_ptr<TranslationClient> client, QString text, AppLanguage source,
                                        AppLanguage target);

// Logs where the time of one run on the focused field went, as one line:
//   focused field steps focus_ms=<n> field_ms=<n> service_ms=<n> write_ms=<n> check_ms=<n>
//     total_ms=<n> result=<done|failed>
// service_ms is what the steps leave of the run: the service itself (translation, spelling,
// server) and the loading card.
void logFieldSteps(const FieldStepTimes& steps, bool done);

// How each service runs on the focused field: reads it with the service's retry values unless
// the caller hands the snapshot it already has (the selection buttons'), reports its frame, runs
// `operation` on it and, however that ends, gives back a text a whole-field read had to cut out
// of the field and nothing replaced: a run that ends in an alert or a window must not leave the
// field empty. An exception of `onFieldFrame` ends the run like a failed read. The run's steps
// are logged at its end (logFieldSteps) when the accessor measures them.
template <typename Result, typename Operation>
QCoro::Task<Result> runOnFocusedField(std::shared_ptr<FocusedTextFieldAccessing> accessor, int retryCount,
                                      double retryDelay, std::optional<FocusedTextFieldSnapshot> snapshot,
                                      FieldFrameCallback onFieldFrame, Operation operation) {
    // Each awaited call's argument is built in a statement of its own (see CONTRIBUTING.md).
    std::optional<Result> result;
    std::exception_ptr error;
    accessor->takeStepTimes();  // the steps of this run count from here
    try {
        if (!snapshot) {
            FocusedTextFieldSnapshot read = co_await accessor->prepareFocusedFieldWithRetry(retryCount, retryDelay);
            snapshot = std::move(read);
        }
        if (onFieldFrame) {
            onFieldFrame(snapshot->screenFrame);
        }
        FocusedTextFieldSnapshot input = std::move(*snapshot);
        Result done = co_await operation(std::move(input));
        result = std::move(done);
    } catch (...) {
        error = std::current_exception();
    }
    try {
        co_await accessor->restoreCutTextIfUnreplaced();
    } catch (...) {
        // The text then stays on the clipboard, where the user can still paste it.
    }
    if (const std::optional<FieldStepTimes> steps = accessor->takeStepTimes()) {
        logFieldSteps(*steps, !error);
    }
    if (error) {
        std::rethrow_exception(error);
    }
    Result value = std::move(*result);
    co_return value;
}

// The retry values as the services keep them: never below 0, a delay that is not a number 0.
int sanitizedRetryCount(int count);
double sanitizedRetryDelay(double delay);

// Language detection as the translating services run it: the given recognizer; without one,
// only the script decides.
std::optional<AppLanguage> detectServiceLanguage(const QString& text, const std::set<AppLanguage>& boosted,
                                                 const LanguageRecognizer* recognizer);

// `co_await resumeOnMainThread()` continues on the application's main thread: at once when
// already there, else from its event loop. The services use it on entry and after awaiting
// work that may finish on another thread, before touching the field or calling back.
class MainThreadResumption {
public:
    bool await_ready() const noexcept {
        const auto* app = QCoreApplication::instance();
        return app == nullptr || QThread::currentThread() == app->thread();
    }
    void await_suspend(std::coroutine_handle<> waiting) const {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [waiting] { waiting.resume(); }, Qt::QueuedConnection);
    }
    void await_resume() const noexcept {}
};

inline MainThreadResumption resumeOnMainThread() {
    return {};
}

}  // namespace tavrolin
