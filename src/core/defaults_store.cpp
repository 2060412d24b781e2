#include "core/defaults_store.h"

#include "core/app_log.h"
#include "core/private_storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace tavrolin {

namespace {

const QString kDateTag = QStringLiteral("$date");
const QString kDataTag = QStringLiteral("$data");

std::optional<double> numberFromString(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<qint64> clampToInteger(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double truncated = std::trunc(value);
    if (truncated >= 9.2233720368547758e18 || truncated < -9.2233720368547758e18) {
        return std::nullopt;
    }
    return static_cast<qint64>(truncated);
}

bool isTagged(const QJsonValue& value, const QString& tag) {
    return value.isObject() && value.toObject().size() == 1 && value.toObject().value(tag).isString();
}

}  // namespace

QString DefaultsStore::string(const QString& key, const QString& fallback) const {
    const auto value = rawValue(key);
    if (!value) {
        return fallback;
    }
    if (value->isString()) {
        return value->toString();
    }
    if (value->isBool()) {
        return value->toBool() ? QStringLiteral("1") : QStringLiteral("0");
    }
    if (value->isDouble()) {
        const double d = value->toDouble();
        if (const auto asInt = clampToInteger(d); asInt && static_cast<double>(*asInt) == d) {
            return QString::number(*asInt);
        }
        return QString::number(d, 'g', 17);
    }
    return fallback;
}

qint64 DefaultsStore::integer(const QString& key, qint64 fallback) const {
    const auto value = rawValue(key);
    if (!value) {
        return fallback;
    }
    if (value->isBool()) {
        return value->toBool() ? 1 : 0;
    }
    std::optional<double> number;
    if (value->isDouble()) {
        number = value->toDouble();
    } else if (value->isString()) {
        bool ok = false;
        const qint64 exact = value->toString().trimmed().toLongLong(&ok);
        if (ok) {
            return exact;
        }
        number = numberFromString(value->toString());
    }
    if (!number) {
        return fallback;
    }
    return clampToInteger(*number).value_or(fallback);
}

double DefaultsStore::doubleValue(const QString& key, double fallback) const {
    const auto value = rawValue(key);
    if (!value) {
        return fallback;
    }
    if (value->isBool()) {
        return value->toBool() ? 1.0 : 0.0;
    }
    if (value->isDouble()) {
        return value->toDouble();
    }
    if (value->isString()) {
        return numberFromString(value->toString()).value_or(fallback);
    }
    return fallback;
}

bool DefaultsStore::boolValue(const QString& key, bool fallback) const {
    const auto value = rawValue(key);
    if (!value) {
        return fallback;
    }
    if (value->isBool()) {
        return value->toBool();
    }
    if (value->isDouble()) {
        return value->toDouble() != 0.0;
    }
    if (value->isString()) {
        const QString text = value->toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes")) {
            return true;
        }
        if (text == QLatin1String("false") || text == QLatin1String("no")) {
            return false;
        }
        if (const auto number = numberFromString(text)) {
            return *number != 0.0;
        }
    }
    return fallback;
}

