#include "platform/linux/journald_log_sink.h"

#include "core/app_log.h"
#include "platform/desktop_backend.h"

#include <sys/stat.h>

#ifdef TAVROLIN_HAVE_SYSTEMD
#include <syslog.h>
#include <systemd/sd-journal.h>
#endif

namespace tavrolin {

JournaldLogSink::JournaldLogSink(LogLevel minimumLevel) : minimumLevel_(minimumLevel) {}

bool JournaldLogSink::isAvailable() {
    struct stat info {};
    return ::stat("/run/systemd/journal/socket", &info) == 0 && S_ISSOCK(info.st_mode);
}

bool JournaldLogSink::isEnabled(LogCategory, LogLevel level) const {
    return level >= minimumLevel_;
}

void JournaldLogSink::write(LogCategory category, LogLevel level, const QString& message) {
#ifdef TAVROLIN_HAVE_SYSTEMD
    int priority = LOG_INFO;
    switch (level) {
    case LogLevel::debug:
        priority = LOG_DEBUG;
        break;
    case LogLevel::info:
        priority = LOG_INFO;
        break;
    case LogLevel::notice:
        priority = LOG_NOTICE;
        break;
    case LogLevel::error:
        priority = LOG_ERR;
        break;
    case LogLevel::fault:
        priority = LOG_CRIT;
        break;
    }
    const QByteArray text = message.toUtf8();
    const QByteArray categoryName = logCategoryName(category).toUtf8();
    sd_journal_send("MESSAGE=%s", text.constData(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s", AppLog::subsystem,
                    "TAVROLIN_CATEGORY=%s", categoryName.constData(), nullptr);
#else
    Q_UNUSED(category);
    Q_UNUSED(level);
    Q_UNUSED(message);
#endif
}

SystemJournal systemJournal() {
#ifdef TAVROLIN_HAVE_SYSTEMD
    return {std::make_shared<JournaldLogSink>(), JournaldLogSink::isAvailable()};
#else
    return {};
#endif
}

}  // namespace tavrolin
