#include "focused_text/clipboard_selection_text.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// HTML from a program that cut an emoji in half: one surrogate without its partner.
QString withLoneSurrogate(const QString& before, char16_t surrogate, const QString& after) {
    return before + QChar(surrogate) + after;
}

TEST(ClipboardHTMLLoneSurrogateTest, ConversionStillDropsMarkupAndDecodesEntities) {
    for (const char16_t surrogate : {u'\xD83D', u'\xDE00'}) {
        const QString html = withLoneSurrogate("<p>Fish &amp; chips ", surrogate, "</p><p>Second</p>");
        const QString expected = QStringLiteral("Fish & chips \uFFFD\nSecond");
        EXPECT_EQ(plainTextPreservingHTMLBlocks(html), expected) << int(surrogate);
    }
}

TEST(ClipboardHTMLLoneSurrogateTest, EntitiesAroundALoneSurrogateAreDecodedOnce) {
    const QString text = withLoneSurrogate("&amp;lt; ", u'\xDC00', " &#65;&gt;");
    EXPECT_EQ(decodeHTMLEntities(text), QStringLiteral("&lt; \uFFFD A>"));
    // A pair stays a pair.
    EXPECT_EQ(decodeHTMLEntities(QStringLiteral("\U0001F600&amp;")), QStringLiteral("\U0001F600&"));
}

}  // namespace
}  // namespace tavrolin
