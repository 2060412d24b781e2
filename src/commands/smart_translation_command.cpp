#include "commands/smart_translation_command.h"

#include "commands/selection_translation_command.h"
#include "commands/smart_translation_selection_resolver.h"
#include "commands/window_translation_command.h"
#include "core/workflow_log.h"
#include "focused_text/focused_text_field_accessor.h"
#include "platform/scheduler_sleep.h"

#include <QCoroTask>

#include <stdexcept>

namespace tavrolin {

using Outcome = SmartTranslationSelectionProbeOutcome;

// Up to three reads of the focused selection, 120 ms apart, while a focused element shows none
// yet: a selection made just before the command may reach the accessibility tree a moment late.
// No key is pressed and the clipboard is not touched.
QCoro::Task<SmartTranslationSelectionProbeResult> SmartTranslationCommand::probeSelection(Weak self) {
    // Only asked: a look at the selection never switches the accessibility bus on.
    const AccessibilityPermissionStatus access =
        co_await self->host_.accessibilityAccess(AccessibilityTrustCheck::askOnly);
    if (!self || access != AccessibilityPermissionStatus::trusted) {
        co_return SmartTranslationSelectionProbeResult{std::nullopt, Outcome::denied()};
    }
    const std::shared_ptr<FocusedTextFieldAccessor> accessor = self->accessor_();
    for (int attempts = 1;; ++attempts) {
        std::exception_ptr error;
        try {
            if (!accessor) {
                throw std::logic_error("no focused-field accessor");
            }
            FocusedTextFieldSnapshot snapshot = co_await accessor->probeFocusedSelection();
            if (snapshot.selectedText && !snapshot.selectedText->isEmpty()) {
                co_return SmartTranslationSelectionProbeResult{std::move(snapshot), Outcome::found(attempts)};
            }
            if (!snapshot.element) {
                // No accessible focused element: nothing will appear in the tree a moment later,
                // and PRIMARY has answered; the window capture starts at once.
                co_return SmartTranslationSelectionProbeResult{std::nullopt, Outcome::notFound(attempts)};
            }
        } catch (...) {
            error = std::current_exception();
        }
        if (error && !SmartTranslationSelectionResolver::isRetried(error)) {
            co_return SmartTranslationSelectionProbeResult{std::nullopt,
                                                           SmartTranslationSelectionResolver::outcome(error, attempts)};
        }
        if (attempts >= selectionProbeAttempts || !self) {
            co_return SmartTranslationSelectionProbeResult{
                std::nullopt,
                error ? SmartTranslationSelectionResolver::outcome(error, attempts) : Outcome::notFound(attempts)};
        }
        co_await sleepFor(self->host_.scheduler(), selectionProbeRetryDelay);
        if (!self) {
            co_return SmartTranslationSelectionProbeResult{std::nullopt, Outcome::notFound(attempts)};
        }
    }
}

QCoro::Task<void> SmartTranslationCommand::routeTranslation(Weak self, TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::captureAndTranslateActiveWindow;
    SmartTranslationSelectionProbeResult probe = co_await probeSelection(self);
    if (!self) {
        co_return;
    }
    const SmartTranslationSelectionResolver::Route route = SmartTranslationSelectionResolver::route(probe.outcome);
    WorkflowLog::routed(action, trigger, route.decision, route.detail);
    if (probe.snapshot) {
        self->selection_.start(trigger, std::move(probe.snapshot));
        co_return;
    }
    WorkflowLog::routed(action, trigger, QStringLiteral("fallback_capture"), std::nullopt);
    self->window_.start(self->host_.settingsStore().settings().captureAndTranslateShortcut.displayName(), trigger);
}

void SmartTranslationCommand::start(TelemetryTrigger trigger) {
    routeTranslation(lifetime_.weak(), trigger);
}

}  // namespace tavrolin
