#pragma once

// The application's diagnostic log: seven fixed loggers, one per category, all under the
// application id as subsystem. Lines go to the desktop's journal where the program hands it over
// at its start (the back end's, platform/desktop_backend.h) and it runs, otherwise to a
// size-capped file under $XDG_STATE_HOME/tavrolin/. Tests install an in-memory sink.
//
// A line whose level is disabled costs one check: pass a callable instead of a string and it
// runs only when the line is written.
//
//   AppLog::app().info(u"launched"_s);
//   AppLog::network().error([&] { return expensiveText(); });

#include "platform/log_sink.h"

#include <QString>

#include <concepts>
#include <memory>
#include <optional>
#include <utility>

namespace tavrolin {

// One text file, one line per record: "<UTC time> <level> <category> <message>". When the file
// would grow past `maximumBytes` it is renamed to "<name>.1" (replacing the older one) and a
// new file is started, so the two files together stay under twice the cap. Line breaks inside
// a message are written as "\n" so one record stays one line.
class RotatingFileLogSink final : public LogSink {
public:
    static constexpr qint64 defaultMaximumBytes = 2 * 1024 * 1024;

    explicit RotatingFileLogSink(QString filePath, qint64 maximumBytes = defaultMaximumBytes,
                                 LogLevel minimumLevel = LogLevel::info);
    ~RotatingFileLogSink() override;

    // $XDG_STATE_HOME/tavrolin/tavrolin.log (XDG_STATE_HOME defaults to ~/.local/state).
    static QString defaultFilePath();

    bool isEnabled(LogCategory category, LogLevel level) const override;
    void write(LogCategory category, LogLevel level, const QString& message) override;
    QString filePath() const { return filePath_; }

private:
    struct State;
    QString filePath_;
    qint64 maximumBytes_;
    LogLevel minimumLevel_;
    std::unique_ptr<State> state_;
};

// One category's logger. Cheap to copy; all copies write to the sink installed in AppLog.
class Logger {
public:
    explicit Logger(LogCategory category) : category_(category) {}
    LogCategory category() const { return category_; }

    bool isEnabled(LogLevel level) const;
    void log(LogLevel level, const QString& message) const;

    // The callable runs (and its text is written) only when the level is enabled.
    template <typename Compose>
    requires std::invocable<Compose&> && std::convertible_to<std::invoke_result_t<Compose&>, QString>
    void log(LogLevel level, Compose&& compose) const {
        if (isEnabled(level)) {
            write(level, QString(compose()));
        }
    }

    template <typename Message>
    void debug(Message&& message) const {
        log(LogLevel::debug, std::forward<Message>(message));
    }
    template <typename Message>
    void info(Message&& message) const {
        log(LogLevel::info, std::forward<Message>(message));
    }
    template <typename Message>
    void notice(Message&& message) const {
        log(LogLevel::notice, std::forward<Message>(message));
    }
    template <typename Message>
    void error(Message&& message) const {
        log(LogLevel::error, std::forward<Message>(message));
    }
    template <typename Message>
    void fault(Message&& message) const {
        log(LogLevel::fault, std::forward<Message>(message));
    }

private:
    void write(LogLevel level, const QString& message) const;
    LogCategory category_;
};

namespace AppLog {

// The log subsystem: the application id.
inline constexpr const char* subsystem = "org.tavrolin.Tavrolin";

const Logger& app();
const Logger& diagnostics();
const Logger& telemetry();
const Logger& capture();
const Logger& updates();
const Logger& network();
const Logger& screenshotTranslation();

// The sink in use. Chosen on first use: TAVROLIN_LOG_BACKEND=file or =journald forces one;
// otherwise the journal when it was handed over and runs, else the rotating file.
std::shared_ptr<LogSink> sink();
// The desktop's journal, handed over by the process entry before its first line (null: the
// program has none). `isRunning`: whether it can be written to now. A sink that tests installed
// stays.
void useSystemJournal(std::shared_ptr<LogSink> journal, bool isRunning);
// Replaces the sink (tests); nullptr restores the default choice. Returns the previous one.
std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);
// The file the default file back end writes, when that back end is the one in use.
std::optional<QString> logFilePath();

}  // namespace AppLog

}  // namespace tavrolin
