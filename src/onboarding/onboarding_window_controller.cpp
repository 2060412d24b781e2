#include "onboarding/onboarding_window_controller.h"

#include "onboarding/onboarding_view_model.h"

#include <QGuiApplication>
#include <QScreen>

namespace tavrolin {

OnboardingWindowController::OnboardingWindowController(OnboardingRequest request,
                                                       const OnboardingWindowServices& services)
    : protocol_(request.markCompletedOnClose, request.callbacks.onComplete, request.callbacks.onClose),
      onOpenDictationScratchpad_(request.callbacks.onOpenDictationScratchpad),
      viewModel_(std::make_shared<OnboardingViewModel>(
          request.settings,
          request.pages == OnboardingPageSet::firstRun ? OnboardingPage::shortList() : OnboardingPage::all(),
          request.callbacks.onSaveSettings, services.demoRunner, request.callbacks.currentSettings)) {
    const auto weak = lifetime_.weak();
    // A demonstration may end after the window has gone: the view model then finds no window.
    viewModel_->onOpenDictationScratchpad = [weak] {
        if (auto* self = weak.get(); self && self->onOpenDictationScratchpad_) {
            self->onOpenDictationScratchpad_();
        }
    };
    OnboardingViewServices viewServices{services.localTranslationSetupSupport, services.openTranslationSetup,
                                        request.callbacks.onOpenAccessibilitySettings,
                                        request.callbacks.onOpenScreenRecordingSettings};
    view_ = std::make_unique<OnboardingView>(
        viewModel_,
        [weak] {
            if (auto* self = weak.get()) {
                self->finish();
            }
        },
        std::move(viewServices));
    view_->setWindowTitle(QStringLiteral("Welcome to Tavrolin"));
    view_->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint);
    view_->setFixedSize(OnboardingView::windowWidth, OnboardingView::windowHeight);
    QObject::connect(view_.get(), &OnboardingView::closing, view_.get(), [weak] {
        if (auto* self = weak.get()) {
            self->protocol_.windowWillClose();
        }
    });
}

OnboardingWindowController::~OnboardingWindowController() {
    lifetime_.end();
    viewModel_->onOpenDictationScratchpad = nullptr;
}

void OnboardingWindowController::finish() {
    protocol_.finish();
    view_->close();
}

void OnboardingWindowController::bringToFront() {
    if (!centred_) {
        centred_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            view_->move(available.center() - QPoint(OnboardingView::windowWidth / 2, OnboardingView::windowHeight / 2));
        }
    }
    view_->show();
    view_->setWindowState((view_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    view_->raise();
    view_->activateWindow();
}

bool OnboardingWindowController::handleHotKeyAction(HotKeyAction action) {
    return viewModel_->handleHotKeyAction(action);
}

std::unique_ptr<OnboardingWindow> OnboardingWindowPresenter::makeWindow(OnboardingRequest request) {
    return std::make_unique<OnboardingWindowController>(std::move(request), services_);
}

}  // namespace tavrolin
