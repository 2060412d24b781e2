#include "focused_text/clipboard_selection_text.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <limits>

namespace tavrolin {

namespace {

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

char32_t firstScalar(QStringView text) {
    if (text.isEmpty()) {
        return 0;
    }
    if (text.size() > 1 && text[0].isHighSurrogate() && text[1].isLowSurrogate()) {
        return QChar::surrogateToUcs4(text[0], text[1]);
    }
    return text[0].unicode();
}

// The scalar named by a numeric reference, if it is one that may appear in text.
std::optional<char32_t> referencedScalar(const QString& digits, int radix) {
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, radix);
    if (!ok || value > std::numeric_limits<quint32>::max()) {
        return std::nullopt;
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF) || value >= 0x110000) {
        return std::nullopt;
    }
    return static_cast<char32_t>(value);
}

// The expressions below match nothing at all in text that is not valid UTF-16, so a surrogate
// without its partner (an emoji cut in half by the program that copied) becomes U+FFFD first.
QString withLoneSurrogatesReplaced(const QString& text) {
    QString result = text;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar unit = result.at(i);
        if (unit.isHighSurrogate() && i + 1 < result.size() && result.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (unit.isSurrogate()) {
            result[i] = QChar::ReplacementCharacter;
        }
    }
    return result;
}

QString replaceAll(QString text, const QRegularExpression& pattern, const QString& replacement) {
    return text.replace(pattern, replacement);
}

}  // namespace

qsizetype selectionStructureScore(const QString& text) {
    if (text.isEmpty()) {
        return 0;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (isLineBreak(firstScalar(QStringView(text).mid(start, end - start)))) {
            ++count;
        }
        start = end;
    }
    return count;
}

std::optional<QString> bestClipboardSelectionText(const std::optional<QString>& plainText,
                                                  const std::optional<QString>& htmlText) {
    const std::optional<QString> plain = plainText && !plainText->isEmpty() ? plainText : std::nullopt;
    if (!htmlText || htmlText->isEmpty()) {
        return plain;
    }
    const std::optional<QString> converted = plainTextPreservingHTMLBlocks(*htmlText);
    if (!converted) {
        return plain;
    }
    if (!plain) {
        return converted;
    }
    return selectionStructureScore(*converted) > selectionStructureScore(*plain) ? converted : plain;
}

// The markup a page copies without its style sheets and scripts, whose text is not the user's.
static QString withoutStylesAndScripts(const QString& html) {
    static const QRegularExpression style(R"((?is)<style\b[^>]*>.*?</style>)");
    static const QRegularExpression script(R"((?is)<script\b[^>]*>.*?</script>)");
    QString text = html;
    text.remove(style);
    text.remove(script);
    return text;
}

bool htmlHoldsListsOrTables(const QString& html) {
    static const QRegularExpression item(R"((?i)<li(?:\s[^>]*)?>)");
    static const QRegularExpression cell(R"((?i)<t[dh](?:\s[^>]*)?>)");
    const QString text = withoutStylesAndScripts(html);
    if (text.contains(item) || text.count(cell) > 1) {
        return true;
    }
    // A table of one cell and nothing else is only that cell's text (a spreadsheet copies a
    // selected cell so); one beside other text is part of a document.
    static const QRegularExpression table(R"((?is)<table\b.*</table>)");
    static const QRegularExpression body(R"((?is)^.*<body\b[^>]*>|</body>.*$)");
    static const QRegularExpression tag(R"((?s)<[^>]*>)");
    QString outside = text;
    outside.remove(body).remove(table).remove(tag).remove(QStringLiteral("&nbsp;"));
    return text.contains(cell) && !outside.trimmed().isEmpty();
}

qsizetype htmlLinks(const QString& html) {
    static const QRegularExpression link(R"((?i)<a\s[^>]*\bhref\s*=)");
    return withoutStylesAndScripts(html).count(link);
}

std::optional<QString> plainTextPreservingHTMLBlocks(const QString& html) {
    static const QRegularExpression lineBreakTag(R"((?i)<br\s*/?>)");
    static const QRegularExpression blockEnd(R"((?i)</(?:p|div|li|h[1-6]|blockquote|tr)>)");
    static const QRegularExpression listItemStart(R"((?i)<li(?:\s[^>]*)?>)");
    static const QRegularExpression style(R"((?is)<style\b[^>]*>.*?</style>)");
    static const QRegularExpression script(R"((?is)<script\b[^>]*>.*?</script>)");
    static const QRegularExpression anyTag(R"((?s)<[^>]+>)");
    static const QRegularExpression blanksBeforeBreak(R"([ \t]+\n)");
    static const QRegularExpression blanksAfterBreak(R"(\n[ \t]+)");
    static const QRegularExpression manyBreaks(R"(\n{3,})");

    QString text = withLoneSurrogatesReplaced(html);
    text = replaceAll(text, lineBreakTag, "\n");
    text = replaceAll(text, blockEnd, "\n");
    text = replaceAll(text, listItemStart, "\n");
    text = replaceAll(text, style, QString());
    text = replaceAll(text, script, QString());
    text = replaceAll(text, anyTag, QString());
    text = decodeHTMLEntities(text);
    text = replaceAll(text, blanksBeforeBreak, "\n");
    text = replaceAll(text, blanksAfterBreak, "\n");
    text = replaceAll(text, manyBreaks, "\n\n");
    text = text.trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return text;
}

QString decodeHTMLEntities(const QString& original) {
    static const QRegularExpression entity(R"(&(amp|lt|gt|quot|#39|apos|nbsp);|&#(\d+);|&#x([0-9a-fA-F]+);)");
    const QString text = withLoneSurrogatesReplaced(original);
    QString result;
    result.reserve(text.size());
    qsizetype copied = 0;
    for (QRegularExpressionMatchIterator it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString replacement;
        if (const QString name = match.captured(1); !name.isEmpty()) {
            static const QHash<QString, QString> named = {
                {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"#39", "'"}, {"apos", "'"}, {"nbsp", " "},
            };
            replacement = named.value(name);
        } else {
            const bool hex = match.hasCaptured(3);
            const std::optional<char32_t> scalar = referencedScalar(match.captured(hex ? 3 : 2), hex ? 16 : 10);
            if (!scalar) {
                continue;  // left as it stands
            }
            replacement = QString::fromUcs4(&*scalar, 1);
        }
        result += QStringView(text).mid(copied, match.capturedStart() - copied);
        result += replacement;
        copied = match.capturedEnd();
    }
    result += QStringView(text).mid(copied);
    return result;
}

}  // namespace tavrolin
