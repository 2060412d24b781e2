#pragma once

#include <QJsonValue>
#include <QString>

#include <array>
#include <optional>

namespace tavrolin {

// The seven commands that have a global shortcut. The raw value is the hot-key identifier
// under which a shortcut is registered and dispatched (position + 2); the case order is the
// order in which shortcuts are stored, resolved and registered.
enum class HotKeyAction : quint32 {
    captureAndTranslateActiveWindow = 2,
    translateMessage = 3,
    editText = 4,
    writeText = 5,
    flipLanguage = 6,
    openDictationScratchpad = 7,
    createPrompt = 8,
};

inline constexpr std::array<HotKeyAction, 7> allHotKeyActions{
    HotKeyAction::captureAndTranslateActiveWindow,
    HotKeyAction::translateMessage,
    HotKeyAction::editText,
    HotKeyAction::writeText,
    HotKeyAction::flipLanguage,
    HotKeyAction::openDictationScratchpad,
    HotKeyAction::createPrompt,
};

constexpr quint32 rawValue(HotKeyAction action) {
    return static_cast<quint32>(action);
}

// Position of the action in allHotKeyActions (0 to 6).
constexpr std::size_t indexOf(HotKeyAction action) {
    return rawValue(action) - 2;
}

// 2 to 8 give an action, anything else none.
std::optional<HotKeyAction> hotKeyActionFromRawValue(quint32 raw);

// The name under which menus and alerts show the command ("Translate", "Write Message", ...).
QString commandTitle(HotKeyAction action);

// The settings field (and JSON key) holding the action's shortcut.
QString settingsKey(HotKeyAction action);

// JSON: the raw id as a number. Anything but an integral number from 2 to 8 gives none.
QJsonValue toJson(HotKeyAction action);
std::optional<HotKeyAction> hotKeyActionFromJson(const QJsonValue& value);

}  // namespace tavrolin
