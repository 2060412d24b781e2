#include "focused_text/clipboard_selection_text.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(SelectionStructureScoreTest, CountsLineBreakCharacters) {
    const struct {
        QString text;
        qsizetype score;
    } cases[] = {
        {"", 0},       {"one line", 0},
        {"a\nb", 1},   {"a\r\nb", 1},  // one character
        {"a\rb\n", 2}, {QString::fromUtf8("a\u2028b\u2029c\u0085"), 3},
        {"\n\n\n", 3}, {QString::fromUtf8("😀\n👍🏽\n"), 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(selectionStructureScore(c.text), c.score) << c.text.toStdString();
    }
}

TEST(PlainTextPreservingHTMLBlocksTest, KeepsBlocksAndDropsMarkup) {
    const struct {
        QString html;
        std::optional<QString> text;
    } cases[] = {
        {"<p>first</p><p>second</p>", "first\nsecond"},
        {"one<br>two<BR/>three<br />four", "one\ntwo\nthree\nfour"},
        {"<ul><li>x</li><li class=\"a\">y</li></ul>", "x\n\ny"},
        {"<h1>Title</h1><div>body</div>", "Title\nbody"},
        {"<style>p{color:red}</style><script>alert(1)</script><b>bold</b>", "bold"},
        {"<STYLE type=\"x\">\n.a{}\n</STYLE>text", "text"},
        {"a  \n   b", "a\nb"},
        {"a<br><br><br><br>b", "a\n\nb"},
        {"  <p> </p>  ", std::nullopt},
        {"<span a=\"1\"\n b=\"2\">multi-line tag</span>", "multi-line tag"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plainTextPreservingHTMLBlocks(c.html), c.text) << c.html.toStdString();
    }
}

TEST(DecodeHTMLEntitiesTest, DecodesEveryReferenceOnce) {
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"a &amp; b &lt;c&gt; &quot;d&quot; &#39;e&apos;&nbsp;f", "a & b <c> \"d\" 'e' f"},
        {"&amp;lt;", "&lt;"},  // decoded once, not twice
        {"&amp;#65;", "&#65;"},
        {"&#65;&#x42;&#x63;", "ABc"},
        {"&#128512;", QString::fromUtf8("😀")},
        {"&#x1F600;", QString::fromUtf8("😀")},
        {"&#0;&#x0;", "&#0;&#x0;"},                // no NUL
        {"&#xD83D;&#55357;", "&#xD83D;&#55357;"},  // surrogates
        {"&#x110000;&#99999999999999999999;", "&#x110000;&#99999999999999999999;"},
        {"&unknown; &amp", "&unknown; &amp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeHTMLEntities(c.in), c.out) << c.in.toStdString();
    }
    EXPECT_EQ(plainTextPreservingHTMLBlocks("<p>&amp;lt;b&amp;gt;</p>"), "&lt;b&gt;");
}

TEST(BestClipboardSelectionTextTest, PrefersHTMLOnlyWhenItKeepsMoreLines) {
    const struct {
        std::optional<QString> plain;
        std::optional<QString> html;
        std::optional<QString> best;
    } cases[] = {
        {"first second", "<p>first</p><p>second</p>", "first\nsecond"},
        {"first\nsecond", "<p>first</p><p>second</p>", "first\nsecond"},  // tie: plain
        {"a\nb\nc", "<p>a</p><p>b</p>", "a\nb\nc"},
        {std::nullopt, "<p>only html</p>", "only html"},
        {"", "<p>only html</p>", "only html"},
        {"plain", std::nullopt, "plain"},
        {"plain", "", "plain"},
        {"plain", "<br><br>", "plain"},  // converts to nothing
        {"", std::nullopt, std::nullopt},
        {std::nullopt, "<b></b>", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bestClipboardSelectionText(c.plain, c.html), c.best)
            << c.plain.value_or("<none>").toStdString() << " | " << c.html.value_or("<none>").toStdString();
    }
}

// A spreadsheet's selected cell comes as a table of one cell: only its text. A table or list in a
// document is structure.
TEST(HtmlHoldsListsOrTablesTest, OneCellAloneIsItsText) {
    const struct {
        const char* html;
        bool structure;
    } cases[] = {
        {"<html><head><title>note</title></head><body><table border=\"1\"><tr><td>I have a red car</td></tr>"
         "</table></body></html>",
         false},
        {"<p>Before</p><table><tr><td>cell</td></tr></table>", true},
        {"<table><tr><td>a</td><td>b</td></tr></table>", true},
        {"<ul><li>item</li></ul>", true},
        {"<p>plain</p>", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(htmlHoldsListsOrTables(QString::fromLatin1(c.html)), c.structure) << c.html;
    }
}

// A copied message's links are the anchors with an address, not an anchor's name nor a style's text.
TEST(HtmlLinksTest, CountsAnchorsWithAnAddress) {
    EXPECT_EQ(htmlLinks(QStringLiteral("<style>a { href: x }</style><p>see <A class=\"l\" HREF=\"https://example.org\">"
                                       "my notes</A>, <a name=\"top\">here</a> and <a\nhref='#x'>there</a></p>")),
              2);
}

}  // namespace
}  // namespace tavrolin
