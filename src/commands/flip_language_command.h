#pragma once

#include "commands/focused_field_command.h"

namespace tavrolin {

class FlipLanguageService;

// Flip Language: the field's text in the other of the user's two languages.
class FlipLanguageCommand final : public FocusedFieldCommand {
public:
    FlipLanguageCommand(CommandHost& host, ServiceGetter<FlipLanguageService> service)
        : FocusedFieldCommand(host), service_(std::move(service)) {}

    void start(TelemetryTrigger trigger) override;
    // The selection buttons' Flip: on the selection the buttons were shown for, not read again.
    void start(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection);
    void handleError(const CaptureWorkflowError& error) override;

private:
    void startOn(TelemetryTrigger trigger, std::optional<FocusedTextFieldSnapshot> selection);
    ServiceGetter<FlipLanguageService> service_;
};

}  // namespace tavrolin
