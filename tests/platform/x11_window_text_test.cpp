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
        {"invalid UTF-8", QByteArray("ab\xff\xfe" "cd"), true, QStringLiteral("ab\uFFFD\uFFFDcd")},
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

}  // namespace
}  // namespace tavrolin::x11
