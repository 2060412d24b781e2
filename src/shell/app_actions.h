#pragma once

#include "core/app_settings.h"
#include "core/lifetime_token.h"
#include "diagnostics/diagnostics_exporter.h"

#include <QCoroTask>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace tavrolin {

// Commands that act on the application as a whole: the support mail and the diagnostics
// export (quitting is the delegate's own quit()). Main thread only.
class AppActions final {
public:
    struct Dependencies {
        std::function<QDateTime()> now;  // empty: the current time
        // Runs the save dialog proposing `proposedFileName`; absent when the user cancelled or
        // chose nothing.
        std::function<std::optional<QString>(const QString& proposedFileName)> chooseExportPath;
        std::function<AppSettings()> currentSettings;
        // The lazily built exporter; it runs off the main thread.
        std::function<std::shared_ptr<const DiagnosticsExporter>()> diagnosticsExporter;
        std::function<void(const QString& title, const QString& message)> showInformationalAlert;
        std::function<void(const QString& title, const QString& message)> showAlert;
        // The alert text of an error (description, blank line, recovery suggestion).
        std::function<QString(const std::exception&)> makeMessage;
        std::function<bool(const QUrl&)> openURL;
        QString supportEmail;
        QString appVersion;
    };

    explicit AppActions(Dependencies dependencies);
    ~AppActions();
    AppActions(const AppActions&) = delete;
    AppActions& operator=(const AppActions&) = delete;

    // Opens a new message to the support address in the user's mail application; does
    // nothing when no address can be formed.
    void writeDeveloper();
    // Asks where to save, writes the archive off the main thread, logs and tells the outcome.
    QCoro::Task<void> exportDiagnostics();

    // "mailto:<address>?subject=...&body=..." with both values percent-encoded (line breaks,
    // "&", "+", "=" included); absent for an address that is blank or not of the form
    // local@domain without white space.
    static std::optional<QUrl> makeSupportMailURL(const QString& address, const QString& appVersion);

private:
    QDateTime now() const;

    Dependencies dependencies_;
    LifetimeToken<AppActions> lifetime_{this};
};

// The application's save dialog: title "Export Diagnostics", zip archives only, in the user's
// documents folder, brought to the front. Absent when cancelled.
std::optional<QString> chooseDiagnosticsExportPath(const QString& proposedFileName, QWidget* parent = nullptr);

}  // namespace tavrolin
