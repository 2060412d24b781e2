#include "platform/linux/x11_keyboard_layout_reader.h"

#include <QByteArray>

#include <gtest/gtest.h>

using namespace tavrolin;

// Without a reachable X server the reader answers "cannot read", never blocks or exits.
TEST(KeyboardLayoutReader, NoDisplayMeansNothingToRead) {
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":65000");
    const auto reader = createKeyboardLayoutReader();
    EXPECT_FALSE(reader->currentLayouts().has_value());
    EXPECT_TRUE(reader->unshiftedKeysyms(28).isEmpty());
    EXPECT_FALSE(lockKeyboardGroup(1));
    qputenv("DISPLAY", saved);
    EXPECT_FALSE(lockKeyboardGroup(-1));
    EXPECT_FALSE(lockKeyboardGroup(4));
}

TEST(KeyboardLayouts, ActiveLayoutOutsideTheListIsEmpty) {
    EXPECT_EQ((KeyboardLayouts{{"us", "ru"}, {}, 1}).activeLayout(), "ru");
    EXPECT_TRUE((KeyboardLayouts{{"us", "ru"}, {}, 2}).activeLayout().isEmpty());
    EXPECT_TRUE((KeyboardLayouts{{"us"}, {}, -1}).activeLayout().isEmpty());
    EXPECT_TRUE(KeyboardLayouts{}.activeLayout().isEmpty());
}
