#include "settings_window/settings_window_controller.h"

#include "settings_window/settings_layout.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace tavrolin {

namespace {

// The top-level window; tells its owner once per closing, however it was closed.
class SettingsWindow final : public QWidget {
public:
    SettingsView* view = nullptr;

    explicit SettingsWindow(std::function<void()> onClosing)
        : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
          onClosing_(std::move(onClosing)) {}

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        if (!event->spontaneous()) {
            open_ = true;
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (!view || !view->handleWindowKey(event)) {
            QWidget::keyPressEvent(event);
        }
    }
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted() && std::exchange(open_, false) && onClosing_) {
            onClosing_();
        }
    }

private:
    std::function<void()> onClosing_;
    bool open_ = false;
};

}  // namespace

SettingsWindowController::SettingsWindowController(const AppSettings& settings, SettingsView::SaveCallback onSave,
                                                   std::function<void()> onExportDiagnostics,
                                                   std::function<void()> onClose,
                                                   std::function<void(bool)> onShortcutRecordingChanged,
                                                   SettingsViewServices services, QObject* parent)
    : QObject(parent),
      onSave_(std::move(onSave)),
      onExportDiagnostics_(std::move(onExportDiagnostics)),
      onClose_(std::move(onClose)) {
    // The view's actions hold the controller weakly.
    const QPointer<SettingsWindowController> self(this);
    auto onCancel = [self] {
        if (self && self->window_) {
            self->window_->close();
        }
    };
    auto save = [self](const AppSettings& value) -> std::optional<QString> {
        if (!self) {
            return QStringLiteral("Settings window is no longer available.");
        }
        std::optional<QString> result = self->onSave_ ? self->onSave_(value) : std::nullopt;
        if (!result && self && self->window_) {
            self->window_->close();
        }
        return result;
    };
    auto exportDiagnostics = [self] {
        if (self && self->onExportDiagnostics_) {
            self->onExportDiagnostics_();
        }
    };

    window_ = std::make_unique<SettingsWindow>([self] {
        if (self) {
            self->windowWillClose();
        }
    });
    window_->setObjectName(QStringLiteral("settingsWindow"));
    window_->setWindowTitle(QStringLiteral("Settings"));
    window_->setFixedSize(windowWidth, windowHeight);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new SettingsView(settings, std::move(onCancel), std::move(save), std::move(exportDiagnostics),
                             std::move(onShortcutRecordingChanged), std::move(services), window_.get());
    layout->addWidget(view_);
    static_cast<SettingsWindow*>(window_.get())->view = view_;
}

SettingsWindowController::~SettingsWindowController() {
    // Gone without a close (the application quitting): nothing is reported.
    onClose_ = {};
    window_.reset();
}

void SettingsWindowController::showWindow() {
    if (!centred_) {
        centred_ = true;
        // The keyboard starts at the top of the sidebar.
        if (QAbstractButton* row = view_->sidebar()->row(view_->selectedPane())) {
            row->setFocus(Qt::ActiveWindowFocusReason);
        }
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window_->move(area.center() - QPoint(windowWidth / 2, windowHeight / 2));
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SettingsWindowController::windowWillClose() {
    if (onClose_) {
        onClose_();
    }
}

}  // namespace tavrolin
