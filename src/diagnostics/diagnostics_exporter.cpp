#include "diagnostics/diagnostics_exporter.h"

#include "core/app_log.h"
#include "core/error_description.h"
#include "diagnostics/diagnostics_export_error.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrolin {

namespace {

const QString kFolderPrefix = QStringLiteral("Tavrolin-Diagnostics-");
const QString kLogFileName = QStringLiteral("tavrolin.log");
const QString kCrashFolderName = QStringLiteral("crashes");
const QString kCoredumpFileName = QStringLiteral("coredumpctl.txt");

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Removes the work folder when the export ends, by success or by error. A failed removal is
// left for the system to clear with the rest of the temporary folder.
class WorkFolderRemoval {
public:
    explicit WorkFolderRemoval(QString path) : path_(std::move(path)) {}
    ~WorkFolderRemoval() { QDir(path_).removeRecursively(); }
    WorkFolderRemoval(const WorkFolderRemoval&) = delete;
    WorkFolderRemoval& operator=(const WorkFolderRemoval&) = delete;

private:
    QString path_;
};

// Copies the lines of the last days from one log file to the open extract, oldest file first.
// A line whose time stamp cannot be read is kept: it may be the only clue.
void appendRecentLines(const QString& path, const QDateTime& since, QFile& extract, qint64 maximumBytes,
                       bool& truncated) {
    QFile file(path);
    if (!file.exists()) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not read the log file"), path,
                                                          file.errorString());
    }
    while (!truncated && !file.atEnd()) {
        const QByteArray line = file.readLine(1024 * 1024);
        const qsizetype space = line.indexOf(' ');
        if (space > 0) {
            const QDateTime stamp = QDateTime::fromString(QString::fromLatin1(line.left(space)), Qt::ISODateWithMs);
            if (stamp.isValid() && stamp < since) {
                continue;
            }
        }
        if (extract.size() + line.size() > maximumBytes) {
            truncated = true;
            break;
        }
        if (extract.write(line) != line.size()) {
            throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not write the file"),
                                                              extract.fileName(), extract.errorString());
        }
    }
}

}  // namespace

DiagnosticsLogSource DiagnosticsLogSource::current() {
    if (const auto path = AppLog::logFilePath()) {
        return file(*path);
    }
    return journal(QString::fromLatin1(AppLog::subsystem));
}

DiagnosticsExporter::Options DiagnosticsExporter::Options::system(std::shared_ptr<const ZipArchiveWriter> zipWriter) {
    Options options;
    options.zipWriter = std::move(zipWriter);
    options.now = [] { return QDateTime::currentDateTimeUtc(); };
    options.temporaryDirectory = [] { return QDir::tempPath(); };
    options.logSource = DiagnosticsLogSource::current();
    options.journalctlPath = QStandardPaths::findExecutable(QStringLiteral("journalctl"));
    if (options.journalctlPath.isEmpty()) {
        options.journalctlPath = QStringLiteral("/usr/bin/journalctl");
    }
    options.crashReportsDirectory = QStringLiteral("/var/crash");
    const QString coredumpctl = QStandardPaths::findExecutable(QStringLiteral("coredumpctl"));
    if (!coredumpctl.isEmpty()) {
        options.coredumpctlPath = coredumpctl;
    }
    options.crashLimits.timeout = std::chrono::seconds(15);
    options.crashLimits.maximumOutputBytes = 8LL * 1024 * 1024;
    return options;
}

DiagnosticsExporter::DiagnosticsExporter(std::shared_ptr<DiagnosticsCommandRunning> commandRunner, Options options)
    : commandRunner_(std::move(commandRunner)), options_(std::move(options)) {}

QString DiagnosticsExporter::timestamp(const QDateTime& time) {
    return diagnosticsISODate(time).replace(QLatin1Char(':'), QLatin1Char('-'));
}

QString DiagnosticsExporter::proposedFileName(const QDateTime& now) {
    return kFolderPrefix + timestamp(now) + QStringLiteral(".zip");
}

