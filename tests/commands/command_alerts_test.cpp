// How each command ends when it fails, seen through a fake host: which alert (or nothing) each
// error case leaves, by command.
#include "commands/create_prompt_command.h"
#include "commands/flip_language_command.h"
#include "commands/message_translation_command.h"
#include "commands/selection_translation_command.h"
#include "commands/text_editing_command.h"
#include "commands/text_writing_command.h"
#include "support/fakes/fake_command_host.h"
#include "support/fakes/memory_log_sink.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace tavrolin;
using Case = CaptureWorkflowError::Case;

namespace {

// The commands over one host, without services: a failure's alert needs none.
struct Commands {
    explicit Commands(CommandHost& host)
        : write(host, [] { return std::shared_ptr<MessageTranslationService>(); }),
          rewrite(host, [] { return std::shared_ptr<TextWritingService>(); }),
          edit(host, [] { return std::shared_ptr<TextEditingService>(); }),
          flip(host, [] { return std::shared_ptr<FlipLanguageService>(); }),
          prompt(host, [] { return std::shared_ptr<TextPromptingService>(); }),
          selection(
              host, [] { return std::shared_ptr<FocusedTextFieldAccessing>(); },
              [] { return std::shared_ptr<SelectionTranslationService>(); },
              []() -> SelectionTranslationPopupPresenter* { return nullptr; }) {}
    MessageTranslationCommand write;
    TextWritingCommand rewrite;
    TextEditingCommand edit;
    FlipLanguageCommand flip;
    CreatePromptCommand prompt;
    SelectionTranslationCommand selection;
};

}  // namespace

TEST(FocusedFieldCommands, EveryErrorCaseTakesItsCommandsRow) {
    // Expected alert title per command: Write, Rewrite, Edit, Flip, Create Prompt ("" = none).
    const struct {
        CaptureWorkflowError error;
        const char* titles[5];
    } rows[] = {
        {CaptureWorkflowError::translationSourceLanguageUnsupported("Klingon"),
         {"Language Not Supported Yet", "Rewrite Message failed", "Edit Message failed", "Language Not Supported Yet",
          "Create Prompt failed"}},
        {CaptureWorkflowError::translationLanguagePairNotInstalled("English", "Spanish"),
         {"Install Translation Languages", "Rewrite Message failed", "Edit Message failed",
          "Install Translation Languages", "Create Prompt failed"}},
        {CaptureWorkflowError::serverTranslationUnavailable("English", "Spanish"),
         {"Server Translation Unavailable", "Rewrite Message failed", "Edit Message failed",
          "Server Translation Unavailable", "Create Prompt failed"}},
        {CaptureWorkflowError::textExceedsCharacterLimit(6000),
         {"Text Too Long", "Rewrite Message failed", "Edit Message failed", "Text Too Long", "Text Too Long"}},
        {CaptureWorkflowError(Case::screenshotPermissionDenied),
         {"Write Message failed", "Finish Screen Recording Setup", "Edit Message failed", "Flip Language failed",
          "Create Prompt failed"}},
        {CaptureWorkflowError(Case::screenshotPermissionRequiresRestart),
         {"Write Message failed", "Restart Tavrolin Once", "Edit Message failed", "Flip Language failed",
          "Create Prompt failed"}},
        {CaptureWorkflowError(Case::accessibilityPermissionDenied),
         {"Enable Accessibility Access", "Enable Accessibility Access", "Enable Accessibility Access",
          "Enable Accessibility Access", "Enable Accessibility Access"}},
        {CaptureWorkflowError(Case::noFocusedTextField), {"", "", "", "", ""}},
        {CaptureWorkflowError(Case::focusedTextFieldEmpty),
         {"Cannot Write Message", "Cannot Rewrite Message", "Cannot Edit Message", "Cannot Flip Language",
          "Cannot Create Prompt"}},
        {CaptureWorkflowError(Case::focusedTextFieldReadOnly),
         {"Cannot Write Message", "Cannot Rewrite Message", "Cannot Edit Message", "Cannot Flip Language",
          "Cannot Create Prompt"}},
        {CaptureWorkflowError(Case::onlineFeaturesDisabled),
         {"Online Features Disabled", "Online Features Disabled", "Online Features Disabled", "Flip Language failed",
          "Online Features Disabled"}},
        {CaptureWorkflowError::translationLanguagePairUnsupported("English", "Klingon"),
         {"Write Message failed", "Rewrite Message failed", "Edit Message failed", "Flip Language failed",
          "Create Prompt failed"}},
        {CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText),
         {"Write Message failed", "Rewrite Message failed", "Edit Message failed", "Flip Language failed",
          "Create Prompt failed"}},
    };
    test::FakeCommandHost host;
    Commands c(host);
    FocusedFieldCommand* const commands[5] = {&c.write, &c.rewrite, &c.edit, &c.flip, &c.prompt};
    const char* const names[5] = {"Write Message", "Rewrite Message", "Edit Message", "Flip Language", "Create Prompt"};
    for (const auto& row : rows) {
        for (int i = 0; i < 5; ++i) {
            host.presenter.shown.clear();
            commands[i]->handleError(row.error);
            const QString expected = QString::fromUtf8(row.titles[i]);
            SCOPED_TRACE(row.error.caseName().toStdString() + " " + names[i]);
            if (expected.isEmpty()) {
                EXPECT_TRUE(host.presenter.shown.empty());
                continue;
            }
            ASSERT_EQ(host.presenter.shown.size(), 1u);
            EXPECT_EQ(host.presenter.shown[0].title, expected);
            if (expected.startsWith("Cannot ") || expected.endsWith(" failed") || expected == "Text Too Long" ||
                expected == "Language Not Supported Yet") {
                EXPECT_EQ(host.presenter.shown[0].message, commandErrorMessage(row.error));
            }
            if (expected == "Finish Screen Recording Setup") {
                // Rewrite Message names its own shortcut.
                EXPECT_TRUE(host.presenter.shown[0].message.contains(
                    host.settingsStore().settings().writeTextShortcut.displayName()));
            }
        }
    }
}

