#include "core/telemetry_action.h"

namespace tavrolin {

namespace {

struct ActionName {
    TelemetryAction action;
    const char* raw;
};

constexpr ActionName kActions[] = {
    {TelemetryAction::appInstall, "app_install"},
    {TelemetryAction::appLaunch, "app_launch"},
    {TelemetryAction::captureAndTranslateActiveWindow, "capture_and_translate_active_window"},
    {TelemetryAction::translateMessage, "translate_message"},
    {TelemetryAction::translateSelection, "translate_selection"},
    {TelemetryAction::editText, "edit_text"},
    {TelemetryAction::writeText, "write_text"},
    {TelemetryAction::flipLanguage, "flip_language"},
    {TelemetryAction::openDictationScratchpad, "open_dictation_scratchpad"},
    {TelemetryAction::createPrompt, "create_prompt"},
    {TelemetryAction::retranslateOverlay, "retranslate_overlay"},
    {TelemetryAction::openOnboarding, "open_onboarding"},
    {TelemetryAction::openSettings, "open_settings"},
    {TelemetryAction::saveSettings, "save_settings"},
    {TelemetryAction::openAccessibilitySettings, "open_accessibility_settings"},
    {TelemetryAction::openScreenRecordingSettings, "open_screen_recording_settings"},
    {TelemetryAction::openTranslationLanguageSettings, "open_translation_language_settings"},
    {TelemetryAction::openLoginItemsSettings, "open_login_items_settings"},
    {TelemetryAction::anonymousStatisticsEnabled, "anonymous_statistics_enabled"},
    {TelemetryAction::anonymousStatisticsDisabled, "anonymous_statistics_disabled"},
    {TelemetryAction::sharePromptShown, "share_prompt_shown"},
    {TelemetryAction::shareApp, "share_app"},
    {TelemetryAction::shareDismissed, "share_dismissed"},
    {TelemetryAction::sharePromptDisabled, "share_prompt_disabled"},
    {TelemetryAction::quit, "quit"},
};

struct TriggerName {
    TelemetryTrigger trigger;
    const char* raw;
};

constexpr TriggerName kTriggers[] = {
    {TelemetryTrigger::hotkey, "hotkey"},
    {TelemetryTrigger::menu, "menu"},
    {TelemetryTrigger::alert, "alert"},
    {TelemetryTrigger::settings, "settings"},
    {TelemetryTrigger::overlay, "overlay"},
    {TelemetryTrigger::onboarding, "onboarding"},
    {TelemetryTrigger::selectionPopup, "selection_popup"},
    {TelemetryTrigger::appLifecycle, "app_lifecycle"},
};

static_assert(std::size(kActions) == 25 && std::size(kTriggers) == 8);

}  // namespace

const std::array<TelemetryAction, 25>& allTelemetryActions() {
    static const auto all = [] {
        std::array<TelemetryAction, 25> out{};
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = kActions[i].action;
        }
        return out;
    }();
    return all;
}

const std::array<TelemetryTrigger, 8>& allTelemetryTriggers() {
    static const auto all = [] {
        std::array<TelemetryTrigger, 8> out{};
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = kTriggers[i].trigger;
        }
        return out;
    }();
    return all;
}

QString rawValue(TelemetryAction action) {
    for (const auto& entry : kActions) {
        if (entry.action == action) {
            return QString::fromLatin1(entry.raw);
        }
    }
    return {};
}

QString rawValue(TelemetryTrigger trigger) {
    for (const auto& entry : kTriggers) {
        if (entry.trigger == trigger) {
            return QString::fromLatin1(entry.raw);
        }
    }
    return {};
}

template <>
std::optional<TelemetryAction> fromRawValue<TelemetryAction>(QStringView raw) {
    for (const auto& entry : kActions) {
        if (raw == QLatin1String(entry.raw)) {
            return entry.action;
        }
    }
    return std::nullopt;
}

template <>
std::optional<TelemetryTrigger> fromRawValue<TelemetryTrigger>(QStringView raw) {
    for (const auto& entry : kTriggers) {
        if (raw == QLatin1String(entry.raw)) {
            return entry.trigger;
        }
    }
    return std::nullopt;
}

}  // namespace tavrolin
