#include "commands/window_translation_command.h"

#include "commands/app_running_state.h"
#include "commands/window_translation_failures.h"
#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "core/workflow_log.h"
#include "platform/clock.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"
#include "window_translation/screenshot_translation_service.h"

namespace tavrolin {

namespace {

constexpr TelemetryAction windowAction = TelemetryAction::captureAndTranslateActiveWindow;

const QString captureFailedTitle = QStringLiteral("Capture failed");

// Hebrew goes through the server only, so the card says that it may take longer.
bool usesServer(bool onlineFeaturesEnabled, const TranslationLanguagePair& pair) {
    return onlineFeaturesEnabled && (pair.source == AppLanguage::hebrew || pair.target == AppLanguage::hebrew);
}

}  // namespace

std::optional<QUuid> OverlayTranslationState::beginRetranslation() {
    if (!overlay_) {
        return std::nullopt;
    }
    const QUuid requestID = QUuid::createUuid();
    overlay_->retranslationRequestID = requestID;
    return requestID;
}

OverlayTranslationContext* OverlayTranslationState::retranslationTarget(const QUuid& sessionID,
                                                                        const QUuid& requestID) {
    return overlay_ && overlay_->matchesRetranslationRequest(sessionID, requestID) ? &*overlay_ : nullptr;
}

void WindowTranslationCommand::start(const QString& shortcutDisplayName, TelemetryTrigger trigger) {
    const AppSettings settings = host_.settingsStore().settings();
    const AppLanguage target = settings.targetLanguage;
    WorkflowLog::started(windowAction, trigger, AppLanguage::automatic, target, std::nullopt);

    ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter();
    if (overlay && overlay->hasOverlayPanel()) {
        WorkflowLog::ignored(windowAction, trigger, QStringLiteral("overlay_presenting"));
        return;
    }

    TelemetryEventReporter& reporter = host_.telemetryReporter();
    TelemetryEventReporter::Context context =
        reporter.makeContext(windowAction, trigger, AppLanguage::automatic, target);
    context.hotkeyConfig = trigger == TelemetryTrigger::hotkey
                               ? std::optional<QString>(settings.captureAndTranslateShortcut.displayName())
                               : std::nullopt;

    if (host_.runningState().isAnyInProgress()) {
        const QString reason = QStringLiteral("workflow_already_in_progress");
        WorkflowLog::ignored(windowAction, trigger, reason);
        reporter.send(context, false, reason, true);
        return;
    }

    // The task finishes on its own; every failure is handled inside it.
    runCapture(shortcutDisplayName, trigger, std::move(context),
               TranslationLanguagePair{AppLanguage::automatic, target});
}

QCoro::Task<void> WindowTranslationCommand::runCapture(QString shortcutDisplayName, TelemetryTrigger trigger,
                                                       TelemetryEventReporter::Context context,
                                                       TranslationLanguagePair pair) {
    const LifetimeToken<WindowTranslationCommand>::Weak self = lifetime_.weak();
    ScreenshotController* controller = controller_();
    if (!controller) {
        co_return;
    }
    const QString message = translationLoadingText(pair.target);
    const bool server = usesServer(host_.settingsStore().settings().onlineFeaturesEnabled, pair);
    // The card appears once the pixels are taken: on X11 the capture reads the screen, and a card
    // shown before would be in the picture.
    const auto showCard = [self, message, server](const WindowCapture& capture) {
        if (!self) {
            return;
        }
        if (ScreenshotOverlayPresenter* overlay = self->host_.screenshotOverlayPresenter()) {
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

    if (ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter()) {
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

void WindowTranslationCommand::showCaptureResult(const CaptureResult& result, TelemetryTrigger trigger,
                                                 const TelemetryEventReporter::Context& context) {
    OverlayTranslationContext overlayContext{QUuid::createUuid(), result.originalImage, result.image,
                                             result.windowBounds, result.ownerPID,      result.translationState,
                                             std::nullopt};
    overlay_.setContext(overlayContext);
    if (!presentOverlay(overlayContext)) {
        // Nothing reached the screen: not a success, and nothing to keep or to count.
        overlay_.setContext(std::nullopt);
        const CaptureWorkflowError error(CaptureWorkflowError::Case::noShareableDisplayFound);
        host_.telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
        host_.alerts().showAlert(captureFailedTitle, commandErrorMessage(error));
        return;
    }
    host_.telemetryReporter().send(context, true, std::nullopt, true);
    host_.recordSuccess(trigger);
}

bool WindowTranslationCommand::presentOverlay(const OverlayTranslationContext& context) {
    ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter();
    if (!overlay) {
        return false;
    }
    const LifetimeToken<WindowTranslationCommand>::Weak self = lifetime_.weak();
    overlay_.countPresented();
    return overlay->presentImage(context.currentImage, context.windowBounds, context.ownerPID,
                                 context.translationState.displayName(), context.translationState.selectedLanguagePair,
                                 host_.settingsStore().settings().onlineFeaturesEnabled,
                                 [self](TranslationLanguagePair pair) {
                                     if (self) {
                                         self->retranslate(pair);
                                     }
                                 });
}

// ---- re-translation of the overlay on screen

void WindowTranslationCommand::retranslate(TranslationLanguagePair pair) {
    if (!overlay_.context()) {
        return;
    }
    constexpr TelemetryAction action = TelemetryAction::retranslateOverlay;
    constexpr TelemetryTrigger trigger = TelemetryTrigger::overlay;
    const QUuid sessionID = overlay_.context()->sessionID;
    WorkflowLog::started(action, trigger, pair.source, pair.target,
                         QStringLiteral("session=") + sessionID.toString(QUuid::WithoutBraces).toUpper());
    TelemetryEventReporter::Context context =
        host_.telemetryReporter().makeContext(action, trigger, pair.source, pair.target);

    OverlayTranslationContext fallback = *overlay_.context();
    fallback.retranslationRequestID.reset();
    const QUuid requestID = *overlay_.beginRetranslation();

    if (ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter()) {
        overlay->showLoading(translationLoadingText(pair.target),
                             usesServer(host_.settingsStore().settings().onlineFeaturesEnabled, pair));
    }
    // The task finishes on its own; a result or failure that no longer belongs to the overlay
    // on screen is dropped there.
    runRetranslation(pair, sessionID, requestID, std::move(fallback), std::move(context));
}

QCoro::Task<void> WindowTranslationCommand::runRetranslation(TranslationLanguagePair pair, QUuid sessionID,
                                                             QUuid requestID, OverlayTranslationContext fallback,
                                                             TelemetryEventReporter::Context context) {
    const LifetimeToken<WindowTranslationCommand>::Weak self = lifetime_.weak();
    ScreenshotController* controller = controller_();
    if (!controller) {
        co_return;
    }
    const auto stillCurrent = [&] {
        return self && self->overlay_.retranslationTarget(sessionID, requestID) != nullptr;
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
        OverlayTranslationContext& current = *self->overlay_.retranslationTarget(sessionID, requestID);
        current.currentImage = translated.image;
        current.translationState = translated.translationState;
        current.retranslationRequestID.reset();
        if (!self->presentOverlay(current)) {
            // Nothing reached the screen: not a success.
            self->overlay_.setContext(std::nullopt);
            const CaptureWorkflowError error(CaptureWorkflowError::Case::noShareableDisplayFound);
            self->host_.telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
            self->host_.alerts().showAlert(captureFailedTitle, commandErrorMessage(error));
            co_return;
        }
        self->host_.telemetryReporter().send(context, true, std::nullopt, true);
        self->host_.recordSuccess(TelemetryTrigger::overlay);
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
        host_.telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
        overlay_.setContext(fallback);
        presentOverlay(fallback);
        handleOverlayTranslationError(error, [self, pair] {
            if (self) {
                self->retranslate(pair);
            }
        });
    } catch (...) {
        const QString code = QStringLiteral("unknown_error");
        WorkflowLog::failed(TelemetryAction::retranslateOverlay, TelemetryTrigger::overlay, code,
                            std::current_exception());
        host_.telemetryReporter().send(context, false, code, true);
        overlay_.setContext(std::nullopt);
        if (ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter()) {
            overlay->clear(true);
        }
        const std::uint64_t presentedBefore = overlay_.presented();
        host_.alerts().showAlert(captureFailedTitle, commandErrorMessage(std::current_exception()));
        // The alert runs an event loop of its own: a capture made meanwhile, or a card of
        // another command still on screen, is newer than this overlay and stays.
        if (!self) {
            co_return;
        }
        ScreenshotOverlayPresenter* shown = host_.screenshotOverlayPresenter();
        if (!overlay_.context() && overlay_.presented() == presentedBefore && !(shown && shown->hasOverlayPanel())) {
            overlay_.setContext(fallback);
            presentOverlay(fallback);
        }
    }
}

void WindowTranslationCommand::handleOverlayTranslationError(const CaptureWorkflowError& error,
                                                             std::function<void()> retry) {
    using Case = CaptureWorkflowError::Case;
    switch (error.errorCase()) {
    case Case::translationSourceLanguageUnsupported:
        host_.alerts().showInformationalAlert(QStringLiteral("Language Not Supported Yet"), commandErrorMessage(error));
        break;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable:
        host_.alerts().showTranslationSetupAlert(error, std::move(retry));
        break;
    case Case::onlineFeaturesDisabled:
        host_.alerts().showOnlineFeaturesDisabledAlert(std::move(retry));
        break;
    default:
        host_.alerts().showAlert(captureFailedTitle, commandErrorMessage(error));
        break;
    }
}

void WindowTranslationCommand::handleCaptureFailure(std::exception_ptr failure, const QString& shortcutDisplayName,
                                                    TelemetryTrigger trigger,
                                                    const TelemetryEventReporter::Context& context) {
    ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter();
    const LifetimeToken<WindowTranslationCommand>::Weak self = lifetime_.weak();
    const auto retry = [self, shortcutDisplayName] {
        if (self) {
            self->start(shortcutDisplayName, TelemetryTrigger::alert);
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
        host_.telemetryReporter().send(context, false, CaptureWorkflowErrorCode::code(error), true);
        switch (alert) {
        case CaptureFailureAlert::none:
            break;
        case CaptureFailureAlert::screenRecordingSetup:
            host_.alerts().showScreenRecordingSetupAlert(error, shortcutDisplayName);
            break;
        case CaptureFailureAlert::languageNotSupported:
            host_.alerts().showInformationalAlert(QStringLiteral("Language Not Supported Yet"),
                                                  commandErrorMessage(error));
            break;
        case CaptureFailureAlert::translationSetup:
            host_.alerts().showTranslationSetupAlert(error, retry);
            break;
        case CaptureFailureAlert::onlineFeaturesDisabled:
            host_.alerts().showOnlineFeaturesDisabledAlert(retry);
            break;
        case CaptureFailureAlert::captureFailed:
            host_.alerts().showAlert(captureFailedTitle, commandErrorMessage(error));
            break;
        }
    } catch (...) {
        if (overlay) {
            overlay->clear(true);
        }
        const QString code = QStringLiteral("unknown_error");
        WorkflowLog::failed(windowAction, trigger, code, std::current_exception());
        host_.telemetryReporter().send(context, false, code, true);
        host_.alerts().showAlert(captureFailedTitle, commandErrorMessage(std::current_exception()));
    }
}

}  // namespace tavrolin
