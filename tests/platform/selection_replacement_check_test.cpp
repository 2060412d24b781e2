#include "platform/selection_replacement_check.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(SelectionReplacementCheckTest, TheReplacedRangeAndTheTextAroundItAreJudged) {
    const QString before = QString::fromUtf8("one\r\ntwo 😀 three\r\nfour");
    const AccessibleTextRange selection{5, 3};  // "two"
    struct Case {
        const char* name;
        QString inserted;
        QString after;
        SelectionReplacementCheck expected;
    } cases[] = {
        {"exact", "2", QString::fromUtf8("one\r\n2 😀 three\r\nfour"), {true, std::nullopt}},
        // A toolkit that stores line ends its own way: still placed.
        {"line ends rewritten", "2\r\nzwei", QString::fromUtf8("one\r\n2\nzwei 😀 three\r\nfour"), {true, std::nullopt}},
        // A busy editor's delete took a character too many, or its insert went a character too
        // far: the result stands where the selection was, yet the text around it is wrong.
        {"deleted too much", "2", QString::fromUtf8("one\r\n2😀 three\r\nfour"), {false, std::nullopt}},
        {"inserted too far", "2", QString::fromUtf8("one\r\n 2😀 three\r\nfour"), {false, std::nullopt}},
        // The selection deleted twice over, the result inserted once.
        {"deleted twice", "2", QString::fromUtf8("one\r\n2three\r\nfour"), {false, std::nullopt}},
        // Spaces normalised inside the range: not placed; what the insert put in is selected
        // so a paste goes over it (and nothing else).
        {"spaces normalised",
         QString::fromUtf8("a\u00a0b"),
         QString::fromUtf8("one\r\na b 😀 three\r\nfour"),
         {false, AccessibleTextRange{5, 3}}},
        // The insert did nothing: an empty range at the old selection's start.
        {"insert refused", "2", QString::fromUtf8("one\r\n 😀 three\r\nfour"), {false, AccessibleTextRange{5, 0}}},
        // Something changed before the range: no range can be trusted.
        {"edit before the range", "2", QString::fromUtf8("ONE\r\nX 😀 three\r\nfour"), {false, std::nullopt}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkSelectionReplacement(before, selection, c.inserted, c.after), c.expected) << c.name;
    }
}

TEST(SelectionReplacementCheckTest, RangesOutsideTheTextAreNeverPlaced) {
    EXPECT_EQ(checkSelectionReplacement("abc", {7, 1}, "x", "abc"), SelectionReplacementCheck{});
    EXPECT_EQ(checkSelectionReplacement("abc", {-1, 1}, "x", "xbc"), SelectionReplacementCheck{});
    EXPECT_EQ(withUnixLineEnds("a\r\nb\rc\n"), "a\nb\nc\n");
}

}  // namespace
}  // namespace tavrolin
