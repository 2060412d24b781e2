// The Translate command, which translates the selection when there is one and the front window
// otherwise.
#include "shell/app_delegate.h"

#include "core/workflow_log.h"
#include "focused_text/focused_text_field_accessor.h"
#include "platform/clock.h"
#include "platform/scheduler_sleep.h"
#include "shell/smart_translation_selection_resolver.h"

#include <QCoroTask>
#include <QPointer>

#include <stdexcept>

namespace tavrolin {

namespace {

using Outcome = SmartTranslationSelectionProbeOutcome;

// Up to three reads of the focused selection, 120 ms apart, while a focused element shows none
// yet: a selection made just before the command may reach the accessibility tree a moment late.
// No key is pressed and the clipboard is not touched.
QCoro::Task<SmartTranslationSelectionProbeResult> probeSelection(QPointer<AppDelegate> self) {
    // Only asked: a look at the selection never switches the accessibility bus on.
    const bool trusted = co_await self->accessibilityTrusted(AppDelegate::AccessibilityTrustCheck::askOnly);
    if (!self || !trusted) {
        co_return SmartTranslationSelectionProbeResult{std::nullopt, Outcome::denied()};
    }
    const std::shared_ptr<FocusedTextFieldAccessor> accessor = self->focusedTextFieldAccessor();
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
        if (attempts >= AppDelegate::selectionProbeAttempts || !self) {
            co_return SmartTranslationSelectionProbeResult{
                std::nullopt,
                error ? SmartTranslationSelectionResolver::outcome(error, attempts) : Outcome::notFound(attempts)};
        }
        co_await sleepFor(self->scheduler(), AppDelegate::selectionProbeRetryDelay);
        if (!self) {
            co_return SmartTranslationSelectionProbeResult{std::nullopt, Outcome::notFound(attempts)};
        }
    }
}

QCoro::Task<void> routeTranslation(QPointer<AppDelegate> self, TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::captureAndTranslateActiveWindow;
    SmartTranslationSelectionProbeResult probe = co_await probeSelection(self);
    if (!self) {
        co_return;
    }
    const SmartTranslationSelectionResolver::Route route = SmartTranslationSelectionResolver::route(probe.outcome);
    WorkflowLog::routed(action, trigger, route.decision, route.detail);
    if (probe.snapshot) {
        self->startSelectionTranslation(trigger, std::move(probe.snapshot));
        co_return;
    }
    WorkflowLog::routed(action, trigger, QStringLiteral("fallback_capture"), std::nullopt);
    self->startCapture(self->settingsStore().settings().captureAndTranslateShortcut.displayName(), trigger);
}

}  // namespace

void AppDelegate::startSmartTranslation(TelemetryTrigger trigger) {
    if (trigger != TelemetryTrigger::menu) {
        routeTranslation(QPointer<AppDelegate>(this), trigger);
        return;
    }
    // The tray menu's command runs while the menu is still on screen and holds the focus. The
    // selection is read, or the screen captured, once the menu's unmapping has reached the X
    // server and the window it uncovered has its focus back and has had a moment to repaint.
    const QPointer<AppDelegate> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self) {
                return;
            }
            if (const auto& sync = self->factories().syncWithDisplayServer) {
                sync();
            }
            self->menuCaptureStart_ = self->scheduler().scheduleAfter(menuCaptureSettleDelay, [self] {
                if (self) {
                    routeTranslation(self, TelemetryTrigger::menu);
                }
            });
        },
        Qt::QueuedConnection);
}

}  // namespace tavrolin