std::optional<QByteArray> DefaultsStore::dataIfPresent(const QString& key) const {
    const auto value = rawValue(key);
    if (!value || !isTagged(*value, kDataTag)) {
        return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(value->toObject().value(kDataTag).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return *decoded;
}

QByteArray DefaultsStore::data(const QString& key, const QByteArray& fallback) const {
    return dataIfPresent(key).value_or(fallback);
}

std::optional<QDateTime> DefaultsStore::date(const QString& key) const {
    const auto value = rawValue(key);
    if (!value || !isTagged(*value, kDateTag)) {
        return std::nullopt;
    }
    const QDateTime parsed = QDateTime::fromString(value->toObject().value(kDateTag).toString(), Qt::ISODateWithMs);
    if (!parsed.isValid()) {
        return std::nullopt;
    }
    return parsed;
}

bool DefaultsStore::setString(const QString& key, const QString& value) {
    return setRawValue(key, value);
}
bool DefaultsStore::setInteger(const QString& key, qint64 value) {
    return setRawValue(key, static_cast<double>(value));
}
bool DefaultsStore::setDouble(const QString& key, double value) {
    if (!std::isfinite(value)) {
        return false;  // JSON cannot hold it, and a stored NaN would poison every later read
    }
    return setRawValue(key, value);
}
bool DefaultsStore::setBool(const QString& key, bool value) {
    return setRawValue(key, value);
}
bool DefaultsStore::setData(const QString& key, const QByteArray& value) {
    return setRawValue(key, QJsonObject{{kDataTag, QString::fromLatin1(value.toBase64())}});
}
bool DefaultsStore::setDate(const QString& key, const QDateTime& value) {
    if (!value.isValid()) {
        return false;
    }
    return setRawValue(key, QJsonObject{{kDateTag, value.toUTC().toString(Qt::ISODateWithMs)}});
}

// ---- in memory

bool InMemoryDefaultsStore::remove(const QString& key) {
    std::lock_guard lock(mutex_);
    if (!writable_) {
        return false;
    }
    values_.remove(key);
    return true;
}

std::optional<QJsonValue> InMemoryDefaultsStore::rawValue(const QString& key) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.constFind(key);
    if (it == values_.constEnd() || it->isNull() || it->isUndefined()) {
        return std::nullopt;
    }
    return *it;
}

bool InMemoryDefaultsStore::setRawValue(const QString& key, const QJsonValue& value) {
    std::lock_guard lock(mutex_);
    if (!writable_) {
        return false;
    }
    values_.insert(key, value);
    return true;
}

void InMemoryDefaultsStore::setWritable(bool writable) {
    std::lock_guard lock(mutex_);
    writable_ = writable;
}

// ---- JSON file

JsonFileDefaultsStore::JsonFileDefaultsStore(QString filePath) : filePath_(std::move(filePath)) {
    load();
}

QString JsonFileDefaultsStore::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/tavrolin/defaults.json");
}

void JsonFileDefaultsStore::load() {
    struct stat info {};
    if (::stat(QFile::encodeName(filePath_).constData(), &info) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) {
            // There may be a file we are not allowed to see (a folder without search access).
            keepUnreadableFile(QString::fromLocal8Bit(std::strerror(error)));
        }
        return;
    }
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly)) {
        keepUnreadableFile(file.errorString());
        return;
    }
    closeToOtherUsers(QFileInfo(filePath_).absolutePath());
    closeToOtherUsers(file.handle());
    const QByteArray bytes = file.readAll();
    file.close();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) {
        values_ = document.object();
        return;
    }
    foundUnreadableData_ = true;
    // Keep the unreadable file for the user (and for support): move it aside, never delete it.
    const QString aside = filePath_ + QStringLiteral(".corrupt-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz"));
    if (QFile::rename(filePath_, aside)) {
        setAsidePath_ = aside;
        lastError_ = QStringLiteral("unreadable defaults file moved to %1").arg(aside);
        AppLog::app().error(QStringLiteral("defaults_corrupt ") + lastError_);
        return;
    }
    keepsFileAsItIs_ = true;
    lastError_ = QStringLiteral("unreadable defaults file %1 could not be moved aside, so nothing is written over it")
                     .arg(filePath_);
    AppLog::app().error(QStringLiteral("defaults_corrupt ") + lastError_);
}

void JsonFileDefaultsStore::keepUnreadableFile(const QString& reason) {
    foundUnreadableData_ = true;
    keepsFileAsItIs_ = true;
    lastError_ = QStringLiteral("%1 could not be read (%2), so nothing is written over it").arg(filePath_, reason);
    AppLog::app().error(QStringLiteral("defaults_read_failed ") + lastError_ +
                        QStringLiteral("; running on defaults until it can be read"));
}

JsonFileDefaultsStore::~JsonFileDefaultsStore() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) {
        writer_.join();  // after the writes still queued
    }
}

