#include "core/hot_key_shortcut.h"

#include "support/fakes/fake_keyboard_layout_reader.h"

#include <QJsonDocument>

#include <gtest/gtest.h>
#include <map>

using namespace tavrolin;

namespace {

HotKeyShortcut cs(HotKeyKey key) {
    return HotKeyShortcut{key, false, false, true, true};
}
HotKeyShortcut bare(HotKeyKey key) {
    return HotKeyShortcut{key, false, false, false, false};
}

HotKeyShortcuts defaultsWith(std::initializer_list<std::pair<HotKeyAction, HotKeyShortcut>> changes) {
    HotKeyShortcuts shortcuts = defaultHotKeyShortcuts();
    for (const auto& [action, shortcut] : changes) {
        shortcuts[indexOf(action)] = shortcut;
    }
    return shortcuts;
}

std::optional<HotKeyShortcut> decode(const char* json) {
    return HotKeyShortcut::fromJson(QJsonDocument::fromJson(json).object());
}

}  // namespace

TEST(HotKeyAction, RawIdsAndOrder) {
    EXPECT_EQ(rawValue(HotKeyAction::captureAndTranslateActiveWindow), 2u);
    EXPECT_EQ(rawValue(HotKeyAction::createPrompt), 8u);
    for (quint32 raw : {0u, 1u, 9u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(hotKeyActionFromRawValue(raw)) << raw;
    }
    for (std::size_t i = 0; i < allHotKeyActions.size(); ++i) {
        EXPECT_EQ(hotKeyActionFromRawValue(static_cast<quint32>(i + 2)), allHotKeyActions[i]);
        EXPECT_EQ(hotKeyActionFromJson(toJson(allHotKeyActions[i])), allHotKeyActions[i]);
    }
    EXPECT_FALSE(hotKeyActionFromJson(QJsonValue(2.5)));
    EXPECT_FALSE(hotKeyActionFromJson(QJsonValue(QStringLiteral("2"))));
    EXPECT_EQ(commandTitle(HotKeyAction::translateMessage), "Write Message");
    EXPECT_EQ(commandTitle(HotKeyAction::writeText), "Rewrite Message");
}

TEST(HotKeyKey, RawValuesAreExactAndCaseSensitive) {
    ASSERT_EQ(allHotKeyKeys().size(), 48u);
    QStringList labels;
    for (HotKeyKey key : allHotKeyKeys()) {
        labels.append(rawValue(key));
        EXPECT_EQ(fromRawValue<HotKeyKey>(rawValue(key)), key);
    }
    EXPECT_EQ(labels.first(), "0");
    EXPECT_EQ(labels.at(10), "A");
    EXPECT_EQ(labels.at(35), "Z");
    EXPECT_EQ(labels.last(), "F12");
    for (const char* bad : {"a", "t", "f1", "F0", "F13", "F01", "F+1", "F 1", "10", "", "AB", "Ф"}) {
        EXPECT_FALSE(fromRawValue<HotKeyKey>(QString::fromUtf8(bad))) << bad;
    }
}

TEST(HotKeyKey, KeysymsAndQtKeysMapBothWays) {
    struct Case {
        quint32 keysym;
        std::optional<HotKeyKey> key;
    };
    const Case cases[] = {
        {0x061, HotKeyKey::a},      {0x041, HotKeyKey::a},   {0x07a, HotKeyKey::z},    {0x030, HotKeyKey::digit0},
        {0x039, HotKeyKey::digit9}, {0xffbe, HotKeyKey::f1}, {0xffc9, HotKeyKey::f12}, {0xffca, std::nullopt},  // F13
        {0xffb1, std::nullopt},  // keypad 1
        {0x021, std::nullopt},   // exclam
        {0xff51, std::nullopt},  // Left
        {0x6c6, std::nullopt},   // Cyrillic_a
        {0x000, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hotKeyKeyFromKeysym(c.keysym), c.key) << std::hex << c.keysym;
    }
    for (HotKeyKey key : allHotKeyKeys()) {
        EXPECT_EQ(hotKeyKeyFromKeysym(keysym(key)), key);
    }
    EXPECT_EQ(keysym(HotKeyKey::t), 0x074u);  // grabs use the lower-case letter
    EXPECT_EQ(hotKeyKeyFromQtKey(Qt::Key_T), HotKeyKey::t);
    EXPECT_EQ(hotKeyKeyFromQtKey(Qt::Key_5), HotKeyKey::digit5);
    EXPECT_EQ(hotKeyKeyFromQtKey(Qt::Key_F10), HotKeyKey::f10);
    EXPECT_FALSE(hotKeyKeyFromQtKey(Qt::Key_F13));
    EXPECT_FALSE(hotKeyKeyFromQtKey(Qt::Key_Exclam));
}

TEST(HotKeyKey, RecorderTakesTheUnshiftedLatinKey) {
    test::FakeKeyboardLayoutReader keyboard;
    keyboard.setKey(10, {0x031});                               // the "1" key
    keyboard.setKey(28, {0x6c5 /*Cyrillic_ie*/, 0x074 /*t*/});  // Russian group active
    keyboard.setKey(87, {0xff9c /*KP_End*/});                   // keypad 1 with NumLock off
    // Shift+1 arrives as "!" but is the key 1.
    EXPECT_EQ(hotKeyKeyForKeyPress({10, 0x021, Qt::Key_Exclam}, &keyboard), HotKeyKey::digit1);
    // On the Russian layout the T key still records T.
    EXPECT_EQ(hotKeyKeyForKeyPress({28, 0x6c5, 0x0415}, &keyboard), HotKeyKey::t);
    // A keypad key stays out even though its NumLock symbol is a digit.
    EXPECT_FALSE(hotKeyKeyForKeyPress({87, 0xffb1, Qt::Key_1}, &keyboard));
    // Unknown to the keyboard (or no keyboard): the press's own keysym, then its Qt key.
    EXPECT_EQ(hotKeyKeyForKeyPress({200, 0x066, 0}, &keyboard), HotKeyKey::f);
    EXPECT_EQ(hotKeyKeyForKeyPress({0, 0, Qt::Key_F3}, nullptr), HotKeyKey::f3);
    EXPECT_FALSE(hotKeyKeyForKeyPress({0, 0x021, Qt::Key_Exclam}, nullptr));

    // French top row: the digit is on the shifted level, and only a digit is taken from there.
    keyboard.setKey(11, {0x0e9 /*eacute*/}, {0x032 /*2*/});
    keyboard.setKey(59, {0x02c /*comma*/}, {0x03f /*question*/});
    keyboard.setKey(60, {0x03b /*semicolon*/}, {0x04b /*K*/});
    EXPECT_EQ(hotKeyKeyForKeyPress({11, 0x0e9, Qt::Key_Eacute}, &keyboard), HotKeyKey::digit2);
    EXPECT_FALSE(hotKeyKeyForKeyPress({59, 0x02c, Qt::Key_Comma}, &keyboard));
    EXPECT_FALSE(hotKeyKeyForKeyPress({60, 0x03b, Qt::Key_Semicolon}, &keyboard));
}

TEST(HotKeyShortcut, DisplayTextsUseTheDesktopsModifierOrder) {
    EXPECT_EQ(cs(HotKeyKey::t).displayName(), "Control+Shift+T");
    EXPECT_EQ((HotKeyShortcut{HotKeyKey::a, true, false, false, false}).displayName(), "Super+A");
    EXPECT_EQ((HotKeyShortcut{HotKeyKey::f5, true, false, false, false}).displayName(), "Super+F5");
    const HotKeyShortcut all{HotKeyKey::digit7, true, true, true, true};
    EXPECT_EQ(all.displayName(), "Control+Alt+Shift+Super+7");
    EXPECT_EQ(all.modifierSymbols().join(QString()), QString::fromUtf8("⌃⎇⇧❖"));
    EXPECT_EQ((HotKeyShortcut{HotKeyKey::b, true, false, true, false}).modifierSymbols().join(QString()),
              QString::fromUtf8("⇧❖"));
    EXPECT_EQ(bare(HotKeyKey::q).displayName(), "Q");
    EXPECT_TRUE(bare(HotKeyKey::q).modifierDisplayNames().isEmpty());
}

TEST(HotKeyShortcut, ModifiersMapToXMasksAndFromQt) {
    EXPECT_EQ(cs(HotKeyKey::t).x11ModifierMask(), 0x1 | 0x4);
    EXPECT_EQ((HotKeyShortcut{HotKeyKey::t, true, true, false, false}).x11ModifierMask(), 0x40 | 0x8);
    const auto recorded = HotKeyShortcut::fromQtModifiers(HotKeyKey::k, Qt::AltModifier | Qt::MetaModifier);
    EXPECT_EQ(recorded, (HotKeyShortcut{HotKeyKey::k, true, true, false, false}));
    EXPECT_FALSE(HotKeyShortcut::fromQtModifiers(HotKeyKey::k, Qt::KeypadModifier).hasModifier());
}

TEST(HotKeyShortcut, JsonKeepsStoredKeyNamesAndIsStrict) {
    const HotKeyShortcut shortcut{HotKeyKey::f12, true, false, true, false};
    const QJsonObject json = shortcut.toJson();
    EXPECT_EQ(json.keys(), (QStringList{"command", "control", "key", "option", "shift"}));
    EXPECT_EQ(json.value("key").toString(), "F12");
    EXPECT_EQ(HotKeyShortcut::fromJson(json), shortcut);

    EXPECT_EQ(decode(R"({"key":"T","command":false,"option":false,"shift":true,"control":true,"extra":1})"),
              cs(HotKeyKey::t));
    const char* failures[] = {
        R"({"key":"T","command":false,"option":false,"shift":true})",                 // no control
        R"({"key":"t","command":false,"option":false,"shift":true,"control":true})",  // lower case
        R"({"key":"F13","command":false,"option":false,"shift":true,"control":true})",
        R"({"key":5,"command":false,"option":false,"shift":true,"control":true})",
        R"({"key":"T","command":0,"option":false,"shift":true,"control":true})",
        R"({"key":"T","command":null,"option":false,"shift":true,"control":true})",
        R"({"key":"T","command":"true","option":false,"shift":true,"control":true})",
    };
    for (const char* json : failures) {
        EXPECT_FALSE(decode(json)) << json;
    }
    EXPECT_FALSE(HotKeyShortcut::fromJson(QJsonValue(QStringLiteral("Control+Shift+T"))));
}

TEST(HotKeyShortcutResolution, KeepsValidSetsAndMendsConflicts) {
    struct Case {
        const char* name;
        HotKeyShortcuts stored;
        HotKeyShortcuts expected;
    };
    HotKeyShortcuts allT;
    allT.fill(cs(HotKeyKey::t));
    HotKeyShortcuts allBare;
    allBare.fill(bare(HotKeyKey::t));
    const HotKeyShortcut custom{HotKeyKey::digit1, false, true, false, false};
    const Case cases[] = {
        {"defaults stay", defaultHotKeyShortcuts(), defaultHotKeyShortcuts()},
        {"valid custom set stays", defaultsWith({{HotKeyAction::flipLanguage, custom}}),
         defaultsWith({{HotKeyAction::flipLanguage, custom}})},
        {"later duplicate gets its own default", defaultsWith({{HotKeyAction::translateMessage, cs(HotKeyKey::t)}}),
         defaultHotKeyShortcuts()},
        {"modifier-less gets its own default", defaultsWith({{HotKeyAction::editText, bare(HotKeyKey::e)}}),
         defaultHotKeyShortcuts()},
        {"own default taken: first free default in action order",
         defaultsWith({{HotKeyAction::captureAndTranslateActiveWindow, cs(HotKeyKey::e)},
                       {HotKeyAction::editText, bare(HotKeyKey::e)}}),
         defaultsWith({{HotKeyAction::captureAndTranslateActiveWindow, cs(HotKeyKey::e)},
                       {HotKeyAction::editText, cs(HotKeyKey::t)}})},
        {"T and W both taken earlier: E's fallback skips to the next free",
         defaultsWith({{HotKeyAction::captureAndTranslateActiveWindow, cs(HotKeyKey::e)},
                       {HotKeyAction::translateMessage, cs(HotKeyKey::t)},
                       {HotKeyAction::editText, bare(HotKeyKey::x)}}),
         defaultsWith({{HotKeyAction::captureAndTranslateActiveWindow, cs(HotKeyKey::e)},
                       {HotKeyAction::translateMessage, cs(HotKeyKey::t)},
                       {HotKeyAction::editText, cs(HotKeyKey::w)}})},
        {"every action on Control+Shift+T", allT, defaultHotKeyShortcuts()},
        {"nothing has a modifier", allBare, defaultHotKeyShortcuts()},
    };
    for (const Case& c : cases) {
        const HotKeyShortcuts resolved = resolveHotKeyShortcuts(c.stored);
        EXPECT_EQ(resolved, c.expected) << c.name;
        EXPECT_EQ(resolveHotKeyShortcuts(resolved), resolved) << c.name;
    }
}

TEST(HotKeyShortcutResolution, AlwaysYieldsSevenDistinctShortcutsWithModifiers) {
    // Exhaustive over a small alphabet: each action stored as one of five shortcuts.
    const HotKeyShortcut pool[] = {cs(HotKeyKey::t), cs(HotKeyKey::p), bare(HotKeyKey::a),
                                   HotKeyShortcut{HotKeyKey::a, true, false, false, false}, cs(HotKeyKey::w)};
    HotKeyShortcuts stored;
    for (int combo = 0; combo < 78125; combo += 13) {  // 5^7 combinations, sampled
        int rest = combo;
        for (auto& shortcut : stored) {
            shortcut = pool[rest % 5];
            rest /= 5;
        }
        const HotKeyShortcuts resolved = resolveHotKeyShortcuts(stored);
        for (std::size_t i = 0; i < resolved.size(); ++i) {
            ASSERT_TRUE(resolved[i].hasModifier());
            for (std::size_t j = i + 1; j < resolved.size(); ++j) {
                ASSERT_NE(resolved[i], resolved[j]) << combo;
            }
        }
    }
}
