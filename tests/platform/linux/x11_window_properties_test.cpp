#include "platform/linux/x11_desktop.h"

#include <cstring>
#include <gtest/gtest.h>

namespace tavrolin::x11 {
namespace {

constexpr std::uint32_t cardinalAtom = 6;
constexpr std::uint32_t stringAtom = 31;
constexpr std::uint32_t utf8Atom = 300;

WindowProperty cardinals(std::initializer_list<std::uint32_t> values, std::uint8_t format = 32) {
    QByteArray bytes(static_cast<qsizetype>(values.size() * 4), '\0');
    std::memcpy(bytes.data(), std::data(values), bytes.size());
    return {cardinalAtom, format, bytes};
}

TEST(X11WindowProperties, NumbersAreReadOnlyFromWholeFormat32Items) {
    EXPECT_EQ(windowProcessID(cardinals({4321})), 4321);
    EXPECT_FALSE(windowProcessID(cardinals({0})));
    EXPECT_FALSE(windowProcessID(cardinals({0x80000000u})));  // beyond a process ID
    EXPECT_FALSE(windowProcessID(cardinals({4321}, 8)));      // the right bytes, wrong format
    EXPECT_FALSE(windowProcessID(WindowProperty{cardinalAtom, 32, QByteArray("\x01\x02", 2)}));  // cut short
    EXPECT_FALSE(windowProcessID(WindowProperty{}));

    EXPECT_EQ(windowOpacity(cardinals({0xFFFFFFFFu})), 1.0);
    EXPECT_EQ(windowOpacity(cardinals({0})), 0.0);
    EXPECT_FALSE(windowOpacity(cardinals({1}, 16)));

    WindowProperty trailing = cardinals({1, 2});
    trailing.bytes.append("\x03\x04\x05", 3);
    EXPECT_EQ(trailing.cardinals(), (std::vector<std::uint32_t>{1, 2}));
}

TEST(X11WindowProperties, ClassAndTitleTakeOnlyWhatTheyShould) {
    EXPECT_EQ(windowClassName({stringAtom, 8, QByteArray("gedit\0Gedit\0", 12)}), QStringLiteral("Gedit"));
    EXPECT_EQ(windowClassName({stringAtom, 8, QByteArray("a\0B\0extra\0", 10)}), QStringLiteral("B"));
    EXPECT_FALSE(windowClassName({stringAtom, 8, QByteArray("instance-only")}));
    EXPECT_FALSE(windowClassName({stringAtom, 8, QByteArray("instance\0\0", 10)}));
    EXPECT_FALSE(windowClassName({stringAtom, 32, QByteArray("gedit\0Gedit\0", 12)}));

    const WindowProperty utf8Title{utf8Atom, 8, QByteArray("Caf\xc3\xa9")};
    const WindowProperty latin1Title{stringAtom, 8, QByteArray("Caf\xe9")};
    EXPECT_EQ(windowTitle(utf8Title, latin1Title, utf8Atom), QString::fromUtf8("Café"));
    // A _NET_WM_NAME of the wrong format does not hide WM_NAME.
    EXPECT_EQ(windowTitle({utf8Atom, 16, QByteArray("xx")}, latin1Title, utf8Atom), QString::fromUtf8("Café"));
    EXPECT_EQ(windowTitle({}, {}, utf8Atom), std::nullopt);
}

}  // namespace
}  // namespace tavrolin::x11
