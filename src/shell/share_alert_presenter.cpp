#include "shell/share_alert_presenter.h"

#include "core/app_log.h"
#include "core/app_metadata.h"
#include "core/linux_wording.h"
#include "shell/alert_presenting.h"

#include <QAction>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QUrlQuery>

namespace tavrolin {

ShareItems ShareItems::defaults() {
    return {linuxWording(u"Check out Tavrolin \u2014 instant screenshot & text translation on macOS."),
            AppMetadata::websiteURL()};
}

QString ShareAlertPresenter::title() {
    return QStringLiteral("Enjoying Tavrolin?");
}

QString ShareAlertPresenter::message() {
    return QStringLiteral("If you find ") + AppMetadata::appName +
           QString::fromUtf8(
               " useful, help others discover it by sharing it with a friend. You can choose "
               "\u201CDon\u2019t Ask Again\u201D to stop seeing this prompt.");
}

QStringList ShareAlertPresenter::buttons() {
    return {QString::fromUtf8("Share Tavrolin\u2026"), QStringLiteral("Not Now"),
            QString::fromUtf8("Don\u2019t Ask Again")};
}

ShareAlertPresenter::ShareAlertPresenter(AnchorProvider anchorProvider, AskQuestion askQuestion, ShowMenu showMenu,
                                         ShareItemsProvider shareItemsProvider)
    : anchorProvider_(std::move(anchorProvider)),
      askQuestion_(std::move(askQuestion)),
      showMenu_(std::move(showMenu)),
      shareItemsProvider_(std::move(shareItemsProvider)) {
    if (!showMenu_) {
        showMenu_ = [](QMenu* menu, QPoint at) { menu->popup(at); };
    }
    if (!shareItemsProvider_) {
        shareItemsProvider_ = &ShareItems::defaults;
    }
}

void ShareAlertPresenter::presentPrompt(const ReportEvent& report, TelemetryTrigger trigger,
                                        const std::function<void()>& onShare, const std::function<void()>& onDismiss,
                                        const std::function<void()>& onDisable) {
    const auto send = [&](TelemetryAction action) {
        if (report) {
            report(action, trigger);
        }
    };
    send(TelemetryAction::sharePromptShown);
    const QStringList choices = buttons();
    const int answer = askQuestion_ ? askQuestion_(title(), message(), choices) : notNow;
    switch (answer) {
    case share:
        send(TelemetryAction::shareApp);
        presentSharePicker();
        if (onShare) {
            onShare();
        }
        break;
    case dontAskAgain:
        send(TelemetryAction::sharePromptDisabled);
        if (onDisable) {
            onDisable();
        }
        break;
    default:
        // "Not Now", and an alert closed without a button.
        send(TelemetryAction::shareDismissed);
        if (onDismiss) {
            onDismiss();
        }
        break;
    }
}

ShareAlertPresenter::AskQuestion ShareAlertPresenter::askThrough(AlertPresenting& alerts) {
    return [&alerts](const QString& title, const QString& message, const QStringList& buttons) {
        Alert question{AlertStyle::informational, title, message, AppMetadata::alertIcon(), buttons};
        question.cancelButton = notNow;
        return alerts.present(question);
    };
}

std::optional<QPoint> ShareAlertPresenter::trayIconAnchor(const QSystemTrayIcon* trayIcon) {
    if (!trayIcon) {
        return std::nullopt;
    }
    const QRect geometry = trayIcon->geometry();
    if (!geometry.isValid() || geometry.isEmpty()) {
        return QPoint();
    }
    return geometry.bottomLeft() + QPoint(0, 1);
}

bool ShareAlertPresenter::presentSharePicker() {
    const std::optional<QPoint> anchor = anchorProvider_ ? anchorProvider_() : std::nullopt;
    if (!anchor) {
        return false;
    }
    QMenu* menu = ShareMenu::create(shareItemsProvider_());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    showMenu_(menu, anchor->isNull() ? QCursor::pos() : *anchor);
    return true;
}

QUrl ShareMenu::mailtoUrl(const ShareItems& items) {
    QUrl url(QStringLiteral("mailto:"));
    QUrlQuery query;
    // Encoded by hand so that "&", "+" and the like in the text survive every mail client.
    const auto encode = [](const QString& s) { return QString::fromLatin1(QUrl::toPercentEncoding(s)); };
    query.addQueryItem(QStringLiteral("subject"), encode(items.text));
    query.addQueryItem(QStringLiteral("body"), encode(items.text + QStringLiteral("\n\n") + items.url.toString()));
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

QMenu* ShareMenu::create(const ShareItems& items, QWidget* parent, OpenUrl openUrl) {
    if (!openUrl) {
        openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    }
    auto* menu = new QMenu(parent);
    const QString link = items.url.toString();
    QObject::connect(menu->addAction(QStringLiteral("Copy Link")), &QAction::triggered, menu,
                     [link] { QGuiApplication::clipboard()->setText(link); });
    QObject::connect(menu->addAction(QString::fromUtf8("Email Link\u2026")), &QAction::triggered, menu,
                     [openUrl, url = mailtoUrl(items)] {
                         if (!openUrl(url)) {
                             AppLog::app().notice(QStringLiteral("No mail client opened the share link"));
                         }
                     });
    QObject::connect(menu->addAction(QStringLiteral("Open Website")), &QAction::triggered, menu,
                     [openUrl, url = items.url] {
                         if (!openUrl(url)) {
                             AppLog::app().notice(QStringLiteral("No browser opened the website"));
                         }
                     });
    return menu;
}

}  // namespace tavrolin
