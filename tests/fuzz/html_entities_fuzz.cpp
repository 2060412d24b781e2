// Entity decoding of clipboard HTML. Input: one byte choosing how the rest is read (even:
// UTF-8, odd: raw UTF-16, lone surrogates included), then the text.
#include "focused_text/clipboard_selection_text.h"
#include "fuzz_support.h"

using namespace tavrolin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const bool utf16 = input.byte() & 1;
    const QByteArray bytes = input.rest();
    const QString text = utf16 ? fuzz::rawUtf16(bytes) : QString::fromUtf8(bytes);

    const QString decoded = decodeHTMLEntities(text);
    // Every reference is at least four characters and decodes to at most two.
    fuzz::require(decoded.size() <= text.size(), "decoding made the text longer");
    // Lone surrogates become U+FFFD, one unit for one.
    fuzz::require(fuzz::isValidUtf16(decoded), "decoded text that is not valid UTF-16");
    const bool valid = fuzz::isValidUtf16(text);
    if (!text.contains(QLatin1Char('&'))) {
        fuzz::require(valid ? decoded == text : decoded.size() == text.size(), "text without references changed");
    }
    if (!text.contains(QChar(0))) {
        fuzz::require(!decoded.contains(QChar(0)), "a reference decoded to NUL");
    }

    // Single pass: the text with every ampersand escaped decodes back to itself.
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    const QString back = decodeHTMLEntities(escaped);
    fuzz::require(valid ? back == text : back.size() == text.size(), "an escaped ampersand was decoded twice");
    return 0;
}
