#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <mutex>
#include <optional>

namespace tavrolin {

// A preferences store: typed values under string keys. Reads never fail: a missing key or a
// value that cannot be read as the asked type gives the caller's fallback. Conventions:
//  - the string getter returns a stored number as its decimal text (a bool as "1"/"0");
//  - the integer, double and bool getters convert a numeric string (bool also "true"/"yes"/
//    "false"/"no", case-insensitive); integers from doubles truncate toward zero;
//  - the data getter returns stored data; the date getter accepts only a stored date.
// Setters answer whether the value reached permanent storage.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    bool contains(const QString& key) const { return rawValue(key).has_value(); }

    QString string(const QString& key, const QString& fallback = {}) const;
    qint64 integer(const QString& key, qint64 fallback = 0) const;
    double doubleValue(const QString& key, double fallback = 0) const;
    bool boolValue(const QString& key, bool fallback = false) const;
    QByteArray data(const QString& key, const QByteArray& fallback = {}) const;
    std::optional<QByteArray> dataIfPresent(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;

    bool setString(const QString& key, const QString& value);
    bool setInteger(const QString& key, qint64 value);
    bool setDouble(const QString& key, double value);
    bool setBool(const QString& key, bool value);
    bool setData(const QString& key, const QByteArray& value);
    bool setDate(const QString& key, const QDateTime& value);
    virtual bool remove(const QString& key) = 0;

    // The stored representation: plain JSON for strings, numbers and bools; dates as
    // {"$date": "<ISO 8601 with milliseconds, UTC>"} and data as {"$data": "<base64>"}.
    virtual std::optional<QJsonValue> rawValue(const QString& key) const = 0;
    virtual bool setRawValue(const QString& key, const QJsonValue& value) = 0;

    // Whether stored data was found that could not be read (a file that could not be opened or
    // parsed). Its values are not served; readers that must not switch on what the user may have
    // switched off there treat them as off.
    virtual bool foundUnreadableData() const { return false; }
};

// In-memory store for tests and for components that must not persist anything.
class InMemoryDefaultsStore final : public DefaultsStore {
public:
    bool remove(const QString& key) override;
    std::optional<QJsonValue> rawValue(const QString& key) const override;
    bool setRawValue(const QString& key, const QJsonValue& value) override;

    // Makes every later write fail, as an unwritable folder would.
    void setWritable(bool writable);

private:
    mutable std::mutex mutex_;
    QJsonObject values_;
    bool writable_ = true;
};

// The real store: one JSON object in a file, rewritten atomically on every change, the user's
// alone (file 0600, folder 0700). A user's data is never destroyed: a file that cannot be parsed
// is renamed aside ("<name>.corrupt-<UTC timestamp>") and logged, and the store starts empty; a
// file that cannot be opened (or a corrupt one that cannot be moved) is left as it is, logged,
// and the store runs on its fallbacks without writing anything over it.
class JsonFileDefaultsStore final : public DefaultsStore {
public:
    explicit JsonFileDefaultsStore(QString filePath);

    // $XDG_CONFIG_HOME/tavrolin/defaults.json (XDG_CONFIG_HOME defaults to ~/.config).
    static QString defaultFilePath();

    bool remove(const QString& key) override;
    std::optional<QJsonValue> rawValue(const QString& key) const override;
    bool setRawValue(const QString& key, const QJsonValue& value) override;
    bool foundUnreadableData() const override;

    QString filePath() const { return filePath_; }
    // The last write or load problem, empty when the last operation succeeded.
    QString lastError() const;
    // Where a corrupt file was moved at load, if it was.
    QString setAsidePath() const;

private:
    void load();
    void keepUnreadableFile(const QString& reason);
    bool writeLocked();

    QString filePath_;
    mutable std::mutex mutex_;
    QJsonObject values_;
    QString lastError_;
    QString setAsidePath_;
    bool foundUnreadableData_ = false;
    // The file on disk holds data this store could not read: nothing may replace it.
    bool keepsFileAsItIs_ = false;
};

}  // namespace tavrolin
