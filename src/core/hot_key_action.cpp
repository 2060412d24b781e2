#include "core/hot_key_action.h"

#include <cmath>

namespace tavrolin {

std::optional<HotKeyAction> hotKeyActionFromRawValue(quint32 raw) {
    if (raw < rawValue(HotKeyAction::captureAndTranslateActiveWindow) || raw > rawValue(HotKeyAction::createPrompt)) {
        return std::nullopt;
    }
    return static_cast<HotKeyAction>(raw);
}

QString commandTitle(HotKeyAction action) {
    switch (action) {
    case HotKeyAction::captureAndTranslateActiveWindow:
        return QStringLiteral("Translate");
    case HotKeyAction::translateMessage:
        return QStringLiteral("Write Message");
    case HotKeyAction::editText:
        return QStringLiteral("Edit Message");
    case HotKeyAction::writeText:
        return QStringLiteral("Rewrite Message");
    case HotKeyAction::flipLanguage:
        return QStringLiteral("Flip Language");
    case HotKeyAction::openDictationScratchpad:
        return QStringLiteral("Dictation Scratchpad");
    case HotKeyAction::createPrompt:
        return QStringLiteral("Create Prompt");
    }
    return {};
}

QString settingsKey(HotKeyAction action) {
    switch (action) {
    case HotKeyAction::captureAndTranslateActiveWindow:
        return QStringLiteral("captureAndTranslateShortcut");
    case HotKeyAction::translateMessage:
        return QStringLiteral("translateMessageShortcut");
    case HotKeyAction::editText:
        return QStringLiteral("editTextShortcut");
    case HotKeyAction::writeText:
        return QStringLiteral("writeTextShortcut");
    case HotKeyAction::flipLanguage:
        return QStringLiteral("flipLanguageShortcut");
    case HotKeyAction::openDictationScratchpad:
        return QStringLiteral("openDictationScratchpadShortcut");
    case HotKeyAction::createPrompt:
        return QStringLiteral("createPromptShortcut");
    }
    return {};
}

QJsonValue toJson(HotKeyAction action) {
    return static_cast<double>(rawValue(action));
}

std::optional<HotKeyAction> hotKeyActionFromJson(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < 0 || number > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return hotKeyActionFromRawValue(static_cast<quint32>(number));
}

}  // namespace tavrolin
