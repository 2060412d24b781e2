// The status item, its menu and the menu commands.
#include "shell/app_delegate.h"

#include "core/app_metadata.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace tavrolin {

void AppDelegate::configureMainMenu() {
    // A tray application has no menu bar of its own on this desktop: nothing to build.
}

void AppDelegate::configureStatusItem() {
    if (statusItem_) {
        return;
    }
    statusMenu_ = std::make_unique<QMenu>();
    const auto add = [this](const QString& title, void (AppDelegate::*command)()) {
        QAction* action = statusMenu_->addAction(title);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    add(QStringLiteral("Translate"), &AppDelegate::captureAndTranslateActiveWindow);
    add(QStringLiteral("Rewrite Message"), &AppDelegate::writeText);
    add(QStringLiteral("Edit Message"), &AppDelegate::editText);
    add(QStringLiteral("Write Message"), &AppDelegate::translateMessage);
    add(QStringLiteral("Flip Language"), &AppDelegate::flipLanguage);
    add(QStringLiteral("Dictation Scratchpad"), &AppDelegate::openDictationScratchpad);
    add(QStringLiteral("Create Prompt"), &AppDelegate::createPrompt);
    statusMenu_->addSeparator();
    add(QStringLiteral("Settings\u2026"), &AppDelegate::openSettings);
    add(QStringLiteral("Show Tutorial\u2026"), &AppDelegate::showTutorial);
    statusMenu_->addSeparator();
    add(QStringLiteral("Check for Updates\u2026"), &AppDelegate::checkForUpdates);
    add(QStringLiteral("Share Tavrolin\u2026"), &AppDelegate::shareApp);
    add(QStringLiteral("Write to the developer"), &AppDelegate::writeToDeveloper);
    statusMenu_->addSeparator();
    QAction* quitItem = statusMenu_->addAction(QStringLiteral("Quit"));
    // Queued, so the menu closes before the event loop ends.
    connect(quitItem, &QAction::triggered, this, [this] { quit(TelemetryTrigger::menu); }, Qt::QueuedConnection);

    statusItem_ = std::make_unique<QSystemTrayIcon>(AppMetadata::alertIcon());
    statusItem_->setToolTip(AppMetadata::appName);
    statusItem_->setContextMenu(statusMenu_.get());
    statusItem_->show();
}

void AppDelegate::captureAndTranslateActiveWindow() { startSmartTranslation(TelemetryTrigger::menu); }
void AppDelegate::translateMessage() { startMessageTranslation(TelemetryTrigger::menu); }
void AppDelegate::editText() { startTextEditing(TelemetryTrigger::menu); }
void AppDelegate::writeText() { startTextWriting(TelemetryTrigger::menu); }
void AppDelegate::flipLanguage() { startFlipLanguage(TelemetryTrigger::menu); }
void AppDelegate::openDictationScratchpad() { presentDictationScratchpad(); }
void AppDelegate::createPrompt() { startCreatePrompt(TelemetryTrigger::menu); }

// The windows and dialogs behind these commands come with their own subsystems.
void AppDelegate::openSettings() {}
void AppDelegate::showTutorial() {}
void AppDelegate::checkForUpdates() {}
void AppDelegate::shareApp() {}
void AppDelegate::writeToDeveloper() {}

}  // namespace tavrolin
