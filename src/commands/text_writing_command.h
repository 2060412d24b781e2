#pragma once

#include "commands/focused_field_command.h"

namespace tavrolin {

class TextWritingService;

// Rewrite Message: a message the server writes from the field's text and the front window's.
class TextWritingCommand final : public FocusedFieldCommand {
public:
    TextWritingCommand(CommandHost& host, ServiceGetter<TextWritingService> service)
        : FocusedFieldCommand(host), service_(std::move(service)) {}

    void start(TelemetryTrigger trigger) override;
    void handleError(const CaptureWorkflowError& error) override;

private:
    ServiceGetter<TextWritingService> service_;
};

}  // namespace tavrolin
