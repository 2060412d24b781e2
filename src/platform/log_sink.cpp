#include "platform/log_sink.h"

namespace tavrolin {

QString logCategoryName(LogCategory category) {
    switch (category) {
    case LogCategory::app:
        return QStringLiteral("app");
    case LogCategory::diagnostics:
        return QStringLiteral("diagnostics");
    case LogCategory::telemetry:
        return QStringLiteral("telemetry");
    case LogCategory::capture:
        return QStringLiteral("capture");
    case LogCategory::updates:
        return QStringLiteral("updates");
    case LogCategory::network:
        return QStringLiteral("network");
    case LogCategory::screenshotTranslation:
        return QStringLiteral("screenshot-translation");
    }
    return QStringLiteral("app");
}

QString logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return QStringLiteral("debug");
    case LogLevel::info:
        return QStringLiteral("info");
    case LogLevel::notice:
        return QStringLiteral("notice");
    case LogLevel::error:
        return QStringLiteral("error");
    case LogLevel::fault:
        return QStringLiteral("fault");
    }
    return QStringLiteral("info");
}

}  // namespace tavrolin
