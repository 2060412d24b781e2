#include "core/capture_workflow_error.h"

#include "core/error_description.h"
#include "core/linux_wording.h"

#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

using Case = CaptureWorkflowError::Case;

// Every case, the ones with payloads filled as a caller would.
std::vector<CaptureWorkflowError> everyCase() {
    std::vector<CaptureWorkflowError> errors{
        CaptureWorkflowError::noActiveWindowFound("Files"),
        CaptureWorkflowError::windowNotShareable("Files"),
        CaptureWorkflowError::failedToWriteImage("/tmp/shot.png"),
        CaptureWorkflowError::translationSourceLanguageUnsupported("Swedish"),
        CaptureWorkflowError::translationLanguagePairNotInstalled("English", "German"),
        CaptureWorkflowError::translationLanguagePairUnsupported("English", "Thai"),
        CaptureWorkflowError::serverTranslationUnavailable("Hebrew", "English"),
        CaptureWorkflowError::failedToRegisterHotKey("Control+Shift+T"),
        CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+W"),
        CaptureWorkflowError::textExceedsCharacterLimit(6200),
    };
    for (int i = static_cast<int>(Case::captureAlreadyInProgress); i < CaptureWorkflowError::caseCount; ++i) {
        errors.emplace_back(static_cast<Case>(i));
    }
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(errors[i].errorCase()), i);
    }
    return errors;
}

QString lowerSnakeCase(const QString& camel) {
    QString snake;
    for (const QChar ch : camel) {
        if (ch.isUpper()) {
            snake += u'_';
            snake += ch.toLower();
        } else {
            snake += ch;
        }
    }
    return snake;
}

// Words that send a user to places of another desktop.
const QRegularExpression kForeignPlaces(
    QStringLiteral(R"(macOS|\bMac\b|System Settings|ScreenCaptureKit|Privacy & Security)"));

TEST(CaptureWorkflowErrorCodes, FollowTheCaseNamesAndAreUnique) {
    QSet<QString> codes;
    for (const auto& error : everyCase()) {
        const QString code = CaptureWorkflowErrorCode::code(error);
        codes.insert(code);
        if (error.errorCase() == Case::translationRequiresMacOS26) {
            EXPECT_EQ(code, "translation_requires_macos26");
        } else {
            EXPECT_EQ(code, lowerSnakeCase(error.caseName()));
        }
    }
    EXPECT_EQ(codes.size(), CaptureWorkflowError::caseCount);
    EXPECT_EQ(CaptureWorkflowErrorCode::code(CaptureWorkflowError::failedToRegisterHotKey("x")),
              "failed_to_register_hot_key");
}

TEST(CaptureWorkflowErrorCodes, OtherErrorsAreUnknown) {
    const std::runtime_error other("boom");
    EXPECT_EQ(CaptureWorkflowErrorCode::code(other), "unknown_error");
    const std::exception& asBase = CaptureWorkflowError(Case::noTextSelected);
    EXPECT_EQ(CaptureWorkflowErrorCode::code(asBase), "no_text_selected");
    EXPECT_EQ(CaptureWorkflowErrorCode::code(std::make_exception_ptr(42)), "unknown_error");
    EXPECT_EQ(CaptureWorkflowErrorCode::code(std::exception_ptr()), "unknown_error");
    EXPECT_EQ(
        CaptureWorkflowErrorCode::code(std::make_exception_ptr(CaptureWorkflowError::textExceedsCharacterLimit(1))),
        "text_exceeds_character_limit");
}

TEST(CaptureWorkflowErrorTexts, CharacterLimitReadsInFull) {
    const auto error = CaptureWorkflowError::textExceedsCharacterLimit(6200);
    EXPECT_EQ(error.errorDescription(),
              "Tavrolin can translate up to 5000 characters. The selected text (6200 characters) "
              "exceeds this limit. Please select a shorter portion of text and try again.");
    EXPECT_EQ(error.recoverySuggestion(), "Select a smaller portion of text and try again.");
    EXPECT_EQ(
        CaptureWorkflowError::textExceedsCharacterLimit(-3).errorDescription().count(QStringLiteral("(-3 characters)")),
        1);
}

