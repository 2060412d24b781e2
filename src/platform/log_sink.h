#pragma once

// Where the application's log lines end up: the seam between the loggers (core/app_log.h) and
// a place to keep them, the rotating file of core or the desktop's journal of the back end.

#include <QString>

namespace tavrolin {

enum class LogLevel { debug = 0, info = 1, notice = 2, error = 3, fault = 4 };

enum class LogCategory { app, diagnostics, telemetry, capture, updates, network, screenshotTranslation };

// "app", "diagnostics", "telemetry", "capture", "updates", "network", "screenshot-translation".
QString logCategoryName(LogCategory category);
// "debug", "info", "notice", "error", "fault".
QString logLevelName(LogLevel level);

// Implementations are safe to call from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual bool isEnabled(LogCategory category, LogLevel level) const = 0;
    virtual void write(LogCategory category, LogLevel level, const QString& message) = 0;
};

}  // namespace tavrolin
