#pragma once

#include "diagnostics/diagnostics_command_runner.h"
#include "diagnostics/diagnostics_metadata.h"
#include "platform/zip_archive_writer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Where the log extract comes from: the journal (through journalctl, by the application's
// syslog identifier) when the application logs there, else its own rotating log file.
struct DiagnosticsLogSource {
    enum class Kind { journal, file };
    Kind kind = Kind::journal;
    QString journalIdentifier;  // journal: the SYSLOG_IDENTIFIER of the application's lines
    QString logFilePath;        // file: the current file; "<path>.1" holds the older lines

    static DiagnosticsLogSource journal(QString identifier) { return {Kind::journal, std::move(identifier), {}}; }
    static DiagnosticsLogSource file(QString path) { return {Kind::file, {}, std::move(path)}; }
    // The back end the application's log is using now.
    static DiagnosticsLogSource current();
};

// Writes a diagnostics zip for support: one top folder "Tavrolin-Diagnostics-<time stamp>"
// holding "metadata.json", "tavrolin.log" (the last 7 days of the application's log) and,
// when any were found, "crashes" with up to 10 recent crash reports. Everything is assembled
// in a private work folder under the temporary folder, which is removed again whatever
// happens once it exists. Synchronous: every tool it runs is bounded in time and output.
class DiagnosticsExporter final {
public:
    struct Options {
        std::function<QDateTime()> now;
        std::function<QString()> temporaryDirectory;
        DiagnosticsLogSource logSource;
        QString journalctlPath;
        // Crash reports: "*.crash" files whose names hold "tavrolin" in this folder, and the
        // coredumpctl text of the application's recent crashes when that tool exists.
        QString crashReportsDirectory;
        std::optional<QString> coredumpctlPath;
        DiagnosticsCommandLimits logLimits;
        DiagnosticsCommandLimits crashLimits;
        // Writes the zip; without one every export fails as an archive that could not be written.
        std::shared_ptr<const ZipArchiveWriter> zipWriter;

        // The system's clock, temporary folder, log back end, journalctl and coredumpctl from
        // PATH, and /var/crash, writing with the given zip writer (the desktop's loads its
        // library with the first export).
        static Options system(std::shared_ptr<const ZipArchiveWriter> zipWriter);
    };

    static constexpr int maximumCrashReports = 10;
    static constexpr qint64 logExtractDays = 7;

    DiagnosticsExporter(std::shared_ptr<DiagnosticsCommandRunning> commandRunner, Options options);

    // Writes the archive to `destinationPath` and returns that path. An existing file or link
    // there is replaced; a folder or another kind of file is never touched
    // (DiagnosticsExportError, destinationInvalid). Throws DiagnosticsExportError.
    QString exportArchive(const DiagnosticsSettingsSnapshot& settings, const QString& destinationPath) const;
    QString exportArchive(const AppSettings& settings, const QString& destinationPath) const {
        return exportArchive(DiagnosticsSettingsSnapshot::from(settings), destinationPath);
    }

    // "2026-12-06T10-17-53Z": ISO 8601 in UTC with every ":" written "-".
    static QString timestamp(const QDateTime& time);
    // The name a save dialog proposes: "Tavrolin-Diagnostics-<time stamp>.zip".
    static QString proposedFileName(const QDateTime& now);
    // The crash report files of `directory` that go into an archive, newest first.
    static QStringList recentCrashReports(const QString& directory);

    const Options& options() const { return options_; }

private:
    void writeMetadata(const DiagnosticsSettingsSnapshot& settings, const QString& packagePath) const;
    void writeLogExtract(const QString& packagePath, const QDateTime& now) const;
    void copyCrashReports(const QString& packagePath) const;
    void zipPackage(const QString& packagePath, const QString& destinationPath) const;

    std::shared_ptr<DiagnosticsCommandRunning> commandRunner_;
    Options options_;
};

// The outcome lines of an export, on the "diagnostics" log category.
namespace DiagnosticsExportLog {
// "diagnostics exported to <file name>" (the name only, not the folder).
void exported(const QString& destinationPath);
// "diagnostics export failed: <description>" at error level.
void failed(const std::exception& error);
// "diagnostics export cancelled".
void cancelled();
}  // namespace DiagnosticsExportLog

}  // namespace tavrolin
