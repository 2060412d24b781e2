// The status item, its menu, the application's keys and the menu commands.
#include "shell/app_actions.h"
#include "shell/app_delegate.h"
#include "shell/main_menu.h"
#include "shell/onboarding_hooks.h"
#include "shell/settings_coordinator.h"
#include "shell/share_prompt_coordinator.h"
#include "shell/status_menu.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace tavrolin {

void AppDelegate::configureMainMenu() {
    if (!mainMenu_) {
        mainMenu_ = std::make_unique<MainMenu>();
        mainMenu_->install();
    }
}

void AppDelegate::configureStatusItem() {
    if (statusMenuController_) {
        return;
    }
    // The items hold the delegate weakly: a menu outliving it does nothing.
    const QPointer<AppDelegate> self(this);
    const auto command = [self](void (AppDelegate::*member)()) {
        return [self, member] {
            if (self) {
                (self.data()->*member)();
            }
        };
    };
    StatusMenuActions actions;
    actions.runCommand = [self](HotKeyAction action) {
        if (self) {
            self->runCommand(action, TelemetryTrigger::menu);
        }
    };
    actions.openSettings = command(&AppDelegate::openSettings);
    actions.showTutorial = command(&AppDelegate::showTutorial);
    actions.checkForUpdates = command(&AppDelegate::checkForUpdates);
    actions.shareApp = command(&AppDelegate::shareApp);
    actions.writeDeveloper = command(&AppDelegate::writeToDeveloper);
    actions.quit = [self] {
        // Queued, so the menu closes before the event loop ends.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self) {
                    self->quit(TelemetryTrigger::menu);
                }
            },
            Qt::QueuedConnection);
    };
    statusMenuController_ = std::make_unique<StatusMenu>(std::move(actions));
    statusMenuController_->configure();
}

QSystemTrayIcon* AppDelegate::statusItem() const {
    return statusMenuController_ ? statusMenuController_->trayIcon() : nullptr;
}

QMenu* AppDelegate::statusMenu() const {
    return statusMenuController_ ? statusMenuController_->menu() : nullptr;
}

void AppDelegate::runCommand(HotKeyAction action, TelemetryTrigger trigger) {
    const QPointer<AppDelegate> self(this);
    const auto workflow = [self, action, trigger] {
        if (!self) {
            return;
        }
        switch (action) {
        case HotKeyAction::captureAndTranslateActiveWindow:
            self->startSmartTranslation(trigger);
            break;
        case HotKeyAction::translateMessage:
            self->startMessageTranslation(trigger);
            break;
        case HotKeyAction::editText:
            self->startTextEditing(trigger);
            break;
        case HotKeyAction::writeText:
            self->startTextWriting(trigger);
            break;
        case HotKeyAction::flipLanguage:
            self->startFlipLanguage(trigger);
            break;
        case HotKeyAction::openDictationScratchpad:
            self->presentDictationScratchpad();
            break;
        case HotKeyAction::createPrompt:
            self->startCreatePrompt(trigger);
            break;
        }
    };
    if (OnboardingHooks* onboarding = onboardingHooks()) {
        onboarding->route(action, workflow);
    } else {
        workflow();
    }
}

void AppDelegate::openSettings() {
    presentSettings(TelemetryTrigger::menu);
}

void AppDelegate::showTutorial() {
    if (OnboardingHooks* onboarding = onboardingHooks()) {
        onboarding->showTutorial();
    }
}

void AppDelegate::checkForUpdates() {
    updateHooks().checkForUpdates();
}

void AppDelegate::shareApp() {
    sharePromptCoordinator().shareApp();
}

void AppDelegate::writeToDeveloper() {
    appActions().writeDeveloper();
}

}  // namespace tavrolin
