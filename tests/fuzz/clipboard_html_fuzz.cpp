// The HTML another program puts on the clipboard, converted to the plain text of a selection.
// Input: one byte choosing how the rest is read (even: UTF-8, odd: raw UTF-16, lone surrogates
// included), then the HTML.
#include "focused_text/clipboard_selection_text.h"
#include "fuzz_support.h"

using namespace tavrolin;

namespace {

// Text as a page would carry it: every character that markup reserves written as an entity.
QString escaped(const QString& text) {
    QString html = text;
    html.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    html.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    html.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    html.replace(QLatin1Char('"'), QStringLiteral("&quot;"));
    return html;
}

bool hasSpace(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const bool utf16 = input.byte() & 1;
    const QByteArray bytes = input.rest();
    const QString html = utf16 ? fuzz::rawUtf16(bytes) : QString::fromUtf8(bytes);

    const std::optional<QString> text = plainTextPreservingHTMLBlocks(html);
    if (text) {
        fuzz::require(!text->isEmpty(), "an empty text instead of none");
        fuzz::require(*text == text->trimmed(), "the text is not trimmed");
        fuzz::require(!text->contains(QStringLiteral("\n\n\n")), "more than one blank line in a row");
        fuzz::require(!text->contains(QStringLiteral(" \n")) && !text->contains(QStringLiteral("\n ")),
                      "blanks left beside a line break");
        fuzz::require(fuzz::isValidUtf16(*text), "a text that is not valid UTF-16");
    }

    // The best selection text is one of the two it chooses from.
    const QString plain = QStringLiteral("plain");
    const std::optional<QString> best = bestClipboardSelectionText(plain, html);
    fuzz::require(best && (*best == plain || best == text), "the selection text is neither plain text nor HTML");

    // Plain text escaped as a page would escape it comes back unchanged: entities are decoded
    // exactly once. (Blanks are left out: the conversion tidies them.)
    if (!hasSpace(html) && fuzz::isValidUtf16(html)) {
        const std::optional<QString> back = plainTextPreservingHTMLBlocks(escaped(html));
        fuzz::require(html.isEmpty() ? !back : back == html, "escaped text does not come back unchanged");
    }
    return 0;
}