TEST(CaptureWorkflowErrorTexts, PayloadsAreInsertedAsTheyAre) {
    // A payload that looks like a placeholder must not be substituted again.
    const auto pair = CaptureWorkflowError::translationLanguagePairNotInstalled("A%2", "B%1");
    EXPECT_TRUE(pair.errorDescription().startsWith("A%2 to B%1 translation is not installed"));
    EXPECT_EQ(CaptureWorkflowError::noActiveWindowFound("Text Editor").errorDescription(),
              "Could not find an on-screen window for Text Editor.");
    EXPECT_EQ(CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+T").errorDescription(),
              "The global shortcut Control+Shift+T is already in use.");
    EXPECT_EQ(CaptureWorkflowError::translationSourceLanguageUnsupported("Swedish").errorDescription(),
              "Tavrolin detected Swedish, but this source language is not supported yet.");
    EXPECT_EQ(CaptureWorkflowError::failedToWriteImage(QString::fromUtf8("/tmp/снимок.png")).errorDescription(),
              QString::fromUtf8("The screenshot could not be written to /tmp/снимок.png."));
}

TEST(CaptureWorkflowErrorTexts, ServerTranslationUnavailableNamesBothLanguages) {
    const auto error = CaptureWorkflowError::serverTranslationUnavailable("Hebrew", "English");
    EXPECT_EQ(error.errorDescription(), "Tavrolin could not reach the translation server.");
    const auto suggestion = error.recoverySuggestion().value_or(QString());
    EXPECT_TRUE(suggestion.contains("Hebrew")) << suggestion.toStdString();
    EXPECT_TRUE(suggestion.contains("English")) << suggestion.toStdString();
    EXPECT_LT(suggestion.indexOf("Hebrew"), suggestion.indexOf("English"));
}

TEST(CaptureWorkflowErrorTexts, SharedAndMissingSuggestions) {
    auto suggestion = [](Case c) { return CaptureWorkflowError(c).recoverySuggestion(); };
    EXPECT_EQ(suggestion(Case::noFrontmostApplication), suggestion(Case::appIsFrontmost));
    EXPECT_EQ(suggestion(Case::failedToWriteImage), suggestion(Case::failedToEncodeImage));
    for (const auto c : {Case::textEditingRequestFailed, Case::textWritingRequestFailed, Case::textImproveRequestFailed,
                         Case::textPromptRequestFailed}) {
        EXPECT_EQ(suggestion(c), suggestion(Case::textTranslationRequestFailed));
    }
    for (const auto c : {Case::textEditingInvalidResponse, Case::textWritingInvalidResponse,
                         Case::textImproveInvalidResponse, Case::textPromptInvalidResponse}) {
        EXPECT_EQ(suggestion(c), suggestion(Case::textTranslationInvalidResponse));
    }
    EXPECT_NE(suggestion(Case::textTranslationRequestFailed), suggestion(Case::textTranslationInvalidResponse));

    int withoutSuggestion = 0;
    for (const auto& error : everyCase()) {
        if (!error.recoverySuggestion()) {
            ++withoutSuggestion;
            EXPECT_EQ(error.alertText(), error.errorDescription());
        } else {
            EXPECT_EQ(error.alertText(), error.errorDescription() + "\n\n" + *error.recoverySuggestion());
        }
    }
    EXPECT_EQ(withoutSuggestion, 2);
    EXPECT_FALSE(suggestion(Case::captureAlreadyInProgress));
    EXPECT_FALSE(suggestion(Case::noTextSelected));
}

TEST(CaptureWorkflowErrorTexts, EveryTextIsCompleteAndTrueOnLinux) {
    for (const auto& error : everyCase()) {
        SCOPED_TRACE(error.caseName().toStdString());
        const QString message = error.errorDescription();
        const QString suggestion = error.recoverySuggestion().value_or(QString());
        EXPECT_FALSE(message.isEmpty());
        EXPECT_TRUE(message.endsWith(u'.'));
        for (const auto& text : {message, suggestion}) {
            EXPECT_FALSE(text.contains(kForeignPlaces)) << text.toStdString();
            EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("%\\d")))) << text.toStdString();
            EXPECT_FALSE(text.contains(QStringLiteral("  "))) << text.toStdString();
        }
        EXPECT_EQ(QString::fromUtf8(error.what()), message);
    }
    // The application's name joins the following words with one blank.
    EXPECT_EQ(CaptureWorkflowError(Case::textImproveRequestFailed).errorDescription(),
              "Tavrolin could not improve the dictation text on the server.");
    EXPECT_EQ(CaptureWorkflowError(Case::accessibilityPermissionDenied).errorDescription(),
              "Tavrolin needs Accessibility access to read and replace text in other apps.");
}

