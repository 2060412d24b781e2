#pragma once

#include "core/app_settings.h"
#include "core/capture_workflow_error.h"
#include "core/hot_key_action.h"
#include "core/hot_key_shortcut.h"
#include "platform/global_key_grabbing.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace tavrolin {

// The application's global shortcuts: one system key grab per action, identified by the
// action's raw value (2 to 8), and the handler each press runs on the main thread.
class HotKeyManager {
public:
    using Handler = std::function<void()>;
    // Told when a shortcut is set aside because another program holds its key (after a keyboard
    // change, or at a registration that sets aside); the error names that shortcut, as a failed
    // registration would. It stays registered and comes back as soon as its key is free; the
    // others keep working. Told once per key, until the shortcut has worked on it in between.
    using RegistrationLostHandler = std::function<void(const CaptureWorkflowError&)>;

    explicit HotKeyManager(std::shared_ptr<GlobalKeyGrabbing> grabber);
    ~HotKeyManager();
    HotKeyManager(const HotKeyManager&) = delete;
    HotKeyManager& operator=(const HotKeyManager&) = delete;

    // Replaces whatever was registered for the action. Throws CaptureWorkflowError naming the
    // shortcut: hotKeyAlreadyInUse when another program holds the combination,
    // failedToRegisterHotKey for every other refusal. After a failure the action has nothing
    // registered.
    // With `whenTaken` setAside, a combination another program holds is not refused: it stays
    // registered, set aside, and the lost handler is told.
    void registerHotKey(HotKeyAction action, const HotKeyShortcut& shortcut, Handler handler,
                        WhenKeyTaken whenTaken = WhenKeyTaken::refuse);
    // Removes every registration; never fails.
    void unregister();

    void setRegistrationLostHandler(RegistrationLostHandler handler) { lostHandler_ = std::move(handler); }

    const std::map<quint32, HotKeyShortcut>& registeredHotKeys() const { return registeredHotKeys_; }
    // Registered, but waiting for another program to let its key go.
    bool isSetAside(HotKeyAction action) const;

    // Pausing: the system grabs are released while the registrations and handlers are kept, so
    // another window can take the combinations (the settings window's shortcut recorder);
    // resume() grabs them again. One whose key another program holds meanwhile is set aside;
    // one that cannot be grabbed for another reason is unregistered and its error returned, in
    // action order. Both are no-ops when there is nothing to do.
    void suspend();
    std::vector<CaptureWorkflowError> resume();
    bool isSuspended() const { return suspended_; }

    // A press of the grab registered under `id`: runs its handler. Ids without a handler and a
    // registered shortcut are declined (false) and run nothing.
    bool handleHotKeyPressed(quint32 id);

private:
    void handleGrabsLost(quint32 id, GlobalKeyGrabStatus status);

    std::shared_ptr<GlobalKeyGrabbing> grabber_;
    RegistrationLostHandler lostHandler_;
    std::map<quint32, Handler> handlers_;
    std::map<quint32, HotKeyShortcut> registeredHotKeys_;
    bool suspended_ = false;
};

// Registers the seven shortcuts of `settings` in action order, all or nothing: the manager is
// emptied first, and at the first failure it is emptied again and that error is thrown. With
// `whenTaken` setAside, a shortcut whose key another program holds is set aside instead of
// failing the others. With refuse, such a shortcut fails the registration unless it is the very
// shortcut already set aside for its action: that one stays set aside.
void registerHotKeys(HotKeyManager& manager, const AppSettings& settings,
                     const std::function<HotKeyManager::Handler(HotKeyAction)>& handlerFor,
                     WhenKeyTaken whenTaken = WhenKeyTaken::refuse);

}  // namespace tavrolin
