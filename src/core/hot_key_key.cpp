#include "core/hot_key_key.h"

#include "platform/keyboard_layout_reading.h"

#include <Qt>

namespace tavrolin {

namespace {

// X11 keysym values (X protocol constants).
constexpr quint32 kKeysym0 = 0x030;
constexpr quint32 kKeysym9 = 0x039;
constexpr quint32 kKeysymUpperA = 0x041;
constexpr quint32 kKeysymUpperZ = 0x05a;
constexpr quint32 kKeysymLowerA = 0x061;
constexpr quint32 kKeysymLowerZ = 0x07a;
constexpr quint32 kKeysymF1 = 0xffbe;
constexpr quint32 kKeysymF12 = 0xffc9;

constexpr int kFirstLetter = static_cast<int>(HotKeyKey::a);
constexpr int kFirstFunction = static_cast<int>(HotKeyKey::f1);

constexpr std::array<HotKeyKey, hotKeyKeyCount> makeAllKeys() {
    std::array<HotKeyKey, hotKeyKeyCount> keys{};
    for (std::size_t i = 0; i < hotKeyKeyCount; ++i) {
        keys[i] = static_cast<HotKeyKey>(i);
    }
    return keys;
}

constexpr std::array<HotKeyKey, hotKeyKeyCount> kAllKeys = makeAllKeys();

}  // namespace

const std::array<HotKeyKey, hotKeyKeyCount>& allHotKeyKeys() {
    return kAllKeys;
}

QString rawValue(HotKeyKey key) {
    const int index = static_cast<int>(key);
    if (index < kFirstLetter) {
        return QString(QChar(u'0' + index));
    }
    if (index < kFirstFunction) {
        return QString(QChar(u'A' + (index - kFirstLetter)));
    }
    return QStringLiteral("F%1").arg(index - kFirstFunction + 1);
}

template <>
std::optional<HotKeyKey> fromRawValue<HotKeyKey>(QStringView raw) {
    if (raw.size() == 1) {
        const char16_t c = raw.at(0).unicode();
        if (c >= u'0' && c <= u'9') {
            return static_cast<HotKeyKey>(c - u'0');
        }
        if (c >= u'A' && c <= u'Z') {
            return static_cast<HotKeyKey>(kFirstLetter + (c - u'A'));
        }
        return std::nullopt;
    }
    if ((raw.size() == 2 || raw.size() == 3) && raw.at(0) == u'F' && raw.at(1) != u'0') {
        bool ok = false;
        const int number = raw.mid(1).toInt(&ok);
        // toInt accepts signs and spaces: insist on plain digits.
        for (QChar c : raw.mid(1)) {
            if (!c.isDigit() || c.unicode() > 0x7f) {
                return std::nullopt;
            }
        }
        if (ok && number >= 1 && number <= 12) {
            return static_cast<HotKeyKey>(kFirstFunction + number - 1);
        }
    }
    return std::nullopt;
}

quint32 keysym(HotKeyKey key) {
    const int index = static_cast<int>(key);
    if (index < kFirstLetter) {
        return kKeysym0 + static_cast<quint32>(index);
    }
    if (index < kFirstFunction) {
        return kKeysymLowerA + static_cast<quint32>(index - kFirstLetter);
    }
    return kKeysymF1 + static_cast<quint32>(index - kFirstFunction);
}

std::optional<HotKeyKey> hotKeyKeyFromKeysym(quint32 sym) {
    if (sym >= kKeysym0 && sym <= kKeysym9) {
        return static_cast<HotKeyKey>(sym - kKeysym0);
    }
    if (sym >= kKeysymLowerA && sym <= kKeysymLowerZ) {
        return static_cast<HotKeyKey>(kFirstLetter + static_cast<int>(sym - kKeysymLowerA));
    }
    if (sym >= kKeysymUpperA && sym <= kKeysymUpperZ) {
        return static_cast<HotKeyKey>(kFirstLetter + static_cast<int>(sym - kKeysymUpperA));
    }
    if (sym >= kKeysymF1 && sym <= kKeysymF12) {
        return static_cast<HotKeyKey>(kFirstFunction + static_cast<int>(sym - kKeysymF1));
    }
    return std::nullopt;
}

std::optional<HotKeyKey> hotKeyKeyFromQtKey(int qtKey) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return static_cast<HotKeyKey>(qtKey - Qt::Key_0);
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        return static_cast<HotKeyKey>(kFirstLetter + (qtKey - Qt::Key_A));
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) {
        return static_cast<HotKeyKey>(kFirstFunction + (qtKey - Qt::Key_F1));
    }
    return std::nullopt;
}

std::optional<HotKeyKey> hotKeyKeyForKeyPress(const KeyPress& press, KeyboardLayoutReading* keyboard) {
    if (keyboard && press.nativeScanCode != 0) {
        const QList<quint32> symbols = keyboard->unshiftedKeysyms(press.nativeScanCode);
        if (!symbols.isEmpty()) {
            // The keyboard knows this key: its unshifted symbols decide, so Shift+1 ("!") is 1
            // and a key that is no shortcut key (keypad, punctuation) stays none.
            for (quint32 sym : symbols) {
                if (const auto key = hotKeyKeyFromKeysym(sym)) {
                    return key;
                }
            }
            // French, Belgian and Czech layouts put the digits on the shifted level of the top
            // row ("&" over "1"); the global grab finds them there too.
            for (quint32 sym : keyboard->shiftedKeysyms(press.nativeScanCode)) {
                if (const auto key = hotKeyKeyFromKeysym(sym); key && static_cast<int>(*key) < kFirstLetter) {
                    return key;
                }
            }
            return std::nullopt;
        }
    }
    if (const auto key = hotKeyKeyFromKeysym(press.nativeVirtualKey)) {
        return key;
    }
    return hotKeyKeyFromQtKey(press.qtKey);
}

}  // namespace tavrolin
