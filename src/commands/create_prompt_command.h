#pragma once

#include "commands/focused_field_command.h"

namespace tavrolin {

class TextPromptingService;

// Create Prompt: the field's text made into a prompt by the server.
class CreatePromptCommand final : public FocusedFieldCommand {
public:
    CreatePromptCommand(CommandHost& host, ServiceGetter<TextPromptingService> service)
        : FocusedFieldCommand(host), service_(std::move(service)) {}

    void start(TelemetryTrigger trigger) override;
    void handleError(const CaptureWorkflowError& error) override;

private:
    ServiceGetter<TextPromptingService> service_;
};

}  // namespace tavrolin
