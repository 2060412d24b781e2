#pragma once

#include "commands/focused_field_command.h"

namespace tavrolin {

class MessageTranslationService;

// Write Message: the field's text, translated into the second language, in place of itself.
class MessageTranslationCommand final : public FocusedFieldCommand {
public:
    MessageTranslationCommand(CommandHost& host, ServiceGetter<MessageTranslationService> service)
        : FocusedFieldCommand(host), service_(std::move(service)) {}

    void start(TelemetryTrigger trigger) override;
    void handleError(const CaptureWorkflowError& error) override;

private:
    ServiceGetter<MessageTranslationService> service_;
};

}  // namespace tavrolin
