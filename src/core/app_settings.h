#pragma once

#include "core/anti_sleep_schedule.h"
#include "core/app_language.h"
#include "core/hot_key_shortcut.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace tavrolin {

class UserLanguagePreferencesProviding;

// Every user setting in one value, stored as one JSON object under the defaults key
// "appSettings". Always passed through sanitized() before use.
//
// A default-constructed value holds the built-in defaults, which are also the values of keys
// missing from stored JSON: the seven Control+Shift shortcuts, Russian and English, every
// switch on except autoImproveOnDictationStop, delays of 5 and 1.5 seconds, anti-sleep off.
struct AppSettings {
    HotKeyShortcut captureAndTranslateShortcut = defaultShortcut(HotKeyAction::captureAndTranslateActiveWindow);
    HotKeyShortcut translateMessageShortcut = defaultShortcut(HotKeyAction::translateMessage);
    HotKeyShortcut editTextShortcut = defaultShortcut(HotKeyAction::editText);
    HotKeyShortcut writeTextShortcut = defaultShortcut(HotKeyAction::writeText);
    HotKeyShortcut flipLanguageShortcut = defaultShortcut(HotKeyAction::flipLanguage);
    HotKeyShortcut openDictationScratchpadShortcut = defaultShortcut(HotKeyAction::openDictationScratchpad);
    HotKeyShortcut createPromptShortcut = defaultShortcut(HotKeyAction::createPrompt);
    // The native language: foreign text is translated into it.
    AppLanguage targetLanguage = AppLanguage::russian;
    // The second language: the user's own messages are written in it.
    AppLanguage messageTargetLanguage = AppLanguage::english;
    // The dictation scratchpad's language; none means targetLanguage.
    std::optional<AppLanguage> dictationLanguage;
    bool launchAtLoginEnabled = true;
    bool telemetryEnabled = true;
    bool onlineFeaturesEnabled = true;
    bool autoImproveOnDictationStop = false;
    bool selectionPopupEnabled = true;
    double selectionPopupAutoDismissDelay = 5.0;  // seconds
    double overlayMinimumDisplayDuration = 1.5;   // seconds
    AntiSleepSchedule antiSleepSchedule;

    bool operator==(const AppSettings&) const = default;

    // The seven shortcuts in action order, and per action.
    HotKeyShortcuts shortcuts() const;
    void setShortcuts(const HotKeyShortcuts& shortcuts);
    HotKeyShortcut shortcut(HotKeyAction action) const;
    void setShortcut(HotKeyAction action, const HotKeyShortcut& shortcut);

    // The value of a new installation: built-in defaults with the native and second language
    // guessed from the user's system (not yet sanitised).
    static AppSettings fresh(const UserLanguagePreferencesProviding& languagePreferences);

    // A corrected copy; applying it to its own result changes nothing:
    //  1. shortcuts resolved (each has a modifier, no two actions share one);
    //  2. an automatic second language becomes English;
    //  3. with online features off, Hebrew becomes Russian (native), English (second) and the
    //     corrected native language (dictation);
    //  4. delays clamped to 3...15 s and 0...3 s, a value that is not a number to the lower bound;
    //  5. anti-sleep minutes clamped to 0...1439.
    AppSettings sanitized() const;

    // The first problem as the settings window shows it, or none.
    std::optional<QString> validationError() const;

    // Every key; "dictationLanguage" only while one is set.
    QJsonObject toJson() const;
    // "captureAndTranslateShortcut" is required; any other key may be missing or null and then
    // takes its built-in default. A present key of the wrong type, an unknown language code or
    // a shortcut that does not decode fails the whole value (the reason goes to `error`).
    static std::optional<AppSettings> fromJson(const QJsonValue& json, QString* error = nullptr);
};

}  // namespace tavrolin