// Every case's message and suggestion, word for word as written for the original desktop,
// then read through the one rewording table, with the payloads of everyCase() filled in.
TEST(CaptureWorkflowErrorTexts, EveryMessageAndSuggestionWordForWord) {
    struct Row {
        Case errorCase;
        const char* message;                    // %1, %2: the payloads in order
        std::optional<const char*> suggestion;  // likewise
        QStringList payloads;
    };
    const char* const checkConnection = "Check your internet connection or server endpoint, then try again.";
    const char* const tryAfterUpdate = "Try again after the server is updated or restarted.";
    const char* const switchToApp = "Switch to the app you want to capture, then try the shortcut again.";
    const char* const folderWritable = "Make sure the selected screenshots folder is writable and try again.";
    const std::vector<Row> rows = {
        {Case::noActiveWindowFound,
         "Could not find an on-screen window for %1.",
         "Bring the target window onto the screen and try again.",
         {"Files"}},
        {Case::windowNotShareable,
         "The active window from %1 could not be matched to a ScreenCaptureKit window.",
         "Try again with the target window fully visible and focused.",
         {"Files"}},
        {Case::failedToWriteImage, "The screenshot could not be written to %1.", folderWritable, {"/tmp/shot.png"}},
        {Case::translationSourceLanguageUnsupported,
         "Tavrolin detected %1, but this source language is not supported yet.",
         "For now, choose one of the currently supported source languages manually in Settings.",
         {"Swedish"}},
        {Case::translationLanguagePairNotInstalled,
         "%1 to %2 translation is not installed on this Mac yet.",
         "Open macOS Settings > General > Language & Region > Translation Languages, then download the source and "
         "target languages.",
         {"English", "German"}},
        {Case::translationLanguagePairUnsupported,
         "%1 to %2 translation is not supported on this Mac.",
         "Try a different target language pair, or switch to a cloud translation service.",
         {"English", "Thai"}},
        {Case::serverTranslationUnavailable,
         "Tavrolin could not reach the translation server.",
         "Open macOS Settings > General > Language & Region > Translation Languages, download %1 and %2, then try "
         "translating again.",
         {"Hebrew", "English"}},
        {Case::failedToRegisterHotKey,
         "Could not register the global shortcut %1.",
         "Try a different shortcut in code if this one conflicts on your machine.",
         {"Control+Shift+T"}},
        {Case::hotKeyAlreadyInUse,
         "The global shortcut %1 is already in use.",
         "Close the app that owns this shortcut, or change the default shortcut in the project.",
         {"Control+Shift+W"}},
        {Case::textExceedsCharacterLimit,
         "Tavrolin can translate up to 5000 characters. The selected text (%1 characters) exceeds this limit. Please "
         "select a shorter portion of text and try again.",
         "Select a smaller portion of text and try again.",
         {"6200"}},
        {Case::captureAlreadyInProgress, "A capture is already in progress.", std::nullopt, {}},
        {Case::noFrontmostApplication, "macOS did not report a frontmost app to capture.", switchToApp, {}},
        {Case::appIsFrontmost,
         "Tavrolin is frontmost right now, so there is no external window selected.",
         switchToApp,
         {}},
        {Case::noShareableDisplayFound,
         "Could not find a display to capture.",
         "Wake a display, move the pointer onto the screen you want to capture, and try again.",
         {}},
        {Case::screenshotPermissionDenied,
         "Tavrolin needs Screen Recording access before it can capture another app's window.",
         "Open System Settings > Privacy & Security > Screen & System Audio Recording, enable Tavrolin, then try the "
         "capture again.",
         {}},
        {Case::screenshotPermissionRequiresRestart,
         "Screen Recording access was just granted.",
         "Quit and reopen Tavrolin once, then try the capture again.",
         {}},
        {Case::emptyCaptureImage,
         "ScreenCaptureKit returned an empty screenshot.",
         "Try the capture again once the target window is fully visible.",
         {}},
        {Case::failedToEncodeImage, "The screenshot could not be encoded as a PNG image.", folderWritable, {}},
        {Case::failedToRenderTranslatedImage,
         "The translated window could not be rendered.",
         "Try again, or capture a simpler window while we refine the rendering step.",
         {}},
        {Case::translationRequiresMacOS26,
         "Window translation requires macOS 26 or newer.",
         "Update the Mac to macOS 26 or newer to use window translation.",
         {}},
        {Case::accessibilityPermissionDenied,
         "Tavrolin needs Accessibility access to read and replace text in other apps.",
         "Open System Settings > Privacy & Security > Accessibility, enable Tavrolin, then try the shortcut again.",
         {}},
        {Case::noFocusedTextField,
         "Could not find an editable text field in the focused app.",
         "Click into a text field in the target app, then try the shortcut again.",
         {}},
        {Case::focusedTextFieldEmpty,
         "The focused text field is empty.",
         "Type or select the text you want to use, then try the shortcut again.",
         {}},
        {Case::focusedTextFieldReadOnly,
         "The focused text field does not accept changes.",
         "Focus an editable text field, then try again.",
         {}},
        {Case::failedToReplaceFocusedTextFieldText,
         "Tavrolin could not replace the text in the focused field.",
         "Try again with the target text field focused and the clipboard free.",
         {}},
        {Case::noTextSelected, "No text is selected.", std::nullopt, {}},
        {Case::onlineFeaturesDisabled,
         "Online features are disabled in Tavrolin Settings.",
         "Enable online features in Settings to use server-backed translation, text editing, writing, updates, and "
         "usage statistics.",
         {}},
        {Case::textEditingRequestFailed,
         "Tavrolin could not edit the selected text on the server.",
         checkConnection,
         {}},
        {Case::textEditingInvalidResponse, "Tavrolin received an invalid text editing response.", tryAfterUpdate, {}},
        {Case::textWritingRequestFailed, "Tavrolin could not write text using the server.", checkConnection, {}},
        {Case::textWritingInvalidResponse, "Tavrolin received an invalid text writing response.", tryAfterUpdate, {}},
        {Case::textImproveRequestFailed,
         "Tavrolin could not improve the dictation text on the server.",
         checkConnection,
         {}},
        {Case::textImproveInvalidResponse,
         "Tavrolin received an invalid text improvement response.",
         tryAfterUpdate,
         {}},
        {Case::textPromptRequestFailed, "Tavrolin could not create an AI prompt on the server.", checkConnection, {}},
        {Case::textPromptInvalidResponse, "Tavrolin received an invalid prompt response.", tryAfterUpdate, {}},
        {Case::textTranslationRequestFailed,
         "Tavrolin could not translate text using the server.",
         checkConnection,
         {}},
        {Case::textTranslationInvalidResponse,
         "Tavrolin received an invalid text translation response.",
         tryAfterUpdate,
         {}},
    };
    const auto fill = [](QString text, const QStringList& payloads) {
        for (const QString& payload : payloads) {
            text = text.arg(payload);
        }
        return text;
    };
    const std::vector<CaptureWorkflowError> errors = everyCase();
    ASSERT_EQ(rows.size(), errors.size());
    ASSERT_EQ(errors.size(), 37u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const CaptureWorkflowError& error = errors[i];
        SCOPED_TRACE(error.caseName().toStdString());
        ASSERT_EQ(error.errorCase(), row.errorCase);
        EXPECT_EQ(error.errorDescription(), fill(linuxWording(std::string_view(row.message)), row.payloads));
        if (row.suggestion) {
            EXPECT_EQ(error.recoverySuggestion(), fill(linuxWording(std::string_view(*row.suggestion)), row.payloads));
        } else {
            EXPECT_EQ(error.recoverySuggestion(), std::nullopt);
        }
    }
}

