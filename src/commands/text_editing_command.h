#pragma once

#include "commands/focused_field_command.h"

namespace tavrolin {

class TextEditingService;

// Edit Message: the field's text, corrected (by the server, or on the device while online
// features are off).
class TextEditingCommand final : public FocusedFieldCommand {
public:
    TextEditingCommand(CommandHost& host, ServiceGetter<TextEditingService> service)
        : FocusedFieldCommand(host), service_(std::move(service)) {}

    void start(TelemetryTrigger trigger) override;
    // The selection buttons' Edit: on the selection the buttons were shown for, not read again.
    void start(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection);
    void handleError(const CaptureWorkflowError& error) override;

private:
    void startOn(TelemetryTrigger trigger, std::optional<FocusedTextFieldSnapshot> selection);
    ServiceGetter<TextEditingService> service_;
};

}  // namespace tavrolin
