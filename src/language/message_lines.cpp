#include "language/message_lines.h"

#include <algorithm>

namespace tavrolin {

namespace {

bool isBlank(QChar c) {
    return c.isSpace();
}

qsizetype breakLength(const QString& text, qsizetype at) {
    const QChar c = text.at(at);
    if (c == u'\r' && at + 1 < text.size() && text.at(at + 1) == u'\n') {
        return 2;
    }
    return c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator ? 1 : 0;
}

QString withoutLeadingBlanks(QString text) {
    qsizetype blanks = 0;
    while (blanks < text.size() && isBlank(text.at(blanks))) {
        ++blanks;
    }
    return text.mid(blanks);
}

QString withoutTrailingBlanks(QString text) {
    while (!text.isEmpty() && isBlank(text.back())) {
        text.chop(1);
    }
    return text;
}

QString withCapitalOf(QString result, const QString& original) {
    if (!original.isEmpty() && !result.isEmpty() && original.front().isUpper() && result.front().isLower()) {
        result.replace(0, 1, result.front().toUpper());
    }
    return result;
}

}  // namespace

std::vector<MessageLine> messageLines(const QString& text) {
    std::vector<MessageLine> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = breakLength(text, i);
        if (length == 0) {
            continue;
        }
        lines.push_back({text.mid(start, i - start), text.mid(i, length)});
        i += length - 1;
        start = i + 1;
    }
    lines.push_back({text.mid(start), QString()});
    return lines;
}

QString asLineOf(QString result, const QString& original) {
    if (!original.isEmpty() && !isBlank(original.front())) {
        result = withoutLeadingBlanks(std::move(result));
    }
    if (!original.isEmpty() && !isBlank(original.back())) {
        result = withoutTrailingBlanks(std::move(result));
    }
    return withCapitalOf(std::move(result), original);
}

QString withLinesOf(const QString& result, const QString& original) {
    const std::vector<MessageLine> originals = messageLines(original);
    const std::vector<MessageLine> results = messageLines(result);
    if (originals.size() < 2 || results.size() != originals.size()) {
        return result;
    }
    QString joined;
    const std::size_t last = results.size() - 1;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const QString& line = originals[i].text;
        QString text = results[i].text;
        if (i > 0 && !line.isEmpty() && !isBlank(line.front())) {
            text = withoutLeadingBlanks(std::move(text));
        }
        if (i < last && !line.isEmpty() && !isBlank(line.back())) {
            text = withoutTrailingBlanks(std::move(text));
        }
        joined += withCapitalOf(std::move(text), line);
        joined += originals[i].lineBreak;
    }
    return joined;
}

QString withSpacesOf(QString result, const QString& original) {
    const auto longestRun = [](const QString& text) {
        qsizetype longest = 0;
        qsizetype run = 0;
        for (const QChar c : text) {
            run = c == u' ' ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return longest;
    };
    const qsizetype allowed = std::max<qsizetype>(1, longestRun(original));
    qsizetype written = 0;
    qsizetype run = 0;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        run = c == u' ' ? run + 1 : 0;
        if (run > allowed) {
            continue;
        }
        result[written++] = c;
    }
    result.truncate(written);
    return result;
}

}  // namespace tavrolin
