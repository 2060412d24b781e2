#pragma once

#include "commands/focused_field_command.h"

namespace tavrolin {

class SelectionTranslationPopupPresenter;
class SelectionTranslationService;

// Translate Selection: the same frame as the commands on the focused field, ending in the result
// popup over the front window instead of a write.
class SelectionTranslationCommand final : public FocusedFieldCommand {
public:
    SelectionTranslationCommand(CommandHost& host, ServiceGetter<FocusedTextFieldAccessing> accessor,
                                ServiceGetter<SelectionTranslationService> service,
                                std::function<SelectionTranslationPopupPresenter*()> popup)
        : FocusedFieldCommand(host),
          accessor_(std::move(accessor)),
          service_(std::move(service)),
          popup_(std::move(popup)) {}

    void start(TelemetryTrigger trigger) override { start(trigger, std::nullopt); }
    // The Translate command and the selection buttons pass the selection they have already read
    // (with the accessibility permission asked); without one the selection is read here.
    void start(TelemetryTrigger trigger, std::optional<FocusedTextFieldSnapshot> initialSnapshot);
    void handleError(const CaptureWorkflowError& error) override;

private:
    struct SelectionRun;
    QCoro::Task<void> runTask(LifetimeToken<FocusedFieldCommand>::Weak self, SelectionRun run);
    LoadingText loadingText(AppLanguage target) const;

    ServiceGetter<FocusedTextFieldAccessing> accessor_;
    ServiceGetter<SelectionTranslationService> service_;
    std::function<SelectionTranslationPopupPresenter*()> popup_;
};

}  // namespace tavrolin
