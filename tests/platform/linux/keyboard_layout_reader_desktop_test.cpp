#include "platform/linux/x11_keyboard_layout_reader.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Sets the keyboard to the given layouts for one test and puts the original back afterwards.
class KeyboardLayoutsOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        reader = createKeyboardLayoutReader();
        original = reader->currentLayouts();
        ASSERT_TRUE(original.has_value()) << "the display's keyboard cannot be read";
    }
    void TearDown() override {
        if (original && !original->layouts.isEmpty()) {
            QStringList args{QStringLiteral("-layout"), original->layouts.join(u',')};
            if (!original->variants.join(QString()).isEmpty()) {
                args << QStringLiteral("-variant") << original->variants.join(u',');
            }
            EXPECT_TRUE(run(QStringLiteral("setxkbmap"), args));
            EXPECT_TRUE(lockKeyboardGroup(original->activeGroup));
        }
    }

    std::unique_ptr<KeyboardLayoutReading> reader;
    std::optional<KeyboardLayouts> original;
};

}  // namespace

TEST_F(KeyboardLayoutsOnDisplay, ReadsLayoutsAndTheActiveGroup) {
    ASSERT_TRUE(run("setxkbmap", {"-layout", "us,ru"}));
    auto layouts = reader->currentLayouts();
    ASSERT_TRUE(layouts.has_value());
    EXPECT_EQ(layouts->layouts, (QStringList{"us", "ru"}));
    EXPECT_EQ(layouts->activeGroup, 0);
    EXPECT_EQ(layouts->activeLayout(), "us");

    ASSERT_TRUE(lockKeyboardGroup(1));
    layouts = reader->currentLayouts();
    ASSERT_TRUE(layouts.has_value());
    EXPECT_EQ(layouts->activeGroup, 1);
    EXPECT_EQ(layouts->activeLayout(), "ru");
}

TEST_F(KeyboardLayoutsOnDisplay, UnshiftedSymbolsListTheActiveGroupFirst) {
    // evdev keycodes: 10 is the "1" key, 28 the "T" key.
    ASSERT_TRUE(run("setxkbmap", {"-layout", "us,ru"}));
    ASSERT_TRUE(lockKeyboardGroup(0));
    EXPECT_EQ(reader->unshiftedKeysyms(10), (QList<quint32>{0x031}));
    EXPECT_EQ(reader->unshiftedKeysyms(28), (QList<quint32>{0x074, 0x6c5}));
    EXPECT_EQ(reader->shiftedKeysyms(10), (QList<quint32>{0x021}));  // "!" in both groups
    EXPECT_EQ(reader->shiftedKeysyms(28), (QList<quint32>{0x054, 0x6e5}));
    ASSERT_TRUE(lockKeyboardGroup(1));
    EXPECT_EQ(reader->unshiftedKeysyms(28), (QList<quint32>{0x6c5, 0x074}));
    EXPECT_TRUE(reader->unshiftedKeysyms(3).isEmpty());  // below the server's keycode range
}
