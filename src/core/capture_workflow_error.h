#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace tavrolin {

// The one user-facing error of every workflow. Each case has a fixed English message, an
// optional recovery suggestion and a fixed snake_case code (CaptureWorkflowErrorCode) that goes
// into log lines and usage events. what() is the message in UTF-8.
class CaptureWorkflowError final : public std::exception {
public:
    enum class Case : std::uint8_t {
        // with payloads
        noActiveWindowFound,                   // applicationName
        windowNotShareable,                    // applicationName
        failedToWriteImage,                    // path
        translationSourceLanguageUnsupported,  // languageName
        translationLanguagePairNotInstalled,   // sourceLanguage, targetLanguage
        translationLanguagePairUnsupported,    // sourceLanguage, targetLanguage
        serverTranslationUnavailable,          // sourceLanguage, targetLanguage
        failedToRegisterHotKey,                // description
        hotKeyAlreadyInUse,                    // description
        textExceedsCharacterLimit,             // currentLength
        // without payload
        captureAlreadyInProgress,
        noFrontmostApplication,
        appIsFrontmost,
        noShareableDisplayFound,
        screenshotPermissionDenied,
        screenshotPermissionRequiresRestart,
        emptyCaptureImage,
        failedToEncodeImage,
        failedToRenderTranslatedImage,
        translationRequiresMacOS26,
        accessibilityPermissionDenied,
        noFocusedTextField,
        focusedTextFieldEmpty,
        focusedTextFieldReadOnly,
        failedToReplaceFocusedTextFieldText,
        noTextSelected,
        onlineFeaturesDisabled,
        textEditingRequestFailed,
        textEditingInvalidResponse,
        textWritingRequestFailed,
        textWritingInvalidResponse,
        textImproveRequestFailed,
        textImproveInvalidResponse,
        textPromptRequestFailed,
        textPromptInvalidResponse,
        textTranslationRequestFailed,
        textTranslationInvalidResponse,
    };
    static constexpr int caseCount = 37;

    // The most characters a translated selection may have (textExceedsCharacterLimit).
    static constexpr int characterLimit = 5000;

    // Cases with payloads. Language names are display names; shortcut descriptions are
    // HotKeyShortcut display names.
    static CaptureWorkflowError noActiveWindowFound(const QString& applicationName);
    static CaptureWorkflowError windowNotShareable(const QString& applicationName);
    static CaptureWorkflowError failedToWriteImage(const QString& path);
    static CaptureWorkflowError translationSourceLanguageUnsupported(const QString& languageName);
    static CaptureWorkflowError translationLanguagePairNotInstalled(const QString& sourceLanguage,
                                                                    const QString& targetLanguage);
    static CaptureWorkflowError translationLanguagePairUnsupported(const QString& sourceLanguage,
                                                                   const QString& targetLanguage);
    static CaptureWorkflowError serverTranslationUnavailable(const QString& sourceLanguage,
                                                             const QString& targetLanguage);
    static CaptureWorkflowError failedToRegisterHotKey(const QString& description);
    static CaptureWorkflowError hotKeyAlreadyInUse(const QString& description);
    static CaptureWorkflowError textExceedsCharacterLimit(qint64 currentLength);

    // Any case without payload; a case with payload gets empty strings / 0 (tests use this to
    // walk every case).
    explicit CaptureWorkflowError(Case errorCase);

    // Why a server request failed below HTTP, where the user can do something other than check
    // the connection: the secure connection could not be made, or the server's certificate is
    // not trusted. It changes the recovery suggestion of the request-failed cases, never their
    // message or code.
    enum class SecureConnectionFailure : std::uint8_t { none, failed, certificateUntrusted };
    CaptureWorkflowError withSecureConnectionFailure(SecureConnectionFailure failure) const;
    SecureConnectionFailure secureConnectionFailure() const { return secureConnection_; }

    Case errorCase() const { return case_; }

    // The message of the case, assembled with its payload.
    QString errorDescription() const;
    // The suggestion of the case; none for captureAlreadyInProgress and noTextSelected.
    std::optional<QString> recoverySuggestion() const;
    // The alert text: the message, and after a blank line the suggestion when there is one.
    QString alertText() const;

    // The form log lines use: the case name with its labelled payload, strings in double
    // quotes (escaped), e.g. textExceedsCharacterLimit(currentLength: 6200). Not for users.
    QString logDescription() const;
    // The case name alone ("textExceedsCharacterLimit").
    QString caseName() const;

    // Payload fields; empty (or 0) for cases that do not carry them.
    QString applicationName() const;
    QString path() const;
    QString languageName() const;
    QString sourceLanguage() const;
    QString targetLanguage() const;
    QString description() const;
    qint64 currentLength() const { return currentLength_; }

    const char* what() const noexcept override { return what_.c_str(); }

    bool operator==(const CaptureWorkflowError& other) const {
        return case_ == other.case_ && first_ == other.first_ && second_ == other.second_ &&
               currentLength_ == other.currentLength_ && secureConnection_ == other.secureConnection_;
    }

private:
    CaptureWorkflowError(Case errorCase, QString first, QString second, qint64 currentLength);

    Case case_;
    QString first_;   // the first string payload
    QString second_;  // the second string payload (targetLanguage)
    qint64 currentLength_ = 0;
    SecureConnectionFailure secureConnection_ = SecureConnectionFailure::none;
    std::string what_;
};

// The snake_case codes of log lines and usage events.
struct CaptureWorkflowErrorCode {
    CaptureWorkflowErrorCode() = delete;

    static QString code(const CaptureWorkflowError& error);
    // The code of a CaptureWorkflowError, or "unknown_error" for an error of any other type.
    static QString code(const std::exception& error);
    static QString code(const std::exception_ptr& error);

    static inline const char* const unknownError = "unknown_error";
};

}  // namespace tavrolin
