#pragma once

#include "core/app_settings.h"
#include "core/hot_key_action.h"

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tavrolin {

// What the status menu's items do; the application delegate supplies them.
struct StatusMenuActions {
    std::function<void(HotKeyAction)> runCommand;  // the seven command items
    std::function<void()> openSettings;
    std::function<void()> showTutorial;
    std::function<void()> checkForUpdates;
    std::function<void()> shareApp;
    std::function<void()> writeDeveloper;
    std::function<void()> quit;
};

// The tray icon and its menu: every command of the application, titles that name the current
// shortcuts and languages, and items that need online features disabled while they are off.
class StatusMenu final : public QObject {
    Q_OBJECT
public:
    explicit StatusMenu(StatusMenuActions actions, QObject* parent = nullptr);
    ~StatusMenu() override;

    // Creates the tray icon and the menu with the bare titles. Runs once; later calls do nothing.
    void configure();
    // Rewrites titles, the tray tool tip and the online-dependent states from `settings` alone.
    // Does nothing before configure().
    void refresh(const AppSettings& settings);

    bool isConfigured() const { return menu_ != nullptr; }
    QSystemTrayIcon* trayIcon() const { return trayIcon_.get(); }
    QMenu* menu() const { return menu_.get(); }
    // The item of a command, or null before configure().
    QAction* commandItem(HotKeyAction action) const;
    QAction* checkForUpdatesItem() const { return checkForUpdatesItem_; }
    QAction* shareItem() const { return shareItem_; }

    // The tray's ten-line tool tip for a settings value.
    static QString toolTip(const AppSettings& settings);
    // The refreshed title of a command item: "Translate (Russian) (Control+Shift+T)".
    static QString commandItemTitle(HotKeyAction action, const AppSettings& settings);
    // A single-colour icon drawn in `color` (the panel's text colour).
    static QIcon trayIconImage(const QColor& color);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateTrayIconImage();

    StatusMenuActions actions_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    std::array<QAction*, allHotKeyActions.size()> commandItems_{};
    QAction* checkForUpdatesItem_ = nullptr;
    QAction* shareItem_ = nullptr;
};

}  // namespace tavrolin