QString DiagnosticsExporter::exportArchive(const DiagnosticsSettingsSnapshot& settings,
                                           const QString& destinationPath) const {
    const QDateTime started = options_.now();
    const QString workPath =
        QDir(options_.temporaryDirectory())
            .filePath(kFolderPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    const QString packagePath = QDir(workPath).filePath(kFolderPrefix + timestamp(started));

    // A fresh private folder: mkdir fails rather than reuse anything already there.
    if (::mkdir(QFile::encodeName(workPath).constData(), 0700) != 0) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not create the folder"), workPath,
                                                          systemError(errno));
    }
    const WorkFolderRemoval removal(workPath);
    if (!QDir().mkdir(packagePath)) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not create the folder"), packagePath,
                                                          QString());
    }

    writeMetadata(settings, packagePath);
    writeLogExtract(packagePath, started);
    copyCrashReports(packagePath);
    zipPackage(packagePath, destinationPath);
    return destinationPath;
}

void DiagnosticsExporter::writeMetadata(const DiagnosticsSettingsSnapshot& settings, const QString& packagePath) const {
    const QByteArray data = DiagnosticsMetadata::current(options_.now(), settings).encoded();
    QSaveFile file(QDir(packagePath).filePath(QStringLiteral("metadata.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not write the file"), file.fileName(),
                                                          file.errorString());
    }
}

void DiagnosticsExporter::writeLogExtract(const QString& packagePath, const QDateTime& now) const {
    const QString extractPath = QDir(packagePath).filePath(kLogFileName);
    const DiagnosticsLogSource& source = options_.logSource;
    if (source.kind == DiagnosticsLogSource::Kind::journal) {
        const QStringList arguments{
            QStringLiteral("--no-pager"),
            QStringLiteral("--quiet"),
            QStringLiteral("--output=short-iso-precise"),
            QStringLiteral("--since=-%1d").arg(logExtractDays),
            QStringLiteral("--priority=info"),
            QStringLiteral("SYSLOG_IDENTIFIER=") + source.journalIdentifier,
        };
        commandRunner_->run(options_.journalctlPath, arguments, extractPath, options_.logLimits);
        return;
    }

    QFile extract(extractPath);
    if (!extract.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not create the file"), extractPath,
                                                          extract.errorString());
    }
    const QDateTime since = now.addDays(-logExtractDays);
    bool truncated = false;
    for (const QString& path : {source.logFilePath + QStringLiteral(".1"), source.logFilePath}) {
        appendRecentLines(path, since, extract, options_.logLimits.maximumOutputBytes, truncated);
    }
    if (!extract.flush()) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not write the file"), extractPath,
                                                          extract.errorString());
    }
}

QStringList DiagnosticsExporter::recentCrashReports(const QString& directory) {
    struct Candidate {
        QString path;
        QDateTime modified;
    };
    std::vector<Candidate> kept;
    // Hidden entries are not listed; links are listed so they can be refused below.
    const QFileInfoList entries =
        QDir(directory).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix().toLower() != QLatin1String("crash")) {
            continue;
        }
        if (!entry.fileName().contains(QLatin1String("tavrolin"), Qt::CaseInsensitive)) {
            continue;
        }
        // A regular file itself, not a link to one, and one this user may read (reports of
        // other users' processes are not ours to hand on, and would stop every export).
        struct stat info {};
        if (::lstat(QFile::encodeName(entry.absoluteFilePath()).constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
            ::access(QFile::encodeName(entry.absoluteFilePath()).constData(), R_OK) != 0) {
            continue;
        }
        kept.push_back(
            {entry.absoluteFilePath(),
             QDateTime::fromSecsSinceEpoch(info.st_mtim.tv_sec, Qt::UTC).addMSecs(info.st_mtim.tv_nsec / 1000000)});
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Candidate& a, const Candidate& b) { return a.modified > b.modified; });
    QStringList result;
    for (const Candidate& candidate : kept) {
        if (result.size() == maximumCrashReports) {
            break;
        }
        result.append(candidate.path);
    }
    return result;
}

