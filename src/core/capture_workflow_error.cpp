#include "core/capture_workflow_error.h"

#include "core/linux_wording.h"

#include <array>
#include <string_view>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

enum class Payload : std::uint8_t {
    none,
    applicationName,
    path,
    languageName,
    languagePair,  // sourceLanguage, targetLanguage
    description,
    currentLength,
};

struct ErrorRow {
    Case errorCase;
    std::string_view name;
    std::string_view code;
    Payload payload;
    // %1 (and %2) stand for the payload. Texts that name places of another desktop are written
    // as they stand and reworded through the Linux wording table.
    std::string_view message;
    std::string_view suggestion;  // empty: no suggestion
};

constexpr std::string_view kRequestFailedSuggestion =
    "Check your internet connection or server endpoint, then try again.";
constexpr std::string_view kInvalidResponseSuggestion = "Try again after the server is updated or restarted.";
constexpr std::string_view kSecureConnectionFailedSuggestion =
    "A secure connection to the server could not be made. Check the server endpoint and its certificate, then try "
    "again.";
constexpr std::string_view kCertificateUntrustedSuggestion =
    "The server's certificate is not trusted. Check the server endpoint and its certificate, then try again.";
constexpr std::string_view kSwitchAppSuggestion = "Switch to the app you want to capture, then try the shortcut again.";
constexpr std::string_view kWritableFolderSuggestion =
    "Make sure the selected screenshots folder is writable and try again.";

