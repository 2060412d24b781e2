#pragma once

#include <memory>

namespace tavrolin {

// What the process entry drives once the lock is held and the application object exists.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // Right before the event loop starts.
    virtual void applicationDidFinishLaunching() = 0;
    // When the event loop is about to end.
    virtual void applicationWillTerminate() = 0;
    // Another launch asked this instance to come forward: raise the open window, if any.
    virtual void activateFromAnotherLaunch() = 0;
};

// The delegate the entry installs.
std::unique_ptr<ApplicationDelegate> makeApplicationDelegate();

}  // namespace tavrolin
