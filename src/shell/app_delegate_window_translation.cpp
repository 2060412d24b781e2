// The Translate-window workflow: guards, capture with its display fallback, the overlay, usage
// events and the alerts of its failures.
#include "shell/app_delegate.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "core/workflow_log.h"
#include "platform/clock.h"
#include "shell/app_alerts.h"
#include "shell/share_prompt_coordinator.h"
#include "commands/window_translation_failures.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"
#include "window_translation/screenshot_translation_service.h"

#include <QPointer>

namespace tavrolin {

namespace {

constexpr TelemetryAction windowAction = TelemetryAction::captureAndTranslateActiveWindow;

const QString captureFailedTitle = QStringLiteral("Capture failed");

// Hebrew goes through the server only, so the card says that it may take longer.
bool usesServer(bool onlineFeaturesEnabled, const TranslationLanguagePair& pair) {
    return onlineFeaturesEnabled && (pair.source == AppLanguage::hebrew || pair.target == AppLanguage::hebrew);
}

}  // namespace

void AppDelegate::startCapture(const QString& shortcutDisplayName, TelemetryTrigger trigger) {
    const AppSettings settings = settingsStore().settings();
    const AppLanguage target = settings.targetLanguage;
    WorkflowLog::started(windowAction, trigger, AppLanguage::automatic, target, std::nullopt);

    ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter();
    if (overlay && overlay->hasOverlayPanel()) {
        WorkflowLog::ignored(windowAction, trigger, QStringLiteral("overlay_presenting"));
        return;
    }

    TelemetryEventReporter& reporter = telemetryReporter();
    TelemetryEventReporter::Context context =
        reporter.makeContext(windowAction, trigger, AppLanguage::automatic, target);
    context.hotkeyConfig = trigger == TelemetryTrigger::hotkey
                               ? std::optional<QString>(settings.captureAndTranslateShortcut.displayName())
                               : std::nullopt;

    if (runningState_.isAnyInProgress()) {
        const QString reason = QStringLiteral("workflow_already_in_progress");
        WorkflowLog::ignored(windowAction, trigger, reason);
        reporter.send(context, false, reason, true);
        return;
    }

    // The task finishes on its own; every failure is handled inside it.
    runCapture(shortcutDisplayName, trigger, std::move(context),
               TranslationLanguagePair{AppLanguage::automatic, target});
}

QCoro::Task<void> AppDelegate::runCapture(QString shortcutDisplayName, TelemetryTrigger trigger,
                                          TelemetryEventReporter::Context context, TranslationLanguagePair pair) {
    const QPointer<AppDelegate> self(this);
    ScreenshotController* controller = screenshotController();
    if (!controller) {
        co_return;
    }
    const QString message = translationLoadingText(pair.target);
    const bool server = usesServer(settingsStore().settings().onlineFeaturesEnabled, pair);
    // The card appears once the pixels are taken: on X11 the capture reads the screen, and a card
    // shown before would be in the picture.
    const auto showCard = [self, message, server](const WindowCapture& capture) {
        if (!self) {
            return;
        }
        if (ScreenshotOverlayPresenter* overlay = self->screenshotOverlayPresenter()) {
            overlay->presentLoading(capture.windowBounds, capture.ownerPID, message, server);
        }
    };

    std::exception_ptr failure;
    try {
        const CaptureTarget target = controller->captureTargetResolver().resolve();
        CaptureResult result = co_await controller->capture(target, showCard);
        if (self) {
            self->showCaptureResult(result, trigger, context);
        }
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }

    bool fallBack = false;
    try {
        std::rethrow_exception(failure);
    } catch (const CaptureWorkflowError& error) {
        if (fallsBackToDisplayCapture(error.errorCase())) {
            fallBack = true;
            AppLog::capture().info([&] {
                return QStringLiteral("active-window capture fallback reason=%1 target=%2")
                    .arg(CaptureWorkflowErrorCode::code(error), rawValue(pair.target));
            });
        }
    } catch (...) {
    }
    if (!fallBack) {
        handleCaptureFailure(failure, shortcutDisplayName, trigger, context);
        co_return;
    }

    if (ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter()) {
        overlay->clear(true);
    }
    try {
        CaptureResult result = co_await controller->capture(CaptureTarget::display(), showCard);
        if (self) {
            self->showCaptureResult(result, trigger, context);
        }
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (self) {
        handleCaptureFailure(failure, shortcutDisplayName, trigger, context);
    }
}

void AppDelegate::showCaptureResult(const CaptureResult& result, TelemetryTrigger trigger,
                                    const TelemetryEventReporter::Context& context) {
    OverlayTranslationContext overlayContext{QUuid::createUuid(), result.originalImage, result.image,
                                             result.windowBounds, result.ownerPID,      result.translationState,
                                             std::nullopt};
    runningState_.setOverlayTranslationContext(overlayContext);
    if (!presentOverlay(overlayContext)) {
        // Nothing reached the screen: not a success, and nothing to keep or to count.
        runningState_.setOverlayTranslationContext(std::nullopt);
        const CaptureWorkflowError error(CaptureWorkflowError::Case::noShareableDisplayFound);
        telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
        alerts().showAlert(captureFailedTitle, makeMessage(error));
        return;
    }
    telemetryReporter().send(context, true, std::nullopt, true);
    sharePromptCoordinator().recordSuccess(trigger);
}

bool AppDelegate::presentOverlay(const OverlayTranslationContext& context) {
    ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter();
    if (!overlay) {
        return false;
    }
    const QPointer<AppDelegate> self(this);
    runningState_.countOverlayPresented();
    return overlay->presentImage(context.currentImage, context.windowBounds, context.ownerPID,
                                 context.translationState.displayName(), context.translationState.selectedLanguagePair,
                                 settingsStore().settings().onlineFeaturesEnabled,
                                 [self](TranslationLanguagePair pair) {
                                     if (self) {
                                         self->retranslateOverlay(pair);
                                     }
                                 });
}

// ---- re-translation of the overlay on screen

void AppDelegate::retranslateOverlay(TranslationLanguagePair pair) {
    if (!runningState_.overlayTranslationContext()) {
        return;
    }
    constexpr TelemetryAction action = TelemetryAction::retranslateOverlay;
    constexpr TelemetryTrigger trigger = TelemetryTrigger::overlay;
    const QUuid sessionID = runningState_.overlayTranslationContext()->sessionID;
    WorkflowLog::started(action, trigger, pair.source, pair.target,
                         QStringLiteral("session=") + sessionID.toString(QUuid::WithoutBraces).toUpper());
    TelemetryEventReporter::Context context =
        telemetryReporter().makeContext(action, trigger, pair.source, pair.target);

    OverlayTranslationContext fallback = *runningState_.overlayTranslationContext();
    fallback.retranslationRequestID.reset();
    const QUuid requestID = *runningState_.beginRetranslation();

    if (ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter()) {
        overlay->showLoading(translationLoadingText(pair.target),
                             usesServer(settingsStore().settings().onlineFeaturesEnabled, pair));
    }
    // The task finishes on its own; a result or failure that no longer belongs to the overlay
    // on screen is dropped there.
    runRetranslation(pair, sessionID, requestID, std::move(fallback), std::move(context));
}

QCoro::Task<void> AppDelegate::runRetranslation(TranslationLanguagePair pair, QUuid sessionID, QUuid requestID,
                                                OverlayTranslationContext fallback,
                                                TelemetryEventReporter::Context context) {
    const QPointer<AppDelegate> self(this);
    ScreenshotController* controller = screenshotController();
    if (!controller) {
        co_return;
    }
    const auto stillCurrent = [&] {
        return self && self->runningState_.retranslationTarget(sessionID, requestID) != nullptr;
    };

    std::exception_ptr failure;
    try {
        // Straight to the pipeline: the controller's one-capture guard and permission check are
        // for captures, and this image is already taken.
        TranslatedScreenshot translated =
            co_await controller->screenshotTranslationService().translateText(fallback.originalImage, pair);
        if (!stillCurrent()) {
            co_return;
        }
        OverlayTranslationContext& current = *self->runningState_.retranslationTarget(sessionID, requestID);
        current.currentImage = translated.image;
        current.translationState = translated.translationState;
        current.retranslationRequestID.reset();
        if (!self->presentOverlay(current)) {
            // Nothing reached the screen: not a success.
            self->runningState_.setOverlayTranslationContext(std::nullopt);
            const CaptureWorkflowError error(CaptureWorkflowError::Case::noShareableDisplayFound);
            self->telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
            self->alerts().showAlert(captureFailedTitle, makeMessage(error));
            co_return;
        }
        self->telemetryReporter().send(context, true, std::nullopt, true);
        self->sharePromptCoordinator().recordSuccess(TelemetryTrigger::overlay);
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!stillCurrent()) {
        co_return;
    }

    try {
        std::rethrow_exception(failure);
    } catch (const CaptureWorkflowError& error) {
        telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
        runningState_.setOverlayTranslationContext(fallback);
        presentOverlay(fallback);
        handleOverlayTranslationError(error, [self, pair] {
            if (self) {
                self->retranslateOverlay(pair);
            }
        });
    } catch (...) {
        const QString code = QStringLiteral("unknown_error");
        WorkflowLog::failed(TelemetryAction::retranslateOverlay, TelemetryTrigger::overlay, code,
                            std::current_exception());
        telemetryReporter().send(context, false, code, true);
        runningState_.setOverlayTranslationContext(std::nullopt);
        if (ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter()) {
            overlay->clear(true);
        }
        const std::uint64_t presentedBefore = runningState_.overlaysPresented();
        alerts().showAlert(captureFailedTitle, makeMessage(std::current_exception()));
        // The alert runs an event loop of its own: a capture made meanwhile, or a card of
        // another command still on screen, is newer than this overlay and stays.
        if (!self) {
            co_return;
        }
        ScreenshotOverlayPresenter* shown = screenshotOverlayPresenter();
        if (!runningState_.overlayTranslationContext() && runningState_.overlaysPresented() == presentedBefore &&
            !(shown && shown->hasOverlayPanel())) {
            runningState_.setOverlayTranslationContext(fallback);
            presentOverlay(fallback);
        }
    }
}

void AppDelegate::handleOverlayTranslationError(const CaptureWorkflowError& error, std::function<void()> retry) {
    using Case = CaptureWorkflowError::Case;
    switch (error.errorCase()) {
    case Case::translationSourceLanguageUnsupported:
        alerts().showInformationalAlert(QStringLiteral("Language Not Supported Yet"), makeMessage(error));
        break;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable:
        alerts().showTranslationSetupAlert(error, std::move(retry));
        break;
    case Case::onlineFeaturesDisabled:
        alerts().showOnlineFeaturesDisabledAlert(std::move(retry));
        break;
    default:
        alerts().showAlert(captureFailedTitle, makeMessage(error));
        break;
    }
}

void AppDelegate::handleCaptureFailure(std::exception_ptr failure, const QString& shortcutDisplayName,
                                       TelemetryTrigger trigger, const TelemetryEventReporter::Context& context) {
    ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter();
    const QPointer<AppDelegate> self(this);
    const auto retry = [self, shortcutDisplayName] {
        if (self) {
            self->startCapture(shortcutDisplayName, TelemetryTrigger::alert);
        }
    };
    try {
        std::rethrow_exception(failure);
    } catch (const CaptureWorkflowError& error) {
        const CaptureFailureAlert alert = captureFailureAlert(error.errorCase());
        // A refused second request leaves the running capture and its card alone.
        if (alert != CaptureFailureAlert::none && overlay) {
            overlay->clear(true);
        }
        telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
        switch (alert) {
        case CaptureFailureAlert::none:
            break;
        case CaptureFailureAlert::screenRecordingSetup:
            alerts().showScreenRecordingSetupAlert(error, shortcutDisplayName);
            break;
        case CaptureFailureAlert::languageNotSupported:
            alerts().showInformationalAlert(QStringLiteral("Language Not Supported Yet"), makeMessage(error));
            break;
        case CaptureFailureAlert::translationSetup:
            alerts().showTranslationSetupAlert(error, retry);
            break;
        case CaptureFailureAlert::onlineFeaturesDisabled:
            alerts().showOnlineFeaturesDisabledAlert(retry);
            break;
        case CaptureFailureAlert::captureFailed:
            alerts().showAlert(captureFailedTitle, makeMessage(error));
            break;
        }
    } catch (...) {
        if (overlay) {
            overlay->clear(true);
        }
        const QString code = QStringLiteral("unknown_error");
        WorkflowLog::failed(windowAction, trigger, code, std::current_exception());
        telemetryReporter().send(context, false, code, true);
        alerts().showAlert(captureFailedTitle, makeMessage(std::current_exception()));
    }
}

}  // namespace tavrolin
