#include "core/workflow_log.h"

#include "core/app_log.h"
#include "core/error_description.h"

#include <mutex>

namespace tavrolin {

namespace WorkflowLog {

namespace {

struct ProviderHolder {
    std::mutex mutex;
    std::shared_ptr<FrontApplicationProviding> provider;
};

ProviderHolder& holder() {
    static ProviderHolder instance;
    return instance;
}

std::shared_ptr<FrontApplicationProviding> provider() {
    ProviderHolder& h = holder();
    std::lock_guard lock(h.mutex);
    return h.provider;
}

QString orNone(const std::optional<QString>& value) {
    return value ? *value : QStringLiteral("none");
}

QString orNone(const std::optional<AppLanguage>& language) {
    return language ? rawValue(*language) : QStringLiteral("none");
}

}  // namespace

void setFrontApplicationProvider(std::shared_ptr<FrontApplicationProviding> newProvider) {
    ProviderHolder& h = holder();
    std::lock_guard lock(h.mutex);
    h.provider = std::move(newProvider);
}

QString frontmostValue() {
    const auto source = provider();
    const auto front = source ? source->frontApplication() : std::nullopt;
    return front ? orNone(front->applicationIdentifier) : QStringLiteral("none");
}

void started(TelemetryAction action, TelemetryTrigger trigger, std::optional<AppLanguage> sourceLanguage,
             std::optional<AppLanguage> targetLanguage, const std::optional<QString>& detail) {
    AppLog::app().info([&] {
        return QStringLiteral("workflow start action=%1 trigger=%2 source=%3 target=%4 frontmost=%5 detail=%6")
            .arg(rawValue(action), rawValue(trigger), orNone(sourceLanguage), orNone(targetLanguage), frontmostValue(),
                 orNone(detail));
    });
}

void ignored(TelemetryAction action, TelemetryTrigger trigger, const QString& reason) {
    AppLog::app().info([&] {
        return QStringLiteral("workflow ignored action=%1 trigger=%2 reason=%3 frontmost=%4")
            .arg(rawValue(action), rawValue(trigger), reason, frontmostValue());
    });
}

void failed(TelemetryAction action, TelemetryTrigger trigger, const QString& errorCode, const std::exception& error) {
    AppLog::app().error([&] {
        return QStringLiteral("workflow failure action=%1 trigger=%2 errorCode=%3 errorType=%4 message=%5 frontmost=%6")
            .arg(rawValue(action), rawValue(trigger), errorCode, errorTypeName(error), errorDescription(error),
                 frontmostValue());
    });
}

void failed(TelemetryAction action, TelemetryTrigger trigger, const QString& errorCode,
            const std::exception_ptr& error) {
    AppLog::app().error([&] {
        return QStringLiteral("workflow failure action=%1 trigger=%2 errorCode=%3 errorType=%4 message=%5 frontmost=%6")
            .arg(rawValue(action), rawValue(trigger), errorCode, errorTypeName(error), errorDescription(error),
                 frontmostValue());
    });
}

void routed(TelemetryAction action, TelemetryTrigger trigger, const QString& decision,
            const std::optional<QString>& detail) {
    AppLog::app().info([&] {
        return QStringLiteral("workflow route action=%1 trigger=%2 decision=%3 detail=%4 frontmost=%5")
            .arg(rawValue(action), rawValue(trigger), decision, orNone(detail), frontmostValue());
    });
}

}  // namespace WorkflowLog

}  // namespace tavrolin