void DiagnosticsExporter::copyCrashReports(const QString& packagePath) const {
    const QString crashPath = QDir(packagePath).filePath(kCrashFolderName);
    const auto ensureCrashFolder = [&] {
        if (!QDir().mkpath(crashPath)) {
            throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not create the folder"), crashPath,
                                                              QString());
        }
    };

    const QFileInfo folder(options_.crashReportsDirectory);
    if (folder.isDir()) {
        if (!folder.isReadable()) {
            throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not list the folder"),
                                                              options_.crashReportsDirectory, systemError(EACCES));
        }
        const QStringList reports = recentCrashReports(options_.crashReportsDirectory);
        if (!reports.isEmpty()) {
            ensureCrashFolder();
        }
        for (const QString& report : reports) {
            const QString target = QDir(crashPath).filePath(QFileInfo(report).fileName());
            QFile source(report);
            if (!source.copy(target)) {
                throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not copy the crash report"),
                                                                  report, source.errorString());
            }
        }
    }

    // The journal's core dumps of the application, where systemd-coredump collects them.
    // Best effort: no tool, no dumps ("No coredumps found" exits 1) or a failing tool all
    // mean nothing to add.
    if (options_.coredumpctlPath) {
        const QString scratch = QDir(packagePath).filePath(kCoredumpFileName);
        try {
            const QStringList arguments{QStringLiteral("--no-pager"),
                                        QStringLiteral("--quiet"),
                                        QStringLiteral("-r"),
                                        QStringLiteral("-n"),
                                        QString::number(maximumCrashReports),
                                        QStringLiteral("info"),
                                        QStringLiteral("COREDUMP_COMM=tavrolin")};
            const auto result =
                commandRunner_->run(*options_.coredumpctlPath, arguments, scratch, options_.crashLimits);
            if (result.outputBytes > 0) {
                ensureCrashFolder();
                const QString target = QDir(crashPath).filePath(kCoredumpFileName);
                if (!QFile::rename(scratch, target)) {
                    throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not move the file"),
                                                                      scratch, QString());
                }
            }
        } catch (const DiagnosticsExportError& error) {
            if (error.kind() == DiagnosticsExportError::Kind::fileOperationFailed) {
                throw;  // our own folder is failing: the export cannot go on
            }
        }
        QFile::remove(scratch);
    }
}

void DiagnosticsExporter::zipPackage(const QString& packagePath, const QString& destinationPath) const {
    const QByteArray destination = QFile::encodeName(destinationPath);
    struct stat info {};
    if (::lstat(destination.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            throw DiagnosticsExportError::destinationIsFolder(destinationPath);
        }
        if (S_ISLNK(info.st_mode)) {
            // The link itself is replaced, never what it points to.
            if (::unlink(destination.constData()) != 0) {
                throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not replace"), destinationPath,
                                                                  systemError(errno));
            }
        } else if (!S_ISREG(info.st_mode)) {
            throw DiagnosticsExportError::destinationNotAFile(destinationPath);
        }
    }

    const QDir base = QFileInfo(packagePath).dir();
    // Sorted, with each folder before its contents, so the archive lists predictably.
    QStringList paths{packagePath};
    QDirIterator it(packagePath, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        paths.append(it.next());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<ZipArchiveEntry> entries;
    entries.reserve(std::size_t(paths.size()));
    for (const QString& path : std::as_const(paths)) {
        const QFileInfo entry(path);
        const QString name = base.relativeFilePath(path);
        if (entry.isDir() && !entry.isSymLink()) {
            entries.push_back({name + QLatin1Char('/'), QString()});
        } else {
            entries.push_back({name, path});
        }
    }
    // An existing file is replaced only by a complete archive.
    if (!options_.zipWriter) {
        throw DiagnosticsExportError::archiveFailed(destinationPath, QStringLiteral("no zip writer"));
    }
    if (const auto failure = options_.zipWriter->write(destinationPath, entries)) {
        throw DiagnosticsExportError::archiveFailed(destinationPath, *failure);
    }
}

namespace DiagnosticsExportLog {

void exported(const QString& destinationPath) {
    AppLog::diagnostics().info(
        [&] { return QStringLiteral("diagnostics exported to ") + QFileInfo(destinationPath).fileName(); });
}

void failed(const std::exception& error) {
    AppLog::diagnostics().error(
        [&] { return QStringLiteral("diagnostics export failed: ") + errorDescription(error); });
}

void cancelled() {
    AppLog::diagnostics().info(QStringLiteral("diagnostics export cancelled"));
}

}  // namespace DiagnosticsExportLog

}  // namespace tavrolin
