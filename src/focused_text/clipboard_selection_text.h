#pragma once

#include <QString>

#include <optional>

namespace tavrolin {

// Choosing the best text of a copied selection. Web pages copy as HTML beside a flattened
// plain text; the HTML keeps the paragraph breaks that the plain text may have lost.

// The number of characters (grapheme clusters) that start with a line break: U+000A to
// U+000D, U+0085, U+2028, U+2029. A carriage return followed by a line feed counts once.
qsizetype selectionStructureScore(const QString& text);

// The plain text unless the HTML, converted, keeps strictly more line breaks. Empty inputs
// count as missing; absent when neither gives text.
std::optional<QString> bestClipboardSelectionText(const std::optional<QString>& plainText,
                                                  const std::optional<QString>& htmlText);

// HTML to plain text that keeps block structure: line breaks for <br> and at the end of
// paragraphs, divisions, list items, headings, quotes and table rows; styles, scripts and
// every other tag removed; entities decoded; blank runs tidied; trimmed; a lone surrogate
// becomes U+FFFD. Absent when nothing is left.
std::optional<QString> plainTextPreservingHTMLBlocks(const QString& html);

// Whether copied HTML holds a list item or a table cell (outside styles and scripts): structure
// that a paste of plain text would flatten. A table of one cell with nothing beside it is not.
bool htmlHoldsListsOrTables(const QString& html);

// How many links (<a> with an address) copied HTML holds, outside styles and scripts.
qsizetype htmlLinks(const QString& html);

// Decodes &amp; &lt; &gt; &quot; &#39; &apos; &nbsp; and decimal and hexadecimal character
// references in a single pass, so "&amp;lt;" becomes "&lt;" and not "<". References to 0, to
// surrogates, beyond U+10FFFF or too large to parse are left as they are; a lone surrogate in
// the text becomes U+FFFD.
QString decodeHTMLEntities(const QString& text);

}  // namespace tavrolin