bool JsonFileDefaultsStore::acceptsChangesLocked() {
    if (keepsFileAsItIs_) {
        return false;  // lastError_ still says why
    }
    if (folderMade_) {
        return true;
    }
    // Made once, on the first change: a folder that cannot be made refuses the change at once.
    const QString folder = QFileInfo(filePath_).absolutePath();
    if (const int error = makePrivateFolder(folder); error != 0) {
        lastError_ =
            QStringLiteral("cannot create folder %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(error)));
        AppLog::app().error(QStringLiteral("defaults_write_failed ") + lastError_);
        return false;
    }
    folderMade_ = true;
    return true;
}

void JsonFileDefaultsStore::queueWriteLocked() {
    ++queuedWrites_;
    if (!writer_.joinable()) {
        writer_ = std::thread([this] { runWriter(); });
    }
    changed_.notify_all();
}

void JsonFileDefaultsStore::runWriter() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return doneWrites_ != queuedWrites_ || stopping_; });
        if (doneWrites_ == queuedWrites_) {
            return;  // stopping, and nothing is left to write
        }
        // The values as they stand now take in every change queued so far.
        const quint64 taking = queuedWrites_;
        const QJsonObject values = values_;
        lock.unlock();
        const QString problem = writeFile(values);
        lock.lock();
        lastError_ = problem;
        doneWrites_ = taking;
        written_.notify_all();
    }
}

QString JsonFileDefaultsStore::writeFile(const QJsonObject& values) const {
    // The folder may have gone since the first change (a user cleaning up their settings).
    const QString folder = QFileInfo(filePath_).absolutePath();
    QString problem;
    if (const int error = makePrivateFolder(folder); error != 0) {
        problem =
            QStringLiteral("cannot create folder %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(error)));
    } else {
        QSaveFile file(filePath_);
        if (!file.open(QIODevice::WriteOnly)) {
            problem = QStringLiteral("cannot write %1: %2").arg(filePath_, file.errorString());
        } else {
            // The new file replaces the old one at commit: it is the user's alone from the start.
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            file.write(QJsonDocument(values).toJson(QJsonDocument::Indented));
            if (!file.commit()) {
                problem = QStringLiteral("cannot write %1: %2").arg(filePath_, file.errorString());
            }
        }
    }
    if (!problem.isEmpty()) {
        AppLog::app().error(QStringLiteral("defaults_write_failed ") + problem +
                            QStringLiteral("; the values stay in memory for the next write"));
    }
    return problem;
}

void JsonFileDefaultsStore::flush() {
    std::unique_lock lock(mutex_);
    written_.wait(lock, [this] { return doneWrites_ == queuedWrites_; });
}

bool JsonFileDefaultsStore::remove(const QString& key) {
    std::lock_guard lock(mutex_);
    if (!values_.contains(key)) {
        return true;
    }
    if (!acceptsChangesLocked()) {
        return false;
    }
    values_.remove(key);
    queueWriteLocked();
    return true;
}

std::optional<QJsonValue> JsonFileDefaultsStore::rawValue(const QString& key) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.constFind(key);
    if (it == values_.constEnd() || it->isNull() || it->isUndefined()) {
        return std::nullopt;
    }
    return *it;
}

bool JsonFileDefaultsStore::setRawValue(const QString& key, const QJsonValue& value) {
    std::lock_guard lock(mutex_);
    // A value that cannot be stored is not served either: memory and file stay in step.
    if (!acceptsChangesLocked()) {
        return false;
    }
    values_.insert(key, value);
    queueWriteLocked();
    return true;
}

QString JsonFileDefaultsStore::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

bool JsonFileDefaultsStore::foundUnreadableData() const {
    std::lock_guard lock(mutex_);
    return foundUnreadableData_;
}

QString JsonFileDefaultsStore::setAsidePath() const {
    std::lock_guard lock(mutex_);
    return setAsidePath_;
}

}  // namespace tavrolin
