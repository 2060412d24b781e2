#include "platform/linux/key_grab_plan.h"

#include <gtest/gtest.h>

namespace tavrolin::x11 {
namespace {

constexpr GlobalKeyModifiers controlShift{.control = true, .shift = true};
constexpr quint16 shift = 1, lock = 2, control = 4, mod2 = 16, mod4 = 64;

std::set<KeyCombination> asSet(const std::vector<KeyCombination>& combinations) {
    return {combinations.begin(), combinations.end()};
}

TEST(KeyGrabPlan, EachKeyIsGrabbedInEveryLockStateTheKeyboardHas) {
    const ModifierMasks withNumLock{.alt = 8, .super = mod4, .numLock = mod2};
    const std::vector<KeyCombination> expected{{25, control | shift},
                                               {25, control | shift | lock},
                                               {25, control | shift | mod2},
                                               {25, control | shift | mod2 | lock}};
    EXPECT_EQ(combinationsFor({25}, controlShift, withNumLock), expected);
    // A keyboard without Num Lock has no state for it.
    EXPECT_EQ(combinationsFor({25, 52}, {.super = true}, {.alt = 8, .super = mod4}),
              (std::vector<KeyCombination>{{25, mod4}, {25, mod4 | lock}, {52, mod4}, {52, mod4 | lock}}));
}

// A key from another device, or a layout that leaves the letters where they were: the grabs are
// not touched. A letter that moved is grabbed on its new key and let go on the old; a Num Lock
// that moved changes the lock states of every grab.
TEST(KeyGrabPlan, AKeyboardChangeTouchesOnlyTheCombinationsThatMoved) {
    const ModifierMasks masks{.alt = 8, .super = mod4, .numLock = mod2};
    const std::set<KeyCombination> held = asSet(combinationsFor({25}, controlShift, masks));
    EXPECT_TRUE(keyGrabChanges(held, held).empty());

    const KeyGrabChanges moved = keyGrabChanges(held, asSet(combinationsFor({52}, controlShift, masks)));
    EXPECT_EQ(moved.grab, combinationsFor({52}, controlShift, masks));
    EXPECT_EQ(moved.release, combinationsFor({25}, controlShift, masks));

    const KeyGrabChanges numLock =
        keyGrabChanges(held, asSet(combinationsFor({25}, controlShift, {.alt = 8, .super = mod4, .numLock = 32})));
    EXPECT_EQ(numLock.grab,
              (std::vector<KeyCombination>{{25, control | shift | 32}, {25, control | shift | 32 | lock}}));
    EXPECT_EQ(numLock.release,
              (std::vector<KeyCombination>{{25, control | shift | mod2}, {25, control | shift | mod2 | lock}}));
}

}  // namespace
}  // namespace tavrolin::x11
