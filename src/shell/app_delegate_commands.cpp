// The commands on the focused field and Translate Selection: their runs live in src/commands;
// the delegate is their host and starts them.
#include "commands/create_prompt_command.h"
#include "commands/flip_language_command.h"
#include "commands/message_translation_command.h"
#include "commands/selection_translation_command.h"
#include "commands/text_editing_command.h"
#include "commands/text_writing_command.h"
#include "commands/window_translation_command.h"
#include "core/accessibility_permission.h"
#include "focused_text/focused_text_field_accessor.h"
#include "shell/app_delegate.h"
#include "shell/share_prompt_coordinator.h"

#include <QPointer>
#include <QTimer>

namespace tavrolin {

void AppDelegate::startAfterCurrentRun(std::function<void()> start) {
    // A run ends right after its alert returns, without going back to the event loop; the run
    // reads the window the alert gives the keyboard back to.
    const QPointer<AppDelegate> self(this);
    QTimer::singleShot(0, this, [self, start = std::move(start)]() mutable {
        const std::shared_ptr<FocusedTextFieldAccessor> accessor =
            self ? self->services_->focusedTextFieldAccessor() : nullptr;
        if (self && !accessor) {
            start();
        } else if (self) {
            self->tryAgainStart_ =
                accessor->focusResolver().startOnceAnotherProgramIsInFront(std::move(start), tryAgainFocusBound);
        }
    });
}

QCoro::Task<AccessibilityPermissionStatus> AppDelegate::accessibilityAccess(AccessibilityTrustCheck check) {
    // Without an accessibility bus nothing of another application can be read.
    AccessibilityPermission* permission = services_->accessibilityPermission();
    if (!permission) {
        co_return AccessibilityPermissionStatus::notTrusted;
    }
    AccessibilityPermissionStatus status = AccessibilityPermissionStatus::notTrusted;
    try {
        if (check == AccessibilityTrustCheck::requestIfNeeded) {
            status = co_await permission->requestIfNeeded();
        } else {
            const bool answer = co_await permission->isTrusted();
            status = answer ? AccessibilityPermissionStatus::trusted : AccessibilityPermissionStatus::notTrusted;
        }
    } catch (...) {
        status = AccessibilityPermissionStatus::notTrusted;
    }
    co_return status;
}

bool AppDelegate::recordSuccess(TelemetryTrigger trigger) {
    return sharePromptCoordinator().recordSuccess(trigger);
}

void AppDelegate::presentFocusedTextCopyFallback(const QString& text, bool fieldChangedMeanwhile,
                                                 const std::optional<QString>& reason) {
    // Trimmed only to see whether anything is there: the window gets the text as it was made.
    if (text.trimmed().isEmpty()) {
        return;
    }
    // A user typing on in their program (into the field while the command ran, or anywhere as the
    // result comes), or one who went on to another program, keeps the keyboard: their next keys
    // must not land in the offered text.
    const std::shared_ptr<FocusedTextFieldAccessor>& accessor = services_->focusedTextFieldAccessor();
    presentDictationScratchpadCopyOnly(text,
                                       fieldChangedMeanwhile || (accessor && (accessor->inputGate().userTyping() ||
                                                                              accessor->userMovedAwayFromTarget())),
                                       reason);
}

void AppDelegate::startMessageTranslation(TelemetryTrigger trigger) {
    commands_.messageTranslation->start(trigger);
}

void AppDelegate::startTextWriting(TelemetryTrigger trigger) {
    commands_.textWriting->start(trigger);
}

void AppDelegate::startTextEditing(TelemetryTrigger trigger) {
    commands_.textEditing->start(trigger);
}

void AppDelegate::startTextEditing(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection) {
    commands_.textEditing->start(trigger, std::move(selection));
}

void AppDelegate::startFlipLanguage(TelemetryTrigger trigger) {
    commands_.flipLanguage->start(trigger);
}

void AppDelegate::startFlipLanguage(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection) {
    commands_.flipLanguage->start(trigger, std::move(selection));
}

void AppDelegate::startCreatePrompt(TelemetryTrigger trigger) {
    commands_.createPrompt->start(trigger);
}

void AppDelegate::startCapture(const QString& shortcutDisplayName, TelemetryTrigger trigger) {
    commands_.windowTranslation->start(shortcutDisplayName, trigger);
}

void AppDelegate::startSelectionTranslation(TelemetryTrigger trigger,
                                            std::optional<FocusedTextFieldSnapshot> initialSnapshot) {
    commands_.selectionTranslation->start(trigger, std::move(initialSnapshot));
}

}  // namespace tavrolin
