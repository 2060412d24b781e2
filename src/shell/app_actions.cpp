#include "shell/app_actions.h"

#include "core/app_log.h"

#include <QCoroFuture>
#include <QFileDialog>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

namespace tavrolin {

namespace {

QString percentEncoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

bool isMailAddress(const QString& address) {
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || at != address.lastIndexOf(QLatin1Char('@')) || at == address.size() - 1) {
        return false;
    }
    for (const QChar c : address) {
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return true;
}

// What an export ended with, carried from the worker thread back to the main thread.
struct ExportOutcome {
    QString path;
    std::exception_ptr error;
};

}  // namespace

AppActions::AppActions(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

AppActions::~AppActions() = default;

QDateTime AppActions::now() const {
    return dependencies_.now ? dependencies_.now() : QDateTime::currentDateTimeUtc();
}

std::optional<QUrl> AppActions::makeSupportMailURL(const QString& address, const QString& appVersion) {
    const QString trimmed = address.trimmed();
    if (!isMailAddress(trimmed)) {
        return std::nullopt;
    }
    const QString subject = QStringLiteral("Tavrolin support - ") + appVersion;
    const QString body = QStringLiteral("Hi,\n\nI am using Tavrolin ") + appVersion +
                         QStringLiteral(
                             ".\n\nPlease describe what happened and attach a diagnostics zip if you "
                             "exported one.");
    // Built as encoded text: a query item value keeps "&", "+" and "=" only when encoded.
    const QString encodedAddress = QString::fromLatin1(QUrl::toPercentEncoding(trimmed, "@"));
    QUrl url(QStringLiteral("mailto:") + encodedAddress + QStringLiteral("?subject=") + percentEncoded(subject) +
                 QStringLiteral("&body=") + percentEncoded(body),
             QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

void AppActions::writeDeveloper() {
    const auto url = makeSupportMailURL(dependencies_.supportEmail, dependencies_.appVersion);
    if (!url || !dependencies_.openURL) {
        return;
    }
    dependencies_.openURL(*url);
}

QCoro::Task<void> AppActions::exportDiagnostics() {
    const auto weak = lifetime_.weak();
    const QString proposedName = DiagnosticsExporter::proposedFileName(now());
    const std::optional<QString> path =
        dependencies_.chooseExportPath ? dependencies_.chooseExportPath(proposedName) : std::nullopt;
    if (!path || path->isEmpty()) {
        DiagnosticsExportLog::cancelled();
        co_return;
    }
    const AppSettings settings = dependencies_.currentSettings ? dependencies_.currentSettings() : AppSettings();
    const std::shared_ptr<const DiagnosticsExporter> exporter =
        dependencies_.diagnosticsExporter ? dependencies_.diagnosticsExporter() : nullptr;
    const QString destination = *path;
    // The exporter waits for journalctl and writes the zip: keep that off the main thread.
    QFuture<ExportOutcome> future = QtConcurrent::run([exporter, settings, destination] {
        ExportOutcome outcome;
        try {
            if (!exporter) {
                throw std::logic_error("no diagnostics exporter");
            }
            outcome.path = exporter->exportArchive(settings, destination);
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    const ExportOutcome outcome = co_await future;
    auto* const self = weak.get();
    if (!self) {
        co_return;
    }
    const Dependencies& dependencies = self->dependencies_;
    if (!outcome.error) {
        DiagnosticsExportLog::exported(outcome.path);
        if (dependencies.showInformationalAlert) {
            dependencies.showInformationalAlert(
                QStringLiteral("Diagnostics Exported"),
                QStringLiteral("Tavrolin saved a diagnostics zip.\n\nAttach it when you email support."));
        }
        co_return;
    }
    QString message;
    try {
        std::rethrow_exception(outcome.error);
    } catch (const std::exception& error) {
        DiagnosticsExportLog::failed(error);
        message = dependencies.makeMessage ? dependencies.makeMessage(error) : QString::fromUtf8(error.what());
    } catch (...) {
        const std::runtime_error unknown("unknown error");
        DiagnosticsExportLog::failed(unknown);
        message = QStringLiteral("An unknown error occurred.");
    }
    if (dependencies.showAlert) {
        dependencies.showAlert(QStringLiteral("Could Not Export Diagnostics"), message);
    }
}

std::optional<QString> chooseDiagnosticsExportPath(const QString& proposedFileName, QWidget* parent) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    }
    QFileDialog dialog(parent, QStringLiteral("Export Diagnostics"), folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Zip archives (*.zip)"));
    dialog.setDefaultSuffix(QStringLiteral("zip"));
    dialog.selectFile(proposedFileName);
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) {
        return std::nullopt;
    }
    return files.front();
}

}  // namespace tavrolin
