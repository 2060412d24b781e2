#include "window_translation/recognized_text_grouper.h"

#include "window_translation/reading_order.h"
#include "window_translation/rect_geometry.h"

#include <QStringList>

#include <cmath>

namespace tavrolin {

namespace {

// Boxes are in bottom-left image pixels: y() is the bottom edge, y() + height() the top.
double bottom(const QRectF& box) {
    return box.y();
}
double top(const QRectF& box) {
    return box.y() + box.height();
}

bool isClosingMark(QChar c) {
    switch (c.unicode()) {
    case u')':
    case u'"':
    case u'\u201C':  // “
    case u'\u201D':  // ”
    case u'\'':
    case u'\u2018':  // ‘
    case u'\u2019':  // ’
    case u'\u00BB':  // »
        return true;
    default:
        return false;
    }
}

bool isSentenceTerminator(QChar c) {
    switch (c.unicode()) {
    case u'.':
    case u'!':
    case u'?':
    case u'\u2026':  // …
    case u'\u3002':  // 。
    case u'\uFF1F':  // ？
    case u'\uFF01':  // ！
        return true;
    default:
        return false;
    }
}

bool endsWithSentenceTerminator(const QString& line) {
    QString text = line.trimmed();
    // A trailing note in brackets ("[1]") does not end the sentence itself.
    while (text.endsWith(u']')) {
        const qsizetype opening = text.lastIndexOf(u'[');
        if (opening < 0) {
            break;
        }
        text = text.left(opening).trimmed();
    }
    while (!text.isEmpty() && isClosingMark(text.back())) {
        text.chop(1);
        text = text.trimmed();
    }
    return !text.isEmpty() && isSentenceTerminator(text.back());
}

int wordCount(const QString& text) {
    int words = 0;
    bool inWord = false;
    for (QChar c : text) {
        const bool blank = c.isSpace();
        if (!blank && !inWord) {
            ++words;
        }
        inWord = !blank;
    }
    return words;
}

// The scalar just before position `end` of the text.
char32_t scalarBefore(const QString& text, qsizetype end) {
    if (end <= 0) {
        return 0;
    }
    const QChar last = text[end - 1];
    if (last.isLowSurrogate() && end >= 2 && text[end - 2].isHighSurrogate()) {
        return QChar::surrogateToUcs4(text[end - 2], last);
    }
    return last.unicode();
}

QString joinedText(const std::vector<RecognizedTextBlock>& lines) {
    QString result;
    bool first = true;
    for (const RecognizedTextBlock& line : lines) {
        const QString text = line.text.trimmed();
        if (text.isEmpty()) {
            continue;
        }
        if (first) {
            result = text;
            first = false;
            continue;
        }
        // A word split at the line end ("transla-" + "tion") is rejoined; a hyphen after a
        // capital, a digit or a blank stays ("COVID-" + "19").
        if (result.endsWith(u'-') && QChar::isLower(scalarBefore(result, result.size() - 1))) {
            result.chop(1);
            result += text;
        } else {
            result += u' ';
            result += text;
        }
    }
    return result;
}

bool joins(const RecognizedTextBlock& previous, const RecognizedTextBlock& line) {
    const QRectF& p = previous.boundingBox;
    const QRectF& c = line.boundingBox;
    if (!(bottom(c) < bottom(p))) {
        return false;
    }
    const double h = (p.height() + c.height()) / 2;
    if (!(h > 0)) {
        return false;
    }
    const double gap = bottom(p) - top(c);
    if (!(gap > -0.3 * h && gap < 0.5 * h)) {
        return false;
    }
    if (std::abs(p.x() - c.x()) > std::max(0.4 * h, 4.0)) {
        return false;
    }
    const double tallest = std::max(p.height(), c.height());
    if (!(std::abs(p.height() - c.height()) / tallest < 0.35)) {
        return false;
    }
    return !endsWithSentenceTerminator(previous.text) && wordCount(previous.text) >= 3;
}

}  // namespace

std::vector<RecognizedTextGroup> RecognizedTextGrouper::group(std::vector<RecognizedTextBlock> blocks) const {
    sortIntoReadingOrder(blocks, [](const RecognizedTextBlock& block) -> const QRectF& { return block.boundingBox; });

    std::vector<std::vector<RecognizedTextBlock>> open;
    for (RecognizedTextBlock& line : blocks) {
        bool joined = false;
        for (auto group = open.rbegin(); group != open.rend(); ++group) {
            if (joins(group->back(), line)) {
                group->push_back(std::move(line));
                joined = true;
                break;
            }
        }
        if (!joined) {
            open.push_back({std::move(line)});
        }
    }

    std::vector<RecognizedTextGroup> groups;
    groups.reserve(open.size());
    for (auto& lines : open) {
        QRectF box = lines.front().boundingBox;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            box = geometry::united(box, lines[i].boundingBox);
        }
        groups.push_back({joinedText(lines), box, std::move(lines)});
    }
    return groups;
}

}  // namespace tavrolin
