#include "platform/linux/x11_desktop.h"

#include <gtest/gtest.h>

namespace tavrolin::x11 {
namespace {

TEST(X11WindowText, TitlesFromOtherClientsNeverBreakDecoding) {
    struct Case {
        const char* name;
        QByteArray bytes;
        bool utf8;
        QString expected;
    } cases[] = {
        {"UTF-8", QByteArray("Caf\xc3\xa9 \xe2\x80\x93 notes"), true, QString::fromUtf8("Café – notes")},
        {"invalid UTF-8",
         QByteArray("ab\xff\xfe"
                    "cd"),
         true, QStringLiteral("ab\uFFFD\uFFFDcd")},
        {"Latin-1", QByteArray("Caf\xe9"), false, QString::fromUtf8("Café")},
        {"stops at NUL", QByteArray("first\0second", 12), true, QStringLiteral("first")},
        {"empty", QByteArray(), true, QString()},
    };
    for (const auto& c : cases) {
        const QString decoded = decodeWindowText(c.bytes, c.utf8);
        EXPECT_EQ(decoded, c.expected) << c.name;
        EXPECT_FALSE(decoded.contains(QChar(0))) << c.name;
    }
    // A title cut inside a character keeps everything before the cut.
    const QString cut = decodeWindowText(QByteArray("end\xe2\x80"), true);
    EXPECT_TRUE(cut.startsWith(QStringLiteral("end\uFFFD"))) << cut.toStdString();
}

TEST(X11WindowBounds, FrameExtentsFromOtherClientsStayWithinTheWindowAndXLimits) {
    // An ordinary title bar and border.
    EXPECT_EQ(frameBounds(QPoint(100, 120), QSize(640, 400), {1, 1, 22, 1}), QRect(99, 98, 642, 423));
    // No extents (or too few values): the client alone.
    EXPECT_EQ(frameBounds(QPoint(-50, 10), QSize(300, 200), {}), QRect(-50, 10, 300, 200));
    EXPECT_EQ(frameBounds(QPoint(-50, 10), QSize(300, 200), {5, 5}), QRect(-50, 10, 300, 200));
    // Absurd extents: each is at most the client's size on its axis.
    constexpr std::uint32_t huge = 600000000;
    EXPECT_EQ(frameBounds(QPoint(100, 100), QSize(300, 200), {huge, huge, huge, huge}), QRect(-200, -100, 900, 600));
    EXPECT_EQ(frameBounds(QPoint(0, 0), QSize(300, 200), {0xFFFFFFFFu, 0, 0, 0xFFFFFFFFu}), QRect(-300, 0, 600, 400));
    // The largest window X allows, with a frame: still no side beyond 65535.
    const QRect largest = frameBounds(QPoint(-32768, -32768), QSize(65535, 65535), {huge, huge, huge, huge});
    EXPECT_EQ(largest.size(), QSize(65535, 65535));
    EXPECT_EQ(largest.topLeft(), QPoint(-32768 - 65535, -32768 - 65535));
}

}  // namespace
}  // namespace tavrolin::x11