TEST(FocusedFieldCommands, FailureRetriesStartAgainFromTheAlertOnceTheRunHasEnded) {
    test::ScopedLogCapture lines;
    test::FakeCommandHost host;
    Commands c(host);
    const auto starts = [&] { return lines.messages(LogCategory::app).filter("workflow start"); };
    host.presenter.answers = {QStringLiteral("Try Again")};
    c.flip.handleError(CaptureWorkflowError::translationLanguagePairNotInstalled("English", "Spanish"));
    // Not from inside the alert: the run that showed it still holds its flag there.
    EXPECT_TRUE(starts().isEmpty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(starts().value(0).contains("action=flip_language trigger=alert"));

    host.presenter.answers = {QStringLiteral("Turn On Online Features")};
    AppSettings offline = host.settingsStore().settings();
    offline.onlineFeaturesEnabled = false;
    host.settings.setSettings(offline);
    c.write.handleError(CaptureWorkflowError(Case::onlineFeaturesDisabled));
    EXPECT_TRUE(host.settingsStore().settings().onlineFeaturesEnabled);
    QCoreApplication::processEvents();
    EXPECT_TRUE(starts().last().contains("action=translate_message trigger=alert"));
}

TEST(SelectionTranslationCommand, EachErrorShowsItsAlert) {
    test::ScopedLogCapture lines;
    test::FakeCommandHost host;
    Commands c(host);
    const std::vector<std::pair<Case, QString>> rows{
        {Case::translationSourceLanguageUnsupported, "Language Not Supported Yet"},
        {Case::textExceedsCharacterLimit, "Selection Too Long"},
        {Case::noFocusedTextField, "Cannot Translate Selection"},
        {Case::focusedTextFieldEmpty, "Cannot Translate Selection"},
        {Case::focusedTextFieldReadOnly, "Cannot Translate Selection"},
        {Case::translationLanguagePairUnsupported, "Translate Selection failed"},
        {Case::translationRequiresMacOS26, "Translate Selection failed"},
    };
    for (const auto& [errorCase, title] : rows) {
        c.selection.handleError(CaptureWorkflowError(errorCase));
        EXPECT_EQ(host.alertTitles().last(), title) << CaptureWorkflowError(errorCase).caseName().toStdString();
    }
    host.presenter.answers = {QStringLiteral("Cancel")};
    c.selection.handleError(CaptureWorkflowError::serverTranslationUnavailable("Spanish", "English"));
    EXPECT_EQ(host.alertTitles().last(), QStringLiteral("Server Translation Unavailable"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(lines.messages(LogCategory::app).filter(QStringLiteral("workflow start")).isEmpty());
}
