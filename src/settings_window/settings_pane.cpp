#include "settings_window/settings_pane.h"

namespace tavrolin {

namespace {

struct PaneRow {
    SettingsPane pane;
    const char* raw;
    const char* title;
    const char* eyebrow;
    const char* icon;
};

constexpr PaneRow kPanes[] = {
    {SettingsPane::translation, "translation", "Translation", "LANGUAGE DEFAULTS", "preferences-desktop-locale"},
    {SettingsPane::dictation, "dictation", "Dictation", "VOICE INPUT", "audio-input-microphone"},
    {SettingsPane::overlays, "overlays", "Overlays", "SCREEN UI", "preferences-desktop-display"},
    {SettingsPane::shortcuts, "shortcuts", "Shortcuts", "QUICK ACTIONS", "preferences-desktop-keyboard-shortcuts"},
    {SettingsPane::antiSleep, "antiSleep", "Anti-Sleep", "POWER", "weather-clear-night"},
    {SettingsPane::privacy, "privacy", "Privacy", "TRUST & STARTUP", "security-high"},
    {SettingsPane::about, "about", "About", "BUILD INFO", "help-about"},
};

const PaneRow& row(SettingsPane pane) {
    return kPanes[static_cast<int>(pane)];
}

}  // namespace

QString rawValue(SettingsPane pane) {
    return QString::fromLatin1(row(pane).raw);
}

template <>
std::optional<SettingsPane> fromRawValue<SettingsPane>(QStringView raw) {
    for (const PaneRow& candidate : kPanes) {
        if (raw == QLatin1String(candidate.raw)) {
            return candidate.pane;
        }
    }
    return std::nullopt;
}

QString sidebarTitle(SettingsPane pane) {
    return QString::fromUtf8(row(pane).title);
}
QString eyebrow(SettingsPane pane) {
    return QString::fromUtf8(row(pane).eyebrow);
}
QString iconName(SettingsPane pane) {
    return QString::fromLatin1(row(pane).icon);
}

}  // namespace tavrolin
