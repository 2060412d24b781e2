#pragma once

#include "core/app_log.h"

#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tavrolin::test {

struct LogRecord {
    LogCategory category;
    LogLevel level;
    QString message;
    bool operator==(const LogRecord&) const = default;
};

// Keeps every line in memory. Lines below the minimum level are disabled (never composed).
class MemoryLogSink final : public LogSink {
public:
    explicit MemoryLogSink(LogLevel minimumLevel = LogLevel::debug) : minimumLevel_(minimumLevel) {}
    bool isEnabled(LogCategory, LogLevel level) const override { return level >= minimumLevel_; }
    void write(LogCategory category, LogLevel level, const QString& message) override {
        std::lock_guard lock(mutex_);
        records_.push_back({category, level, message});
    }
    void setMinimumLevel(LogLevel level) { minimumLevel_ = level; }
    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    // The messages of one category, in order.
    QStringList messages(LogCategory category) const {
        std::lock_guard lock(mutex_);
        QStringList out;
        for (const auto& r : records_) {
            if (r.category == category) {
                out << r.message;
            }
        }
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
    std::atomic<LogLevel> minimumLevel_;
};

// Installs a MemoryLogSink for the life of the object and restores the previous sink after.
class ScopedLogCapture {
public:
    explicit ScopedLogCapture(LogLevel minimumLevel = LogLevel::debug)
        : sink_(std::make_shared<MemoryLogSink>(minimumLevel)), previous_(AppLog::setSink(sink_)) {}
    ~ScopedLogCapture() { AppLog::setSink(previous_); }
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
    MemoryLogSink& sink() { return *sink_; }
    QStringList messages(LogCategory category) const { return sink_->messages(category); }
    std::vector<LogRecord> records() const { return sink_->records(); }

private:
    std::shared_ptr<MemoryLogSink> sink_;
    std::shared_ptr<LogSink> previous_;
};

}  // namespace tavrolin::test
