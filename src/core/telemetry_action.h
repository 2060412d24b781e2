#pragma once

#include "core/raw_value.h"

#include <QString>

#include <array>
#include <optional>

namespace tavrolin {

// What a usage event reports; travels as its raw string.
enum class TelemetryAction {
    appInstall,
    appLaunch,
    captureAndTranslateActiveWindow,
    translateMessage,
    translateSelection,
    editText,
    writeText,
    flipLanguage,
    openDictationScratchpad,
    createPrompt,
    retranslateOverlay,
    openOnboarding,
    openSettings,
    saveSettings,
    openAccessibilitySettings,
    openScreenRecordingSettings,
    openTranslationLanguageSettings,
    openLoginItemsSettings,
    anonymousStatisticsEnabled,
    anonymousStatisticsDisabled,
    sharePromptShown,
    shareApp,
    shareDismissed,
    sharePromptDisabled,
    quit,
};

// Where an action came from; travels as its raw string.
enum class TelemetryTrigger {
    hotkey,
    menu,
    alert,
    settings,
    overlay,
    onboarding,
    selectionPopup,
    appLifecycle,
};

// Every case in declaration order.
const std::array<TelemetryAction, 25>& allTelemetryActions();
const std::array<TelemetryTrigger, 8>& allTelemetryTriggers();

QString rawValue(TelemetryAction action);
QString rawValue(TelemetryTrigger trigger);
// Any string outside the lists gives no value.
template <>
std::optional<TelemetryAction> fromRawValue<TelemetryAction>(QStringView raw);
template <>
std::optional<TelemetryTrigger> fromRawValue<TelemetryTrigger>(QStringView raw);

}  // namespace tavrolin
