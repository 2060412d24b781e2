#include "shell/main_menu.h"

#include "settings_window/shortcut_recorder.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace tavrolin {

MainMenu::MainMenu(QObject* parent) : QObject(parent) {}

MainMenu::~MainMenu() {
    if (installed_ && qApp) {
        qApp->removeEventFilter(this);
    }
}

void MainMenu::install() {
    if (installed_) {
        return;
    }
    qApp->installEventFilter(this);
    installed_ = true;
}

void MainMenu::hideApplication() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isWindow()) {
            window->hide();
        }
    }
}

bool MainMenu::eventFilter(QObject* watched, QEvent* event) {
    // Key events reach the focused widget first; the window's own handle sees them too, so only
    // widgets are looked at, and only once per press.
    // A widget that records key combinations takes every key while it records.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        !watched->property(ShortcutRecorderField::recordsEveryKeyProperty).toBool()) {
        auto* key = static_cast<QKeyEvent*>(event);
        const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() == Qt::Key_H && modifiers == Qt::ControlModifier && !key->isAutoRepeat()) {
            hideApplication();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tavrolin