constexpr std::array<ErrorRow, CaptureWorkflowError::caseCount> kErrors{{
    {Case::noActiveWindowFound, "noActiveWindowFound", "no_active_window_found", Payload::applicationName,
     "Could not find an on-screen window for %1.", "Bring the target window onto the screen and try again."},
    {Case::windowNotShareable, "windowNotShareable", "window_not_shareable", Payload::applicationName,
     "The active window from %1 could not be matched to a ScreenCaptureKit window.",
     "Try again with the target window fully visible and focused."},
    {Case::failedToWriteImage, "failedToWriteImage", "failed_to_write_image", Payload::path,
     "The screenshot could not be written to %1.", kWritableFolderSuggestion},
    {Case::translationSourceLanguageUnsupported, "translationSourceLanguageUnsupported",
     "translation_source_language_unsupported", Payload::languageName,
     "Tavrolin detected %1, but this source language is not supported yet.",
     "For now, choose one of the currently supported source languages manually in Settings."},
    {Case::translationLanguagePairNotInstalled, "translationLanguagePairNotInstalled",
     "translation_language_pair_not_installed", Payload::languagePair,
     "%1 to %2 translation is not installed on this Mac yet.",
     "Open macOS Settings > General > Language & Region > Translation Languages, then download "
     "the source and target languages."},
    {Case::translationLanguagePairUnsupported, "translationLanguagePairUnsupported",
     "translation_language_pair_unsupported", Payload::languagePair,
     "%1 to %2 translation is not supported on this Mac.",
     "Try a different target language pair, or switch to a cloud translation service."},
    {Case::serverTranslationUnavailable, "serverTranslationUnavailable", "server_translation_unavailable",
     Payload::languagePair, "Tavrolin could not reach the translation server.",
     "Open macOS Settings > General > Language & Region > Translation Languages, download %1 and "
     "%2, then try translating again."},
    {Case::failedToRegisterHotKey, "failedToRegisterHotKey", "failed_to_register_hot_key", Payload::description,
     "Could not register the global shortcut %1.",
     "Try a different shortcut in code if this one conflicts on your machine."},
    {Case::hotKeyAlreadyInUse, "hotKeyAlreadyInUse", "hot_key_already_in_use", Payload::description,
     "The global shortcut %1 is already in use.",
     "Close the app that owns this shortcut, or change the default shortcut in the project."},
    {Case::textExceedsCharacterLimit, "textExceedsCharacterLimit", "text_exceeds_character_limit",
     Payload::currentLength,
     "Tavrolin can translate up to 5000 characters. The selected text (%1 characters) exceeds "
     "this limit. Please select a shorter portion of text and try again.",
     "Select a smaller portion of text and try again."},
    {Case::captureAlreadyInProgress, "captureAlreadyInProgress", "capture_already_in_progress", Payload::none,
     "A capture is already in progress.", ""},
    {Case::noFrontmostApplication, "noFrontmostApplication", "no_frontmost_application", Payload::none,
     "macOS did not report a frontmost app to capture.", kSwitchAppSuggestion},
    {Case::appIsFrontmost, "appIsFrontmost", "app_is_frontmost", Payload::none,
     "Tavrolin is frontmost right now, so there is no external window selected.", kSwitchAppSuggestion},
    {Case::noShareableDisplayFound, "noShareableDisplayFound", "no_shareable_display_found", Payload::none,
     "Could not find a display to capture.",
     "Wake a display, move the pointer onto the screen you want to capture, and try again."},
    {Case::screenshotPermissionDenied, "screenshotPermissionDenied", "screenshot_permission_denied", Payload::none,
     "Tavrolin needs Screen Recording access before it can capture another app's window.",
     "Open System Settings > Privacy & Security > Screen & System Audio Recording, enable "
     "Tavrolin, then try the capture again."},
    {Case::screenshotPermissionRequiresRestart, "screenshotPermissionRequiresRestart",
     "screenshot_permission_requires_restart", Payload::none, "Screen Recording access was just granted.",
     "Quit and reopen Tavrolin once, then try the capture again."},
    {Case::emptyCaptureImage, "emptyCaptureImage", "empty_capture_image", Payload::none,
     "ScreenCaptureKit returned an empty screenshot.",
     "Try the capture again once the target window is fully visible."},
    {Case::failedToEncodeImage, "failedToEncodeImage", "failed_to_encode_image", Payload::none,
     "The screenshot could not be encoded as a PNG image.", kWritableFolderSuggestion},
    {Case::failedToRenderTranslatedImage, "failedToRenderTranslatedImage", "failed_to_render_translated_image",
     Payload::none, "The translated window could not be rendered.",
     "Try again, or capture a simpler window while we refine the rendering step."},
    {Case::translationRequiresMacOS26, "translationRequiresMacOS26", "translation_requires_macos26", Payload::none,
     "Window translation requires macOS 26 or newer.",
     "Update the Mac to macOS 26 or newer to use window translation."},
    {Case::accessibilityPermissionDenied, "accessibilityPermissionDenied", "accessibility_permission_denied",
     Payload::none, "Tavrolin needs Accessibility access to read and replace text in other apps.",
     "Open System Settings > Privacy & Security > Accessibility, enable Tavrolin, then try the "
     "shortcut again."},
    {Case::noFocusedTextField, "noFocusedTextField", "no_focused_text_field", Payload::none,
     "Could not find an editable text field in the focused app.",
     "Click into a text field in the target app, then try the shortcut again."},
    {Case::focusedTextFieldEmpty, "focusedTextFieldEmpty", "focused_text_field_empty", Payload::none,
     "The focused text field is empty.", "Type or select the text you want to use, then try the shortcut again."},
    {Case::focusedTextFieldReadOnly, "focusedTextFieldReadOnly", "focused_text_field_read_only", Payload::none,
     "The focused text field does not accept changes.", "Focus an editable text field, then try again."},
    {Case::failedToReplaceFocusedTextFieldText, "failedToReplaceFocusedTextFieldText",
     "failed_to_replace_focused_text_field_text", Payload::none,
     "Tavrolin could not replace the text in the focused field.",
     "Try again with the target text field focused and the clipboard free."},
    {Case::noTextSelected, "noTextSelected", "no_text_selected", Payload::none, "No text is selected.", ""},
    {Case::onlineFeaturesDisabled, "onlineFeaturesDisabled", "online_features_disabled", Payload::none,
     "Online features are disabled in Tavrolin Settings.",
     "Enable online features in Settings to use server-backed translation, text editing, "
     "writing, updates, and usage statistics."},
    {Case::textEditingRequestFailed, "textEditingRequestFailed", "text_editing_request_failed", Payload::none,
     "Tavrolin could not edit the selected text on the server.", kRequestFailedSuggestion},
    {Case::textEditingInvalidResponse, "textEditingInvalidResponse", "text_editing_invalid_response", Payload::none,
     "Tavrolin received an invalid text editing response.", kInvalidResponseSuggestion},
    {Case::textWritingRequestFailed, "textWritingRequestFailed", "text_writing_request_failed", Payload::none,
     "Tavrolin could not write text using the server.", kRequestFailedSuggestion},
    {Case::textWritingInvalidResponse, "textWritingInvalidResponse", "text_writing_invalid_response", Payload::none,
     "Tavrolin received an invalid text writing response.", kInvalidResponseSuggestion},
    {Case::textImproveRequestFailed, "textImproveRequestFailed", "text_improve_request_failed", Payload::none,
     "Tavrolin could not improve the dictation text on the server.", kRequestFailedSuggestion},
    {Case::textImproveInvalidResponse, "textImproveInvalidResponse", "text_improve_invalid_response", Payload::none,
     "Tavrolin received an invalid text improvement response.", kInvalidResponseSuggestion},
    {Case::textPromptRequestFailed, "textPromptRequestFailed", "text_prompt_request_failed", Payload::none,
     "Tavrolin could not create an AI prompt on the server.", kRequestFailedSuggestion},
    {Case::textPromptInvalidResponse, "textPromptInvalidResponse", "text_prompt_invalid_response", Payload::none,
     "Tavrolin received an invalid prompt response.", kInvalidResponseSuggestion},
    {Case::textTranslationRequestFailed, "textTranslationRequestFailed", "text_translation_request_failed",
     Payload::none, "Tavrolin could not translate text using the server.", kRequestFailedSuggestion},
    {Case::textTranslationInvalidResponse, "textTranslationInvalidResponse", "text_translation_invalid_response",
     Payload::none, "Tavrolin received an invalid text translation response.", kInvalidResponseSuggestion},
}};

