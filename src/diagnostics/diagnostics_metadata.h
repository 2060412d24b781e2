#pragma once

#include "core/app_settings.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace tavrolin {

// The part of the settings that a diagnostics archive describes. Shortcuts, the selection
// popup switch and the anti-sleep schedule are left out.
struct DiagnosticsSettingsSnapshot {
    QString targetLanguage;  // language codes ("ru", "en", ...)
    QString messageTargetLanguage;
    std::optional<QString> dictationLanguage;
    bool launchAtLoginEnabled = false;
    bool telemetryEnabled = false;
    bool onlineFeaturesEnabled = false;
    bool autoImproveOnDictationStop = false;
    double selectionPopupAutoDismissDelay = 0;  // seconds
    double overlayMinimumDisplayDuration = 0;   // seconds

    bool operator==(const DiagnosticsSettingsSnapshot&) const = default;

    static DiagnosticsSettingsSnapshot from(const AppSettings& settings);

    // "dictationLanguage" is left out when there is none.
    QJsonObject toJson() const;
};

// "metadata.json": what is installed, where it runs, and the settings.
struct DiagnosticsMetadata {
    QString appName;
    QString appVersion;
    QString appBuild;
    std::optional<QString> bundleIdentifier;
    QDateTime generatedAt;
    QString macOSVersion;  // the key keeps its name; it holds this system's description
    QString architecture;
    DiagnosticsSettingsSnapshot settings;

    // The installed application's values and this system's description.
    static DiagnosticsMetadata current(const QDateTime& generatedAt, const DiagnosticsSettingsSnapshot& settings);

    QJsonObject toJson() const;
    // Indented JSON with the keys sorted at every level.
    QByteArray encoded() const;

    // The processor architecture this program was compiled for ("x86_64", "arm64", ...).
    static QString buildArchitecture();
    // The distribution's name and version and the kernel release.
    static QString operatingSystemDescription();
};

// ISO 8601 in UTC with whole seconds and a trailing "Z".
QString diagnosticsISODate(const QDateTime& time);

}  // namespace tavrolin
