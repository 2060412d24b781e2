// Which raw key presses paste the clipboard, whoever typed them.
#include "platform/user_key_activity.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

namespace tavrolin {
namespace {

constexpr unsigned int controlL = 0xffe3;
constexpr unsigned int controlR = 0xffe4;
constexpr unsigned int shiftL = 0xffe1;
constexpr unsigned int shiftR = 0xffe2;
constexpr unsigned int altL = 0xffe9;
constexpr unsigned int insert = 0xff63;

// Presses the keys in order, each held over those after it, then releases them in reverse;
// answers which presses pasted.
std::vector<bool> chord(PasteKeyPresses& keys, std::initializer_list<unsigned int> keysyms) {
    std::vector<bool> pasted;
    for (const unsigned int keysym : keysyms) {
        pasted.push_back(keys.press(keysym));
    }
    const std::vector<unsigned int> pressed(keysyms);
    for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
        keys.release(*it);
    }
    return pasted;
}

TEST(PasteKeyPressesTest, ControlVAndShiftInsertPasteWithEitherHandsModifiers) {
    PasteKeyPresses keys;
    EXPECT_EQ(chord(keys, {controlL, 'v'}), (std::vector<bool>{false, true}));
    EXPECT_EQ(chord(keys, {controlR, 'v'}), (std::vector<bool>{false, true}));
    EXPECT_EQ(chord(keys, {controlL, shiftR, 'v'}), (std::vector<bool>{false, false, true}));  // plain-text paste
    EXPECT_EQ(chord(keys, {shiftL, insert}), (std::vector<bool>{false, true}));
    EXPECT_EQ(chord(keys, {shiftR, insert}), (std::vector<bool>{false, true}));
}

TEST(PasteKeyPressesTest, OtherKeysAndReleasedModifiersDoNotPaste) {
    PasteKeyPresses keys;
    EXPECT_EQ(chord(keys, {'v'}), std::vector<bool>{false});
    EXPECT_EQ(chord(keys, {altL, 'v'}), (std::vector<bool>{false, false}));
    EXPECT_EQ(chord(keys, {insert}), std::vector<bool>{false});
    EXPECT_EQ(chord(keys, {controlL, insert}), (std::vector<bool>{false, false}));  // copy
    EXPECT_EQ(chord(keys, {controlL, 'c'}), (std::vector<bool>{false, false}));
    // Control let go before the letter: typing a "v".
    EXPECT_FALSE(keys.press(controlL));
    keys.release(controlL);
    EXPECT_FALSE(keys.press('v'));
    keys.release('v');
    // A keyboard unplugged with Control down: its release never comes.
    EXPECT_FALSE(keys.press(controlL));
    keys.reset();
    EXPECT_FALSE(keys.press('v'));
}

}  // namespace
}  // namespace tavrolin
