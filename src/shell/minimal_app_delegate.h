#pragma once

#include "shell/application_delegate.h"

#include <QObject>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace tavrolin {

// The delegate until the full one exists: writes the launch line and shows the tray icon with
// a "Quit" item. No main window.
class MinimalAppDelegate final : public QObject, public ApplicationDelegate {
    Q_OBJECT
public:
    MinimalAppDelegate();
    ~MinimalAppDelegate() override;

    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void activateFromAnotherLaunch() override;

private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
};

}  // namespace tavrolin
