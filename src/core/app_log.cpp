#include "core/app_log.h"

#include "core/private_storage.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {

// ---- rotating file

struct RotatingFileLogSink::State {
    std::mutex mutex;
    QFile file;
    bool broken = false;  // the folder or file cannot be written: stop trying

    // Opens (or creates) the log for appending; the user's alone, as its folder.
    bool open() {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            broken = true;
            return false;
        }
        closeToOtherUsers(file.handle());
        return true;
    }
};

RotatingFileLogSink::RotatingFileLogSink(QString filePath, qint64 maximumBytes, LogLevel minimumLevel)
    : filePath_(std::move(filePath)),
      maximumBytes_(std::max<qint64>(maximumBytes, 1024)),
      minimumLevel_(minimumLevel),
      state_(std::make_unique<State>()) {}

RotatingFileLogSink::~RotatingFileLogSink() = default;

QString RotatingFileLogSink::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return base + QStringLiteral("/tavrolin/tavrolin.log");
}

bool RotatingFileLogSink::isEnabled(LogCategory, LogLevel level) const {
    return level >= minimumLevel_;
}

void RotatingFileLogSink::write(LogCategory category, LogLevel level, const QString& message) {
    QString flat = message;
    flat.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    flat.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    flat.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    const QByteArray line = (QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
                             logLevelName(level) + QLatin1Char(' ') + logCategoryName(category) +
                             QStringLiteral(" [%1] ").arg(::getpid()) + flat + QLatin1Char('\n'))
                                .toUtf8();

    std::lock_guard lock(state_->mutex);
    if (state_->broken) {
        return;
    }
    QFile& file = state_->file;
    if (!file.isOpen()) {
        makePrivateFolder(QFileInfo(filePath_).absolutePath());
        // What an earlier version left open to others is closed before anything is added.
        closeToOtherUsers(filePath_ + QStringLiteral(".1"));
        file.setFileName(filePath_);
        if (!state_->open()) {
            return;
        }
    }
    // Another process (a second launch) may write to the same file, and may have rotated it:
    // then our descriptor points at the old file, and the path is reopened.
    const QByteArray nativePath = QFile::encodeName(filePath_);
    struct stat onDisk {};
    struct stat ours {};
    if (::stat(nativePath.constData(), &onDisk) != 0 || ::fstat(file.handle(), &ours) != 0 ||
        onDisk.st_ino != ours.st_ino || onDisk.st_dev != ours.st_dev) {
        file.close();
        if (!state_->open()) {
            return;
        }
        ::stat(nativePath.constData(), &onDisk);
    }
    const qint64 size = onDisk.st_size;
    if (size > 0 && size + line.size() > maximumBytes_) {
        file.close();
        const QString previous = filePath_ + QStringLiteral(".1");
        QFile::remove(previous);
        QFile::rename(filePath_, previous);
        if (!state_->open()) {
            return;
        }
    }
    file.write(line);
    file.flush();
}

// ---- loggers

namespace {

struct SinkHolder {
    std::mutex mutex;
    std::shared_ptr<LogSink> sink;
    bool isDefault = false;  // chosen here, not installed by a test
    std::optional<QString> filePath;
    std::shared_ptr<LogSink> journal;
    bool journalRunning = false;
};

SinkHolder& holder() {
    static SinkHolder instance;
    return instance;
}

// Caller holds the mutex.
void installDefaultSink(SinkHolder& h) {
    const QString forced = qEnvironmentVariable("TAVROLIN_LOG_BACKEND").trimmed().toLower();
    const bool useJournal =
        h.journal && (forced == QStringLiteral("journald") || (forced != QStringLiteral("file") && h.journalRunning));
    h.isDefault = true;
    if (useJournal) {
        h.sink = h.journal;
        h.filePath.reset();
    } else {
        auto file = std::make_shared<RotatingFileLogSink>(RotatingFileLogSink::defaultFilePath());
        h.filePath = file->filePath();
        h.sink = std::move(file);
    }
}

}  // namespace

bool Logger::isEnabled(LogLevel level) const {
    return AppLog::sink()->isEnabled(category_, level);
}

void Logger::log(LogLevel level, const QString& message) const {
    const auto sink = AppLog::sink();
    if (sink->isEnabled(category_, level)) {
        sink->write(category_, level, message);
    }
}

void Logger::write(LogLevel level, const QString& message) const {
    AppLog::sink()->write(category_, level, message);
}

namespace AppLog {

const Logger& app() {
    static const Logger logger(LogCategory::app);
    return logger;
}
const Logger& diagnostics() {
    static const Logger logger(LogCategory::diagnostics);
    return logger;
}
const Logger& telemetry() {
    static const Logger logger(LogCategory::telemetry);
    return logger;
}
const Logger& capture() {
    static const Logger logger(LogCategory::capture);
    return logger;
}
const Logger& updates() {
    static const Logger logger(LogCategory::updates);
    return logger;
}
const Logger& network() {
    static const Logger logger(LogCategory::network);
    return logger;
}
const Logger& screenshotTranslation() {
    static const Logger logger(LogCategory::screenshotTranslation);
    return logger;
}

std::shared_ptr<LogSink> sink() {
    SinkHolder& h = holder();
    std::lock_guard lock(h.mutex);
    if (!h.sink) {
        installDefaultSink(h);
    }
    return h.sink;
}

void useSystemJournal(std::shared_ptr<LogSink> journal, bool isRunning) {
    SinkHolder& h = holder();
    std::lock_guard lock(h.mutex);
    h.journal = std::move(journal);
    h.journalRunning = isRunning;
    if (!h.sink || h.isDefault) {
        installDefaultSink(h);
    }
}

std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink) {
    SinkHolder& h = holder();
    std::lock_guard lock(h.mutex);
    auto previous = std::move(h.sink);
    h.sink = std::move(sink);
    h.isDefault = false;
    h.filePath.reset();
    if (!h.sink) {
        installDefaultSink(h);
    }
    return previous;
}

std::optional<QString> logFilePath() {
    SinkHolder& h = holder();
    std::lock_guard lock(h.mutex);
    if (!h.sink) {
        installDefaultSink(h);
    }
    return h.filePath;
}

}  // namespace AppLog

}  // namespace tavrolin
