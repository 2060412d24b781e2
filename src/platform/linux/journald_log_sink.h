#pragma once

#include "platform/log_sink.h"

namespace tavrolin {

// journald through sd_journal_send: MESSAGE, PRIORITY, SYSLOG_IDENTIFIER (the application id)
// and TAVROLIN_CATEGORY. Debug lines are dropped unless enabled. Made by systemJournal()
// (platform/desktop_backend.h) where the build has libsystemd.
class JournaldLogSink final : public LogSink {
public:
    explicit JournaldLogSink(LogLevel minimumLevel = LogLevel::info);
    // Whether the journal's socket is there to write to.
    static bool isAvailable();
    bool isEnabled(LogCategory category, LogLevel level) const override;
    void write(LogCategory category, LogLevel level, const QString& message) override;

private:
    LogLevel minimumLevel_;
};

}  // namespace tavrolin
