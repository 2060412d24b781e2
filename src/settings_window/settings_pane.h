#pragma once

#include "core/raw_value.h"

#include <QString>

#include <array>

namespace tavrolin {

// The seven panes of the settings window, in sidebar order. The raw value is the case name.
enum class SettingsPane { translation, dictation, overlays, shortcuts, antiSleep, privacy, about };

inline constexpr std::array<SettingsPane, 7> allSettingsPanes = {
    SettingsPane::translation, SettingsPane::dictation, SettingsPane::overlays, SettingsPane::shortcuts,
    SettingsPane::antiSleep,   SettingsPane::privacy,   SettingsPane::about};

QString rawValue(SettingsPane pane);
template <>
std::optional<SettingsPane> fromRawValue<SettingsPane>(QStringView raw);

// What the sidebar and the page header show for a pane.
QString sidebarTitle(SettingsPane pane);
QString eyebrow(SettingsPane pane);
// The freedesktop theme icon standing for the pane.
QString iconName(SettingsPane pane);

}  // namespace tavrolin
