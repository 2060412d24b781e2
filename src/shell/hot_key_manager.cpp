#include "shell/hot_key_manager.h"

#include "core/capture_workflow_error.h"

#include <set>

namespace tavrolin {

HotKeyManager::HotKeyManager(std::shared_ptr<GlobalKeyGrabbing> grabber) : grabber_(std::move(grabber)) {
    grabber_->setPressedCallback([this](quint32 id) { handleHotKeyPressed(id); });
    grabber_->setGrabsLostCallback([this](quint32 id, GlobalKeyGrabStatus status) { handleGrabsLost(id, status); });
}

HotKeyManager::~HotKeyManager() {
    unregister();
    grabber_->setPressedCallback({});
    grabber_->setGrabsLostCallback({});
}

void HotKeyManager::handleGrabsLost(quint32 id, GlobalKeyGrabStatus status) {
    const auto shortcut = registeredHotKeys_.find(id);
    if (shortcut == registeredHotKeys_.end()) {
        return;  // unregistered since
    }
    // Only that shortcut is given up, and only until a keyboard change frees its key: the others
    // and every registration stay.
    const QString description = shortcut->second.displayName();
    const CaptureWorkflowError error = status == GlobalKeyGrabStatus::alreadyInUse
                                           ? CaptureWorkflowError::hotKeyAlreadyInUse(description)
                                           : CaptureWorkflowError::failedToRegisterHotKey(description);
    if (lostHandler_) {
        lostHandler_(error);
    }
}

void HotKeyManager::registerHotKey(HotKeyAction action, const HotKeyShortcut& shortcut, Handler handler,
                                   WhenKeyTaken whenTaken) {
    const quint32 id = rawValue(action);
    grabber_->release(id);
    // In place before the grab: the grabber may tell of a shortcut set aside while it grabs.
    handlers_[id] = std::move(handler);
    registeredHotKeys_[id] = shortcut;

    const GlobalKeyModifiers modifiers{shortcut.control, shortcut.shift, shortcut.option, shortcut.command};
    const bool setAside = whenTaken == WhenKeyTaken::setAside;
    const GlobalKeyGrabStatus status = setAside ? grabber_->grabOrSetAside(id, keysym(shortcut.key), modifiers)
                                                : grabber_->grab(id, keysym(shortcut.key), modifiers);
    if (status == GlobalKeyGrabStatus::grabbed || (setAside && status == GlobalKeyGrabStatus::alreadyInUse)) {
        return;
    }
    handlers_.erase(id);
    registeredHotKeys_.erase(id);
    switch (status) {
    case GlobalKeyGrabStatus::grabbed:
        break;
    case GlobalKeyGrabStatus::alreadyInUse:
        throw CaptureWorkflowError::hotKeyAlreadyInUse(shortcut.displayName());
    case GlobalKeyGrabStatus::noKeyCode:
    case GlobalKeyGrabStatus::failed:
        break;
    }
    throw CaptureWorkflowError::failedToRegisterHotKey(shortcut.displayName());
}

bool HotKeyManager::isSetAside(HotKeyAction action) const {
    return registeredHotKeys_.contains(rawValue(action)) && grabber_->isSetAside(rawValue(action));
}

void HotKeyManager::unregister() {
    grabber_->releaseAll();
    handlers_.clear();
    registeredHotKeys_.clear();
    suspended_ = false;
}

void HotKeyManager::suspend() {
    if (suspended_) {
        return;
    }
    suspended_ = true;
    for (const auto& [id, shortcut] : registeredHotKeys_) {
        grabber_->release(id);
    }
}

std::vector<CaptureWorkflowError> HotKeyManager::resume() {
    std::vector<CaptureWorkflowError> failures;
    if (!suspended_) {
        return failures;
    }
    suspended_ = false;
    const std::map<quint32, HotKeyShortcut> registered = registeredHotKeys_;
    for (const auto& [id, shortcut] : registered) {
        const std::optional<HotKeyAction> action = hotKeyActionFromRawValue(id);
        Handler handler = handlers_[id];
        try {
            if (!action) {
                throw CaptureWorkflowError::failedToRegisterHotKey(shortcut.displayName());
            }
            registerHotKey(*action, shortcut, std::move(handler), WhenKeyTaken::setAside);
        } catch (const CaptureWorkflowError& error) {
            handlers_.erase(id);
            registeredHotKeys_.erase(id);
            failures.push_back(error);
        }
    }
    return failures;
}

bool HotKeyManager::handleHotKeyPressed(quint32 id) {
    auto handler = handlers_.find(id);
    if (handler == handlers_.end() || !registeredHotKeys_.contains(id) || !handler->second) {
        return false;
    }
    // A copy: the handler may re-register shortcuts and so replace itself while it runs.
    const Handler run = handler->second;
    run();
    return true;
}

void registerHotKeys(HotKeyManager& manager, const AppSettings& settings,
                     const std::function<HotKeyManager::Handler(HotKeyAction)>& handlerFor, WhenKeyTaken whenTaken) {
    // A shortcut that waits for its key is not asked for anew by registering it again.
    std::set<HotKeyAction> stillAside;
    for (HotKeyAction action : allHotKeyActions) {
        const auto registered = manager.registeredHotKeys().find(rawValue(action));
        if (manager.isSetAside(action) && registered->second == settings.shortcut(action)) {
            stillAside.insert(action);
        }
    }
    manager.unregister();
    try {
        for (HotKeyAction action : allHotKeyActions) {
            manager.registerHotKey(action, settings.shortcut(action), handlerFor(action),
                                   stillAside.contains(action) ? WhenKeyTaken::setAside : whenTaken);
        }
    } catch (...) {
        manager.unregister();
        throw;
    }
}

}  // namespace tavrolin
