#include "platform/linux/apertium_stream_format.h"

#include <algorithm>
#include <optional>

namespace tavrolin {

namespace {

bool isStreamSpecial(char16_t unit) {
    switch (unit) {
    case u'[':
    case u']':
    case u'^':
    case u'$':
    case u'@':
    case u'/':
    case u'<':
    case u'>':
    case u'{':
    case u'}':
    case u'\\':
    case u'*':
        return true;
    default:
        return false;
    }
}

// "&#N;" at the start of text, as the character it names.
std::optional<char32_t> reference(QStringView text, qsizetype& length) {
    if (!text.startsWith(u"&#")) {
        return std::nullopt;
    }
    const auto semicolon = text.indexOf(u';');
    if (semicolon < 3 || semicolon > 9) {
        return std::nullopt;
    }
    bool ok = false;
    const uint value = text.mid(2, semicolon - 2).toUInt(&ok, 10);
    if (!ok || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
        return std::nullopt;
    }
    length = semicolon + 1;
    return static_cast<char32_t>(value);
}

void appendCodePoint(QString& out, char32_t value) {
    if (value > 0xffff) {
        out += QChar(QChar::highSurrogate(value));
        out += QChar(QChar::lowSurrogate(value));
    } else {
        out += QChar(static_cast<char16_t>(value));
    }
}

// What a superblank holds: escapes undone and references decoded.
void appendSuperblank(QString& out, QStringView content) {
    for (qsizetype i = 0; i < content.size(); ++i) {
        if (content[i] == u'\\' && i + 1 < content.size()) {
            out += content[++i];
            continue;
        }
        qsizetype length = 0;
        if (const auto decoded = reference(content.mid(i), length)) {
            appendCodePoint(out, *decoded);
            i += length - 1;
            continue;
        }
        out += content[i];
    }
}

}  // namespace

QByteArray escapeApertiumStream(QStringView text) {
    QString out;
    out.reserve(text.size() + text.size() / 8 + 8);
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit == u'\n') {
            out += QLatin1StringView("[\n]");
        } else if (isStreamSpecial(unit)) {
            out += u'\\';
            out += ch;
        } else if ((unit < 0x20 && unit != u'\t') || unit == 0x7f) {
            out += QStringLiteral("[&#%1;]").arg(int(unit));
        } else {
            out += ch;
        }
    }
    return out.toUtf8();
}

QString unescapeApertiumStream(const QByteArray& stream) {
    const QString text = QString::fromUtf8(stream);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch == u'\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (ch == u'[') {
            qsizetype close = i + 1;
            while (close < text.size() && text[close] != u']') {
                close += text[close] == u'\\' ? 2 : 1;
            }
            close = std::min(close, text.size());
            appendSuperblank(out, QStringView(text).mid(i + 1, close - i - 1));
            i = close;
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace tavrolin