constexpr bool rowsFollowDeclarationOrder() {
    for (std::size_t i = 0; i < kErrors.size(); ++i) {
        if (static_cast<std::size_t>(kErrors[i].errorCase) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsFollowDeclarationOrder(), "the error table must follow the enum order");

const ErrorRow& row(Case errorCase) {
    return kErrors.at(static_cast<std::size_t>(errorCase));
}

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Swift-like string literal: quotes, backslashes and control characters escaped, so a log line
// stays one line whatever the payload holds.
QString quoted(const QString& text) {
    QString result;
    result.reserve(text.size() + 2);
    result += u'"';
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case u'"':
            result += QStringLiteral("\\\"");
            break;
        case u'\\':
            result += QStringLiteral("\\\\");
            break;
        case u'\n':
            result += QStringLiteral("\\n");
            break;
        case u'\r':
            result += QStringLiteral("\\r");
            break;
        case u'\t':
            result += QStringLiteral("\\t");
            break;
        case 0:
            result += QStringLiteral("\\0");
            break;
        default:
            if (ch.unicode() < 0x20 || ch.unicode() == 0x7f) {
                result += QStringLiteral("\\u{%1}").arg(ch.unicode(), 0, 16);
            } else {
                result += ch;
            }
        }
    }
    result += u'"';
    return result;
}

}  // namespace

CaptureWorkflowError::CaptureWorkflowError(Case errorCase) : CaptureWorkflowError(errorCase, QString(), QString(), 0) {}

CaptureWorkflowError::CaptureWorkflowError(Case errorCase, QString first, QString second, qint64 currentLength)
    : case_(errorCase), first_(std::move(first)), second_(std::move(second)), currentLength_(currentLength) {
    what_ = errorDescription().toStdString();
}

CaptureWorkflowError CaptureWorkflowError::noActiveWindowFound(const QString& applicationName) {
    return {Case::noActiveWindowFound, applicationName, {}, 0};
}
CaptureWorkflowError CaptureWorkflowError::windowNotShareable(const QString& applicationName) {
    return {Case::windowNotShareable, applicationName, {}, 0};
}
CaptureWorkflowError CaptureWorkflowError::failedToWriteImage(const QString& path) {
    return {Case::failedToWriteImage, path, {}, 0};
}
CaptureWorkflowError CaptureWorkflowError::translationSourceLanguageUnsupported(const QString& languageName) {
    return {Case::translationSourceLanguageUnsupported, languageName, {}, 0};
}
CaptureWorkflowError CaptureWorkflowError::translationLanguagePairNotInstalled(const QString& sourceLanguage,
                                                                               const QString& targetLanguage) {
    return {Case::translationLanguagePairNotInstalled, sourceLanguage, targetLanguage, 0};
}
CaptureWorkflowError CaptureWorkflowError::translationLanguagePairUnsupported(const QString& sourceLanguage,
                                                                              const QString& targetLanguage) {
    return {Case::translationLanguagePairUnsupported, sourceLanguage, targetLanguage, 0};
}
CaptureWorkflowError CaptureWorkflowError::serverTranslationUnavailable(const QString& sourceLanguage,
                                                                        const QString& targetLanguage) {
    return {Case::serverTranslationUnavailable, sourceLanguage, targetLanguage, 0};
}
CaptureWorkflowError CaptureWorkflowError::failedToRegisterHotKey(const QString& description) {
    return {Case::failedToRegisterHotKey, description, {}, 0};
}
CaptureWorkflowError CaptureWorkflowError::hotKeyAlreadyInUse(const QString& description) {
    return {Case::hotKeyAlreadyInUse, description, {}, 0};
}
CaptureWorkflowError CaptureWorkflowError::textExceedsCharacterLimit(qint64 currentLength) {
    return {Case::textExceedsCharacterLimit, {}, {}, currentLength};
}

