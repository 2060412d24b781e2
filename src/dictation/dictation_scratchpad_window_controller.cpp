#include "dictation/dictation_scratchpad_window_controller.h"

#include "dictation/dictation_scratchpad_view.h"
#include "dictation/text_view.h"
#include "platform/front_window_activation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace tavrolin {

namespace {

// How long the window manager gets to hand the focus over before the window asks again, the
// way a pager does (which the window manager does not refuse).
constexpr int activationCheckMilliseconds = 150;

}  // namespace

DictationScratchpadWindowController::DictationScratchpadWindowController(
    DictationScratchpadViewModel::Dependencies dependencies,
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy,
    std::shared_ptr<FrontWindowActivating> frontWindowActivation, QObject* parent)
    : QObject(parent),
      viewModel_(std::make_unique<DictationScratchpadViewModel>(std::move(dependencies))),
      onlineFeaturePolicy_(std::move(onlineFeaturePolicy)),
      frontWindowActivation_(std::move(frontWindowActivation)) {
    window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    window_->setObjectName(QStringLiteral("dictationScratchpad"));
    window_->setWindowTitle(dictationTitle);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new DictationScratchpadView(viewModel_.get(), window_.get());
    layout->addWidget(view_);
    window_->resize(640, 300);
    if (const QScreen* screen = QApplication::primaryScreen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    window_->installEventFilter(this);
    // The copy window is dismissed as a dialog is. The dictation window holds the user's own
    // words and a running microphone: a stray Escape there closes nothing.
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, window_.get(), &QWidget::close);
    connect(viewModel_.get(), &DictationScratchpadViewModel::modeChanged, escape_,
            [escape = escape_](DictationScratchpadViewModel::Mode mode) {
                escape->setEnabled(mode == DictationScratchpadViewModel::Mode::copyOnly);
            });
}

DictationScratchpadWindowController::~DictationScratchpadWindowController() {
    if (window_) {
        window_->removeEventFilter(this);
    }
    // The view model's callbacks point into the window; they must not outlive it.
    viewModel_->onRequestClose = nullptr;
    viewModel_->registerTextUndo = nullptr;
    window_.reset();
}

QWidget* DictationScratchpadWindowController::window() const {
    return window_.get();
}

void DictationScratchpadWindowController::present(AppLanguage language,
                                                  const std::vector<AppLanguage>& availableLanguages) {
    bringToFront(Keyboard::take);
    window_->setWindowTitle(dictationTitle);
    connectClose();
    viewModel_->reset(DictationScratchpadViewModel::Mode::dictation, QString());
    view_->editor()->startFreshHistory();
    viewModel_->setAvailableLanguages(availableLanguages);
    viewModel_->setSelectedLanguage(language);
    viewModel_->registerTextUndo = [this] { registerUndoStep(); };
    if (!recognitionIdentifiers(language).isEmpty()) {
        viewModel_->updateLocale(language);
    }
    viewModel_->startDictationIfReady();
}

void DictationScratchpadWindowController::presentCopyOnly(const QString& text, Keyboard keyboard,
                                                          const std::optional<QString>& reason) {
    bringToFront(keyboard);
    window_->setWindowTitle(copyOnlyTitle);
    connectClose();
    viewModel_->reset(DictationScratchpadViewModel::Mode::copyOnly, text);
    viewModel_->setStatusMessage(reason);
    view_->editor()->startFreshHistory();
    viewModel_->registerTextUndo = [this] { registerUndoStep(); };
}

void DictationScratchpadWindowController::connectClose() {
    const QPointer<QWidget> window(window_.get());
    viewModel_->onRequestClose = [window] {
        if (window) {
            window->close();
        }
    };
}

void DictationScratchpadWindowController::registerUndoStep() {
    if (view_ && view_->editor()) {
        view_->editor()->markUndoStep();
    }
}

void DictationScratchpadWindowController::bringToFront(Keyboard keyboard) {
    QWidget* window = window_.get();
    takesKeyboard_ = keyboard == Keyboard::take;
    // Without activation the window manager is asked to leave the focus where it is (X11: a user
    // time of 0 on the mapped window). Qt reads the attribute only when it makes the native
    // window; the one made already is told through its own property, read at every show.
    window->setAttribute(Qt::WA_ShowWithoutActivating, !takesKeyboard_);
    if (QWindow* handle = window->windowHandle()) {
        handle->setProperty("_q_showWithoutActivating", !takesKeyboard_);
    }
    window->show();
    window->raise();
    // The editor has the keyboard whenever the window has it (from a click, when left without).
    view_->editor()->setFocus();
    if (!takesKeyboard_) {
        return;
    }
    window->activateWindow();
    // Shown from a global shortcut, the window belongs to an application that is not in front;
    // a window manager that prevents focus stealing may keep the focus where it is.
    const QPointer<QWidget> guard(window);
    const std::shared_ptr<FrontWindowActivating> activation = frontWindowActivation_;
    // The call goes with the window, which this controller owns.
    QTimer::singleShot(activationCheckMilliseconds, window, [this, guard, activation] {
        if (takesKeyboard_ && guard && guard->isVisible() && !guard->isActiveWindow() && activation) {
            activation->activate(static_cast<quint32>(guard->winId()));
        }
    });
}

bool DictationScratchpadWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close) {
        // Closing ends a recording without the automatic improve; the window only hides.
        viewModel_->stopDictation(false);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tavrolin
