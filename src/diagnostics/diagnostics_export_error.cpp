#include "diagnostics/diagnostics_export_error.h"

#include <cstring>

namespace tavrolin {

namespace {

const QString kTryAgain = QStringLiteral("Try exporting diagnostics again.");
const QString kChooseAnother = QStringLiteral("Choose another name or folder and try exporting diagnostics again.");

}  // namespace

DiagnosticsExportError::DiagnosticsExportError(Kind kind, QString description, QString recoverySuggestion)
    : std::runtime_error(description.toStdString()),
      kind_(kind),
      description_(std::move(description)),
      recoverySuggestion_(std::move(recoverySuggestion)) {}

DiagnosticsExportError DiagnosticsExportError::commandFailed(const QString& executable, int status,
                                                             const QString& standardError) {
    const QString trimmed = standardError.trimmed();
    DiagnosticsExportError error(
        Kind::commandFailed,
        executable + QStringLiteral(" failed with exit code ") + QString::number(status) + QLatin1Char('.'),
        trimmed.isEmpty() ? kTryAgain : trimmed);
    error.executable_ = executable;
    error.status_ = status;
    error.standardError_ = trimmed;
    return error;
}

DiagnosticsExportError DiagnosticsExportError::commandKilled(const QString& executable, int signalNumber,
                                                             const QString& standardError) {
    const QString trimmed = standardError.trimmed();
    const char* name = ::strsignal(signalNumber);
    DiagnosticsExportError error(Kind::commandKilled,
                                 QStringLiteral("%1 was ended by signal %2 (%3).")
                                     .arg(executable)
                                     .arg(signalNumber)
                                     .arg(name ? QString::fromLocal8Bit(name) : QStringLiteral("unknown")),
                                 trimmed.isEmpty() ? kTryAgain : trimmed);
    error.executable_ = executable;
    error.signal_ = signalNumber;
    error.standardError_ = trimmed;
    return error;
}

DiagnosticsExportError DiagnosticsExportError::commandTimedOut(const QString& executable, int seconds) {
    DiagnosticsExportError error(
        Kind::commandTimedOut,
        QStringLiteral("%1 did not finish within %2 seconds and was stopped.").arg(executable).arg(seconds), kTryAgain);
    error.executable_ = executable;
    return error;
}

DiagnosticsExportError DiagnosticsExportError::commandNotStarted(const QString& executable, const QString& reason) {
    DiagnosticsExportError error(Kind::commandNotStarted,
                                 QStringLiteral("%1 could not be started: %2.").arg(executable, reason), kTryAgain);
    error.executable_ = executable;
    return error;
}

DiagnosticsExportError DiagnosticsExportError::destinationIsFolder(const QString& path) {
    return DiagnosticsExportError(Kind::destinationInvalid,
                                  QStringLiteral("A folder named %1 is already there; Tavrolin does not replace "
                                                 "folders with the diagnostics archive.")
                                      .arg(path),
                                  kChooseAnother);
}

DiagnosticsExportError DiagnosticsExportError::destinationNotAFile(const QString& path) {
    return DiagnosticsExportError(Kind::destinationInvalid,
                                  QStringLiteral("%1 is not a regular file and cannot be replaced with the "
                                                 "diagnostics archive.")
                                      .arg(path),
                                  kChooseAnother);
}

DiagnosticsExportError DiagnosticsExportError::fileOperationFailed(const QString& action, const QString& path,
                                                                   const QString& reason) {
    QString description = action + QLatin1Char(' ') + path;
    if (!reason.isEmpty()) {
        description += QStringLiteral(": ") + reason;
    }
    description += QLatin1Char('.');
    return DiagnosticsExportError(Kind::fileOperationFailed, description, kTryAgain);
}

DiagnosticsExportError DiagnosticsExportError::archiveFailed(const QString& path, const QString& reason) {
    return DiagnosticsExportError(
        Kind::archiveFailed, QStringLiteral("The diagnostics archive %1 could not be written: %2.").arg(path, reason),
        kChooseAnother);
}

}  // namespace tavrolin
