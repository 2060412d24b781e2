#pragma once

#include "core/telemetry_action.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace tavrolin {

class AlertPresenting;

// What the user may share: a sentence and the website address.
struct ShareItems {
    QString text;
    QUrl url;

    static ShareItems defaults();
};

// The share question and the small sharing menu that replaces a system sharing picker. A
// presenter is made for one prompt and dropped after it.
class ShareAlertPresenter final {
public:
    static QString title();
    static QString message();
    static QStringList buttons();  // "Share Tavrolin…", "Not Now", "Don’t Ask Again"
    // The answers, as indexes of buttons().
    enum Answer { share = 0, notNow = 1, dontAskAgain = 2 };

    // Shows a modal informational alert and answers the index of the chosen button.
    using AskQuestion = std::function<int(const QString& title, const QString& message, const QStringList& buttons)>;
    // The question as the application's informational alert, with its alert icon. Closed
    // without a button (Escape, the window's close button) it answers "Not Now": only the button
    // itself turns the prompt off for good.
    static AskQuestion askThrough(AlertPresenting& alerts);
    using ReportEvent = std::function<void(TelemetryAction action, TelemetryTrigger trigger)>;
    // Where the sharing menu opens: absent when there is no tray icon (no menu then); a null
    // point when the tray host does not tell where its icon is (the menu opens at the pointer).
    using AnchorProvider = std::function<std::optional<QPoint>()>;
    // Opens the menu built for the items (the application pops it up without blocking).
    using ShowMenu = std::function<void(QMenu* menu, QPoint at)>;
    using ShareItemsProvider = std::function<ShareItems()>;

    // The anchor of a tray icon: none without an icon, a null point when the tray host does not
    // report where the icon is, else just below the icon's bottom-left corner.
    static std::optional<QPoint> trayIconAnchor(const QSystemTrayIcon* trayIcon);

    ShareAlertPresenter(AnchorProvider anchorProvider, AskQuestion askQuestion, ShowMenu showMenu = {},
                        ShareItemsProvider shareItemsProvider = {});

    void presentPrompt(const ReportEvent& report, TelemetryTrigger trigger, const std::function<void()>& onShare,
                       const std::function<void()>& onDismiss, const std::function<void()>& onDisable);
    // Answers whether a menu was shown.
    bool presentSharePicker();

private:
    AnchorProvider anchorProvider_;
    AskQuestion askQuestion_;
    ShowMenu showMenu_;
    ShareItemsProvider shareItemsProvider_;
};

// The sharing menu: copy the link, e-mail it, open the website. `openUrl` opens a URL with the
// desktop's handler (QDesktopServices by default; no shell is involved).
class ShareMenu final {
public:
    using OpenUrl = std::function<bool(const QUrl& url)>;

    static QMenu* create(const ShareItems& items, QWidget* parent = nullptr, OpenUrl openUrl = {});
    // mailto: with the sentence as subject and the sentence and link as body.
    static QUrl mailtoUrl(const ShareItems& items);
};

}  // namespace tavrolin
