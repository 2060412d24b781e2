#pragma once

#include "commands/command_host.h"
#include "commands/smart_translation_selection_resolver.h"
#include "core/lifetime_token.h"

#include <chrono>
#include <functional>
#include <memory>

namespace tavrolin {

class FocusedTextFieldAccessor;
class SelectionTranslationCommand;
class WindowTranslationCommand;

// The Translate command: translates the selection when there is one and the front window
// otherwise.
class SmartTranslationCommand final {
public:
    // The pause between two looks at the selection when Translate decides what to translate.
    static constexpr std::chrono::milliseconds selectionProbeRetryDelay{120};
    static constexpr int selectionProbeAttempts = 3;

    SmartTranslationCommand(CommandHost& host, std::function<std::shared_ptr<FocusedTextFieldAccessor>()> accessor,
                            SelectionTranslationCommand& selection, WindowTranslationCommand& window)
        : host_(host), accessor_(std::move(accessor)), selection_(selection), window_(window) {}
    SmartTranslationCommand(const SmartTranslationCommand&) = delete;
    SmartTranslationCommand& operator=(const SmartTranslationCommand&) = delete;

    // Looks at the selection, then starts the selection's translation or the window's. Returns at
    // once.
    void start(TelemetryTrigger trigger);

private:
    using Weak = LifetimeToken<SmartTranslationCommand>::Weak;
    // Up to three reads of the focused selection while a focused element shows none yet.
    static QCoro::Task<SmartTranslationSelectionProbeResult> probeSelection(Weak self);
    static QCoro::Task<void> routeTranslation(Weak self, TelemetryTrigger trigger);

    CommandHost& host_;
    std::function<std::shared_ptr<FocusedTextFieldAccessor>()> accessor_;
    SelectionTranslationCommand& selection_;
    WindowTranslationCommand& window_;
    LifetimeToken<SmartTranslationCommand> lifetime_{this};
};

}  // namespace tavrolin
