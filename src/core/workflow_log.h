#pragma once

// The four fixed lines of a workflow, all on AppLog::app(). "frontmost" is the application
// identifier of the front window when the line is written, "none" without one:
//   workflow start action=<a> trigger=<t> source=<code|none> target=<code|none> frontmost=<id> detail=<text|none>
//   workflow ignored action=<a> trigger=<t> reason=<reason> frontmost=<id>
//   workflow failure action=<a> trigger=<t> errorCode=<code> errorType=<type> message=<description> frontmost=<id>
//   workflow route action=<a> trigger=<t> decision=<decision> detail=<text|none> frontmost=<id>
// Nothing (the front-application lookup included) is computed when the level is disabled.

#include "core/app_language.h"
#include "core/telemetry_action.h"
#include "platform/front_application.h"

#include <QString>

#include <exception>
#include <memory>
#include <optional>

namespace tavrolin {

namespace WorkflowLog {

void started(TelemetryAction action, TelemetryTrigger trigger, std::optional<AppLanguage> sourceLanguage,
             std::optional<AppLanguage> targetLanguage, const std::optional<QString>& detail);
void ignored(TelemetryAction action, TelemetryTrigger trigger, const QString& reason);
void failed(TelemetryAction action, TelemetryTrigger trigger, const QString& errorCode, const std::exception& error);
void failed(TelemetryAction action, TelemetryTrigger trigger, const QString& errorCode,
            const std::exception_ptr& error);
void routed(TelemetryAction action, TelemetryTrigger trigger, const QString& decision,
            const std::optional<QString>& detail);

// Where "frontmost" comes from: the composition root sets the desktop's own at start. Without
// one (nullptr) it is "none".
void setFrontApplicationProvider(std::shared_ptr<FrontApplicationProviding> provider);

// The "frontmost" value: the front application's identifier, or "none".
QString frontmostValue();

}  // namespace WorkflowLog

}  // namespace tavrolin
