#include "shell/hot_key_manager.h"

#include "core/capture_workflow_error.h"

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

void HotKeyManager::registerHotKey(HotKeyAction action, const HotKeyShortcut& shortcut, Handler handler) {
    const quint32 id = rawValue(action);
    grabber_->release(id);
    handlers_.erase(id);
    registeredHotKeys_.erase(id);

    const GlobalKeyModifiers modifiers{shortcut.control, shortcut.shift, shortcut.option, shortcut.command};
    switch (grabber_->grab(id, keysym(shortcut.key), modifiers)) {
    case GlobalKeyGrabStatus::grabbed:
        handlers_[id] = std::move(handler);
        registeredHotKeys_[id] = shortcut;
        return;
    case GlobalKeyGrabStatus::alreadyInUse:
        throw CaptureWorkflowError::hotKeyAlreadyInUse(shortcut.displayName());
    case GlobalKeyGrabStatus::noKeyCode:
    case GlobalKeyGrabStatus::failed:
        break;
    }
    throw CaptureWorkflowError::failedToRegisterHotKey(shortcut.displayName());
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
            registerHotKey(*action, shortcut, std::move(handler));
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
                     const std::function<HotKeyManager::Handler(HotKeyAction)>& handlerFor) {
    manager.unregister();
    try {
        for (HotKeyAction action : allHotKeyActions) {
            manager.registerHotKey(action, settings.shortcut(action), handlerFor(action));
        }
    } catch (...) {
        manager.unregister();
        throw;
    }
}

}  // namespace tavrolin
