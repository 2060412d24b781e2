#include "shell/minimal_app_delegate.h"

#include "core/app_log.h"
#include "core/app_metadata.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace tavrolin {

std::unique_ptr<ApplicationDelegate> makeApplicationDelegate() {
    return std::make_unique<MinimalAppDelegate>();
}

MinimalAppDelegate::MinimalAppDelegate() = default;

MinimalAppDelegate::~MinimalAppDelegate() = default;

void MinimalAppDelegate::applicationDidFinishLaunching() {
    AppLog::app().info(QStringLiteral("launch version=%1").arg(AppMetadata::appVersion()));

    menu_ = std::make_unique<QMenu>();
    QAction* quit = menu_->addAction(QStringLiteral("Quit"));
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    trayIcon_ = std::make_unique<QSystemTrayIcon>(AppMetadata::alertIcon());
    trayIcon_->setToolTip(AppMetadata::appName);
    trayIcon_->setContextMenu(menu_.get());
    trayIcon_->show();
}

void MinimalAppDelegate::applicationWillTerminate() {
    if (trayIcon_) {
        trayIcon_->hide();
    }
}

void MinimalAppDelegate::activateFromAnotherLaunch() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() != Qt::Popup && window->windowType() != Qt::ToolTip) {
            window->raise();
            window->activateWindow();
        }
    }
}

}  // namespace tavrolin