TEST(CaptureWorkflowErrorTexts, ThrownAndCaughtAsStandardException) {
    try {
        throw CaptureWorkflowError::windowNotShareable("Files");
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(),
                     "The active window from Files could not be matched to a window on the X11 "
                     "display.");
    }
}

TEST(CaptureWorkflowErrorLogForm, CaseNameWithLabelledPayload) {
    EXPECT_EQ(CaptureWorkflowError::textExceedsCharacterLimit(6200).logDescription(),
              "textExceedsCharacterLimit(currentLength: 6200)");
    EXPECT_EQ(CaptureWorkflowError(Case::noTextSelected).logDescription(), "noTextSelected");
    EXPECT_EQ(CaptureWorkflowError::noActiveWindowFound("Mail").logDescription(),
              R"(noActiveWindowFound(applicationName: "Mail"))");
    EXPECT_EQ(CaptureWorkflowError::serverTranslationUnavailable("Hebrew", "English").logDescription(),
              R"(serverTranslationUnavailable(sourceLanguage: "Hebrew", targetLanguage: "English"))");
    EXPECT_EQ(CaptureWorkflowError::failedToWriteImage("/tmp/a.png").logDescription(),
              R"(failedToWriteImage(path: "/tmp/a.png"))");
    EXPECT_EQ(CaptureWorkflowError::failedToRegisterHotKey("Control+Shift+T").logDescription(),
              R"(failedToRegisterHotKey(description: "Control+Shift+T"))");
    EXPECT_EQ(CaptureWorkflowError::translationSourceLanguageUnsupported("Swedish").logDescription(),
              R"(translationSourceLanguageUnsupported(languageName: "Swedish"))");
}