namespace {

// Fills the payload into a text; texts without placeholders are returned as they are.
QString fill(const QString& text, const ErrorRow& entry, const QString& first, const QString& second,
             qint64 currentLength) {
    if (!text.contains(QLatin1StringView("%1"))) {
        return text;
    }
    switch (entry.payload) {
    case Payload::none:
        return text;
    case Payload::currentLength:
        return text.arg(currentLength);
    case Payload::languagePair:
        return text.arg(first, second);  // one pass: payloads stay as they are
    default:
        return text.arg(first);
    }
}

}  // namespace

QString CaptureWorkflowError::errorDescription() const {
    const auto& entry = row(case_);
    return fill(linuxWording(entry.message), entry, first_, second_, currentLength_);
}

namespace {

bool isRequestFailedCase(Case errorCase) {
    switch (errorCase) {
    case Case::textEditingRequestFailed:
    case Case::textWritingRequestFailed:
    case Case::textImproveRequestFailed:
    case Case::textPromptRequestFailed:
    case Case::textTranslationRequestFailed:
        return true;
    default:
        return false;
    }
}

}  // namespace

CaptureWorkflowError CaptureWorkflowError::withSecureConnectionFailure(SecureConnectionFailure failure) const {
    CaptureWorkflowError error = *this;
    error.secureConnection_ = isRequestFailedCase(case_) ? failure : SecureConnectionFailure::none;
    return error;
}

std::optional<QString> CaptureWorkflowError::recoverySuggestion() const {
    const auto& entry = row(case_);
    if (secureConnection_ == SecureConnectionFailure::failed) {
        return latin1(kSecureConnectionFailedSuggestion);
    }
    if (secureConnection_ == SecureConnectionFailure::certificateUntrusted) {
        return latin1(kCertificateUntrustedSuggestion);
    }
    if (entry.suggestion.empty()) {
        return std::nullopt;
    }
    return fill(linuxWording(entry.suggestion), entry, first_, second_, currentLength_);
}

QString CaptureWorkflowError::alertText() const {
    const auto suggestion = recoverySuggestion();
    return suggestion ? errorDescription() + QStringLiteral("\n\n") + *suggestion : errorDescription();
}

QString CaptureWorkflowError::caseName() const {
    return latin1(row(case_).name);
}

QString CaptureWorkflowError::logDescription() const {
    const auto& entry = row(case_);
    const QString name = latin1(entry.name);
    switch (entry.payload) {
    case Payload::none:
        return name;
    case Payload::applicationName:
        return name + QStringLiteral("(applicationName: ") + quoted(first_) + u')';
    case Payload::path:
        return name + QStringLiteral("(path: ") + quoted(first_) + u')';
    case Payload::languageName:
        return name + QStringLiteral("(languageName: ") + quoted(first_) + u')';
    case Payload::description:
        return name + QStringLiteral("(description: ") + quoted(first_) + u')';
    case Payload::languagePair:
        return name + QStringLiteral("(sourceLanguage: ") + quoted(first_) + QStringLiteral(", targetLanguage: ") +
               quoted(second_) + u')';
    case Payload::currentLength:
        return name + QStringLiteral("(currentLength: ") + QString::number(currentLength_) + u')';
    }
    return name;
}

QString CaptureWorkflowError::applicationName() const {
    return row(case_).payload == Payload::applicationName ? first_ : QString();
}
QString CaptureWorkflowError::path() const {
    return row(case_).payload == Payload::path ? first_ : QString();
}
QString CaptureWorkflowError::languageName() const {
    return row(case_).payload == Payload::languageName ? first_ : QString();
}
QString CaptureWorkflowError::sourceLanguage() const {
    return row(case_).payload == Payload::languagePair ? first_ : QString();
}
QString CaptureWorkflowError::targetLanguage() const {
    return row(case_).payload == Payload::languagePair ? second_ : QString();
}
QString CaptureWorkflowError::description() const {
    return row(case_).payload == Payload::description ? first_ : QString();
}

QString CaptureWorkflowErrorCode::code(const CaptureWorkflowError& error) {
    return latin1(row(error.errorCase()).code);
}

QString CaptureWorkflowErrorCode::code(const std::exception& error) {
    if (const auto* workflowError = dynamic_cast<const CaptureWorkflowError*>(&error)) {
        return code(*workflowError);
    }
    return QString::fromLatin1(unknownError);
}

QString CaptureWorkflowErrorCode::code(const std::exception_ptr& error) {
    if (!error) {
        return QString::fromLatin1(unknownError);
    }
    try {
        std::rethrow_exception(error);
    } catch (const CaptureWorkflowError& workflowError) {
        return code(workflowError);
    } catch (...) {
        return QString::fromLatin1(unknownError);
    }
}

}  // namespace tavrolin
