#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace tavrolin {

// A preferences store: typed values under string keys. Reads never fail: a missing key or a
// value that cannot be read as the asked type gives the caller's fallback. Conventions:
//  - the string getter returns a stored number as its decimal text (a bool as "1"/"0");
//  - the integer, double and bool getters convert a numeric string (bool also "true"/"yes"/
//    "false"/"no", case-insensitive); integers from doubles truncate toward zero;
//  - the data getter returns stored data; the date getter accepts only a stored date.
// Setters answer whether the value was taken: a read right after sees it, and it goes to
// permanent storage (the file store writes it off the calling thread, in order).
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

    // Waits until every change taken so far is in permanent storage, or failed there (the
    // process's end, a test that reads the file).
    virtual void flush() {}
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
//
// Reads and changes are served from memory. The file is written, and synced to the disk, on a
// writer thread of the store's own, so that no caller (the GUI thread) waits for the disk: each
// change queues a write of the whole object as it then stands, the writes are made one after the
// other in the order of the changes (changes that come while one is being written go out together
// in the next), and the last change wins. A change is refused at once where the store knows it
// cannot be stored (a file kept as it is, a folder that cannot be made); a write that fails later
// (a full disk) is logged, its values stay in memory, and the next write takes them again.
// flush() and the destructor wait for the writes taken so far.
class JsonFileDefaultsStore final : public DefaultsStore {
public:
    explicit JsonFileDefaultsStore(QString filePath);
    ~JsonFileDefaultsStore() override;
    JsonFileDefaultsStore(const JsonFileDefaultsStore&) = delete;
    JsonFileDefaultsStore& operator=(const JsonFileDefaultsStore&) = delete;

    // $XDG_CONFIG_HOME/tavrolin/defaults.json (XDG_CONFIG_HOME defaults to ~/.config).
    static QString defaultFilePath();

    bool remove(const QString& key) override;
    std::optional<QJsonValue> rawValue(const QString& key) const override;
    bool setRawValue(const QString& key, const QJsonValue& value) override;
    bool foundUnreadableData() const override;
    void flush() override;

    QString filePath() const { return filePath_; }
    // The last write or load problem, empty when the last operation succeeded (a write made on
    // the writer thread counts once it is done: flush() first).
    QString lastError() const;
    // Where a corrupt file was moved at load, if it was.
    QString setAsidePath() const;

private:
    void load();
    void keepUnreadableFile(const QString& reason);
    // Whether a change can be stored at all; the caller holds the mutex.
    bool acceptsChangesLocked();
    // Queues a write of the values as they stand; the caller holds the mutex.
    void queueWriteLocked();
    void runWriter();
    // Writes `values` to the file and syncs it; the problem, empty when it was written.
    QString writeFile(const QJsonObject& values) const;

    QString filePath_;
    mutable std::mutex mutex_;
    QJsonObject values_;
    // The writer thread, started by the first change; the changes queued, and the last of them
    // in the file (or failed there).
    std::thread writer_;
    std::condition_variable changed_;
    std::condition_variable written_;
    quint64 queuedWrites_ = 0;
    quint64 doneWrites_ = 0;
    bool stopping_ = false;
    bool folderMade_ = false;
    QString lastError_;
    QString setAsidePath_;
    bool foundUnreadableData_ = false;
    // The file on disk holds data this store could not read: nothing may replace it.
    bool keepsFileAsItIs_ = false;
};

}  // namespace tavrolin