TEST(CaptureWorkflowErrorLogForm, LogLinesNameTheTypeAndTheCase) {
    const auto error = CaptureWorkflowError::textExceedsCharacterLimit(6200);
    EXPECT_EQ(errorTypeName(error), "Tavrolin.CaptureWorkflowError");
    EXPECT_EQ(errorDescription(error), "textExceedsCharacterLimit(currentLength: 6200)");
    EXPECT_EQ(errorDescription(std::make_exception_ptr(error)), "textExceedsCharacterLimit(currentLength: 6200)");
}

TEST(CaptureWorkflowErrorLogForm, PayloadCannotBreakTheLine) {
    const QString nasty = QStringLiteral("a\"b\\c\nd\te") + QChar(0) + QChar(0x1b) + u'Ω';
    const QString form = CaptureWorkflowError::noActiveWindowFound(nasty).logDescription();
    EXPECT_EQ(form, QStringLiteral(R"(noActiveWindowFound(applicationName: "a\"b\\c\nd\te\0\u{1b})") + u'Ω' +
                        QStringLiteral("\")"));
    EXPECT_FALSE(form.contains(u'\n'));
}

TEST(CaptureWorkflowErrorValue, EqualityComparesCaseAndPayload) {
    EXPECT_EQ(CaptureWorkflowError::hotKeyAlreadyInUse("A"), CaptureWorkflowError::hotKeyAlreadyInUse("A"));
    EXPECT_FALSE(CaptureWorkflowError::hotKeyAlreadyInUse("A") == CaptureWorkflowError::hotKeyAlreadyInUse("B"));
    EXPECT_FALSE(CaptureWorkflowError::hotKeyAlreadyInUse("A") == CaptureWorkflowError::failedToRegisterHotKey("A"));
    const auto pair = CaptureWorkflowError::translationLanguagePairUnsupported("Thai", "Dutch");
    EXPECT_EQ(pair.sourceLanguage(), "Thai");
    EXPECT_EQ(pair.targetLanguage(), "Dutch");
    EXPECT_EQ(pair.applicationName(), QString());
}

TEST(LinuxWordingTable, RowsAreConsistent) {
    QSet<QString> originals;
    for (const auto& row : linuxRewordings()) {
        const QString original = QString::fromUtf8(row.original.data(), qsizetype(row.original.size()));
        const QString replacement = QString::fromUtf8(row.replacement.data(), qsizetype(row.replacement.size()));
        SCOPED_TRACE(original.toStdString());
        EXPECT_FALSE(originals.contains(original)) << "duplicate row";
        originals.insert(original);
        EXPECT_NE(original, replacement);
        EXPECT_FALSE(replacement.contains(kForeignPlaces));
        // The same placeholders, so .arg() fills both alike.
        const QRegularExpression placeholder(QStringLiteral("%\\d"));
        QStringList a, b;
        for (auto it = placeholder.globalMatch(original); it.hasNext();)
            a << it.next().captured();
        for (auto it = placeholder.globalMatch(replacement); it.hasNext();)
            b << it.next().captured();
        EXPECT_EQ(a, b);
        EXPECT_EQ(linuxWording(original), replacement);
    }
    EXPECT_EQ(linuxWording(u"Nothing to reword."), "Nothing to reword.");
    EXPECT_EQ(linuxWording("on this Mac"), "on this Mac");  // only whole texts are reworded
}

}  // namespace
}  // namespace tavrolin
