#include "focused_text/accessible_text_cleaning.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// As Firefox reports "I love this red car 😀👍🏽 very much." and a paragraph holding an image.
const QString firefoxEmoji = QString::fromUtf8("I love this red car 😀\uFEFF👍\uFEFF🏽\uFEFF very much.");
const QString embeddedImage = QString::fromUtf8("See \uFFFC\uFEFF below");

TEST(AccessibleTextCleaningTest, RemovesTheCharactersTheAccessibilityLayerAdds) {
    EXPECT_EQ(cleanAccessibleText(firefoxEmoji), QString::fromUtf8("I love this red car 😀👍🏽 very much."));
    EXPECT_EQ(cleanAccessibleText(embeddedImage), QStringLiteral("See  below"));
    EXPECT_EQ(cleanAccessibleText(QString::fromUtf8("plain 😀 text")), QString::fromUtf8("plain 😀 text"));
    EXPECT_EQ(cleanAccessibleText(QString()), QString());
}

TEST(AccessibleTextCleaningTest, MapsRangesOntoTheCleanedText) {
    // "a😀\uFEFFb\uFFFCc": a at 0, the emoji at 1-2, U+FEFF at 3, b at 4, U+FFFC at 5, c at 6.
    const QString reported = QString::fromUtf8("a😀\uFEFFb\uFFFCc");
    ASSERT_EQ(cleanAccessibleText(reported), QString::fromUtf8("a😀bc"));
    const struct {
        TextRange reported;
        std::optional<TextRange> cleaned;
    } cases[] = {
        {{0, 0}, TextRange{0, 0}},  // caret at the start
        {{7, 0}, TextRange{5, 0}},  // caret at the end
        {{0, 7}, TextRange{0, 5}},  // everything
        {{4, 1}, TextRange{3, 1}},  // "b"
        {{1, 3}, TextRange{1, 2}},  // the emoji with its U+FEFF
        {{5, 1}, TextRange{4, 0}},  // only a marker: nothing selected, where it stood
        {{6, 2}, std::nullopt},     // past the end
        {{-1, 1}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanedAccessibleTextRange(reported, c.reported), c.cleaned)
            << c.reported.location << "," << c.reported.length;
    }
    EXPECT_EQ(cleanedAccessibleTextRange(firefoxEmoji, {30, 4}), (TextRange{27, 4}));  // "very"
}

}  // namespace
}  // namespace tavrolin
