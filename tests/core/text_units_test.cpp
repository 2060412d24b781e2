#include "core/text_units.h"

#include <gtest/gtest.h>

using namespace tavrolin;

TEST(TextUnits, GraphemesCountWhatAPersonSees) {
    EXPECT_EQ(graphemeCount(""), 0);
    EXPECT_EQ(graphemeCount("abc"), 3);
    EXPECT_EQ(graphemeCount(QString::fromUtf8("e\u0301")), 1);                                     // combining accent
    EXPECT_EQ(graphemeCount(QString::fromUtf8("\U0001F1FA\U0001F1E6")), 1);                        // flag
    EXPECT_EQ(graphemeCount(QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467")), 1);  // family
    EXPECT_EQ(graphemeCount(QString::fromUtf8("שלום")), 4);
    EXPECT_EQ(graphemeCount(QStringLiteral("\r\n")), 1);
}

TEST(TextUnits, OffsetsConvertAcrossSurrogatePairs) {
    const QString text = QString::fromUtf8("a\U0001F600b\U0001F600");  // UTF-16: a, pair, b, pair
    EXPECT_EQ(text.size(), 6);
    EXPECT_EQ(codePointCount(text), 4);
    EXPECT_EQ(utf16OffsetToCodePointOffset(text, 0), 0);
    EXPECT_EQ(utf16OffsetToCodePointOffset(text, 1), 1);
    EXPECT_EQ(utf16OffsetToCodePointOffset(text, 2), 1);  // inside the pair: its start
    EXPECT_EQ(utf16OffsetToCodePointOffset(text, 3), 2);
    EXPECT_EQ(utf16OffsetToCodePointOffset(text, 4), 3);
    EXPECT_EQ(utf16OffsetToCodePointOffset(text, 99), 4);
    EXPECT_EQ(codePointOffsetToUtf16Offset(text, 2), 3);
    EXPECT_EQ(codePointOffsetToUtf16Offset(text, 3), 4);
    EXPECT_EQ(codePointOffsetToUtf16Offset(text, 4), 6);
    EXPECT_EQ(codePointOffsetToUtf16Offset(text, 50), 6);
    EXPECT_EQ(codePointOffsetToUtf16Offset(text, -3), 0);
    // A lone surrogate is one unit and one code point.
    const QString lone = QString(QChar(0xD83D)) + QStringLiteral("x");
    EXPECT_EQ(codePointCount(lone), 2);
    EXPECT_EQ(codePointOffsetToUtf16Offset(lone, 1), 1);
}

TEST(TextUnits, RangesFromOtherProcessesAreCheckedWithoutOverflow) {
    EXPECT_TRUE(isValidRange({0, 0}, 0));
    EXPECT_TRUE(isValidRange({2, 3}, 5));
    EXPECT_FALSE(isValidRange({2, 4}, 5));
    EXPECT_FALSE(isValidRange({-1, 1}, 5));
    EXPECT_FALSE(isValidRange({6, 0}, 5));
    EXPECT_FALSE(isValidRange({1, 0}, 5, 1));
    constexpr qsizetype big = std::numeric_limits<qsizetype>::max();
    EXPECT_FALSE(isValidRange({2, big}, 5));  // location + length would overflow
    EXPECT_FALSE(isValidRange({big, 2}, 5));
}
