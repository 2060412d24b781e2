#include "core/hot_key_shortcut.h"

#include "core/linux_wording.h"

#include <QList>

namespace tavrolin {

namespace {

// X protocol modifier masks.
constexpr quint16 kShiftMask = 1 << 0;
constexpr quint16 kControlMask = 1 << 2;
constexpr quint16 kMod1Mask = 1 << 3;
constexpr quint16 kMod4Mask = 1 << 6;

struct ModifierWording {
    bool HotKeyShortcut::*flag;
    std::string_view word;  // UTF-8, passed through linuxWording()
    std::string_view symbol;
};

// Display order. Option and Command read as Alt and Super on this desktop.
constexpr std::array<ModifierWording, 4> kModifiers{{
    {&HotKeyShortcut::control, "Control", "\u2303"},  // ⌃
    {&HotKeyShortcut::option, "Option", "\u2325"},    // ⌥
    {&HotKeyShortcut::shift, "Shift", "\u21E7"},      // ⇧
    {&HotKeyShortcut::command, "Command", "\u2318"},  // ⌘
}};

constexpr HotKeyShortcut controlShift(HotKeyKey key) {
    return HotKeyShortcut{key, /*command=*/false, /*option=*/false, /*shift=*/true, /*control=*/true};
}

constexpr HotKeyShortcuts kDefaults{
    controlShift(HotKeyKey::t), controlShift(HotKeyKey::w), controlShift(HotKeyKey::e), controlShift(HotKeyKey::r),
    controlShift(HotKeyKey::f), controlShift(HotKeyKey::d), controlShift(HotKeyKey::p),
};

}  // namespace

QStringList HotKeyShortcut::modifierDisplayNames() const {
    QStringList names;
    for (const auto& modifier : kModifiers) {
        if (this->*modifier.flag) {
            names.append(linuxWording(modifier.word));
        }
    }
    return names;
}

QStringList HotKeyShortcut::modifierSymbols() const {
    QStringList symbols;
    for (const auto& modifier : kModifiers) {
        if (this->*modifier.flag) {
            symbols.append(linuxWording(modifier.symbol));
        }
    }
    return symbols;
}

QString HotKeyShortcut::displayName() const {
    QStringList parts = modifierDisplayNames();
    parts.append(rawValue(key));
    return parts.join(u'+');
}

quint16 HotKeyShortcut::x11ModifierMask() const {
    quint16 mask = 0;
    if (shift)
        mask |= kShiftMask;
    if (control)
        mask |= kControlMask;
    if (option)
        mask |= kMod1Mask;
    if (command)
        mask |= kMod4Mask;
    return mask;
}

HotKeyShortcut HotKeyShortcut::fromQtModifiers(HotKeyKey key, Qt::KeyboardModifiers modifiers) {
    HotKeyShortcut shortcut;
    shortcut.key = key;
    shortcut.command = modifiers.testFlag(Qt::MetaModifier);
    shortcut.option = modifiers.testFlag(Qt::AltModifier);
    shortcut.shift = modifiers.testFlag(Qt::ShiftModifier);
    shortcut.control = modifiers.testFlag(Qt::ControlModifier);
    return shortcut;
}

QJsonObject HotKeyShortcut::toJson() const {
    return QJsonObject{
        {QStringLiteral("key"), rawValue(key)}, {QStringLiteral("command"), command},
        {QStringLiteral("option"), option},     {QStringLiteral("shift"), shift},
        {QStringLiteral("control"), control},
    };
}

std::optional<HotKeyShortcut> HotKeyShortcut::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    const auto key = rawValueFromJson<HotKeyKey>(object.value(QStringLiteral("key")));
    if (!key) {
        return std::nullopt;
    }
    HotKeyShortcut shortcut;
    shortcut.key = *key;
    const std::array<std::pair<const char*, bool HotKeyShortcut::*>, 4> flags{{
        {"command", &HotKeyShortcut::command},
        {"option", &HotKeyShortcut::option},
        {"shift", &HotKeyShortcut::shift},
        {"control", &HotKeyShortcut::control},
    }};
    for (const auto& [name, flag] : flags) {
        const QJsonValue flagValue = object.value(QLatin1String(name));
        if (!flagValue.isBool()) {
            return std::nullopt;
        }
        shortcut.*flag = flagValue.toBool();
    }
    return shortcut;
}

const HotKeyShortcuts& defaultHotKeyShortcuts() {
    return kDefaults;
}

HotKeyShortcut defaultShortcut(HotKeyAction action) {
    return kDefaults[indexOf(action)];
}

HotKeyShortcuts resolveHotKeyShortcuts(const HotKeyShortcuts& stored) {
    HotKeyShortcuts resolved = kDefaults;
    QList<HotKeyShortcut> used;
    for (std::size_t index = 0; index < stored.size(); ++index) {
        const HotKeyShortcut& ownDefault = kDefaults[index];
        QList<HotKeyShortcut> candidates{stored[index], ownDefault};
        for (const HotKeyShortcut& other : kDefaults) {
            if (other != ownDefault) {
                candidates.append(other);
            }
        }
        for (const HotKeyShortcut& candidate : candidates) {
            if (candidate.hasModifier() && !used.contains(candidate)) {
                used.append(candidate);
                resolved[index] = candidate;
                break;
            }
        }
    }
    return resolved;
}

}  // namespace tavrolin
