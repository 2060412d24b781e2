#include "focused_text/accessible_text_cleaning.h"

#include <QStringList>

#include <algorithm>

namespace tavrolin {

namespace {

constexpr QChar zeroWidthNoBreakSpace(0xFEFF);
constexpr QChar objectReplacementCharacter(0xFFFC);

TextRange toTextRange(AccessibleTextRange range) {
    return TextRange{range.location, range.length};
}

// Whether anything but a line break follows `offset` (U+FEFF aside).
bool textFollows(const QString& reported, qsizetype offset) {
    for (qsizetype i = offset + 1; i < reported.size(); ++i) {
        if (reported.at(i) != zeroWidthNoBreakSpace) {
            return reported.at(i) != QLatin1Char('\n');
        }
    }
    return false;
}

}  // namespace

// Both characters lie in the Basic Multilingual Plane: removing or expanding them never splits a
// surrogate pair.
SeenAccessibleText::SeenAccessibleText(const QString& reported, const std::vector<AccessibleEmbeddedObject>& objects,
                                       const std::vector<qsizetype>& unpublished, qsizetype marker) {
    for (const qsizetype offset : unpublished) {
        if (offset >= 0 && offset <= reported.size()) {
            unpublished_.push_back(offset);
        }
    }
    std::sort(unpublished_.begin(), unpublished_.end());
    objectsWithoutText_ = static_cast<qsizetype>(unpublished_.size());
    before_.reserve(reported.size() + 1);
    before_.push_back(0);
    auto object = objects.begin();
    for (qsizetype i = 0; i < reported.size(); ++i) {
        const QChar c = reported.at(i);
        if (i < marker) {
            // The list item's marker: drawn, never typed.
        } else if (c == objectReplacementCharacter) {
            while (object != objects.end() && object->offset < i) {
                ++object;
            }
            const bool named = object != objects.end() && object->offset == i;
            Embedded embedded{i, nullptr, std::nullopt, 0, named && object->block, named && object->link.has_value()};
            links_ += embedded.link ? 1 : 0;
            if (object != objects.end() && object->offset == i && object->text) {
                embedded.seen = std::make_shared<const SeenAccessibleText>(*object->text, object->objects,
                                                                           object->unpublishedObjects, object->marker);
                embedded.selection = object->selection;
                // A paragraph is on lines of its own, as the user sees it and as a paste of the
                // text makes it again.
                if (object->block && !text_.isEmpty() && !text_.endsWith(QLatin1Char('\n'))) {
                    text_ += QLatin1Char('\n');
                    embedded.leading = 1;
                }
                text_ += embedded.seen->text();
                if (object->block && textFollows(reported, i) && !text_.endsWith(QLatin1Char('\n'))) {
                    text_ += QLatin1Char('\n');
                }
                objectsWithoutText_ += embedded.seen->objectsWithoutText();
                listItems_ += embedded.seen->listItems() + (object->marker > 0 ? 1 : 0);
                paragraphs_ += embedded.seen->paragraphs() + (object->block ? 1 : 0);
                links_ += embedded.seen->links();
            } else {
                ++objectsWithoutText_;
            }
            embedded_.push_back(std::move(embedded));
        } else if (c != zeroWidthNoBreakSpace) {
            text_ += c;
        }
        before_.push_back(text_.size());
    }
}

const SeenAccessibleText::Embedded* SeenAccessibleText::embeddedAt(qsizetype offset) const {
    const auto found = std::lower_bound(embedded_.begin(), embedded_.end(), offset,
                                        [](const Embedded& e, qsizetype at) { return e.offset < at; });
    return found != embedded_.end() && found->offset == offset ? &*found : nullptr;
}

qsizetype SeenAccessibleText::seenStart(qsizetype offset) const {
    const Embedded* embedded = embeddedAt(offset);
    if (embedded && embedded->seen && embedded->selection) {
        if (const auto inside = embedded->seen->seenRange(toTextRange(*embedded->selection))) {
            return before_[offset] + embedded->leading + inside->location;
        }
    }
    return before_[offset];
}

qsizetype SeenAccessibleText::seenEnd(qsizetype offset) const {
    const Embedded* embedded = offset > 0 ? embeddedAt(offset - 1) : nullptr;
    if (embedded && embedded->seen && embedded->selection) {
        if (const auto inside = embedded->seen->seenRange(toTextRange(*embedded->selection))) {
            return before_[offset - 1] + embedded->leading + inside->location + inside->length;
        }
    }
    return before_[offset];
}

std::optional<TextRange> SeenAccessibleText::seenRange(TextRange reported) const {
    if (!isValidRange(reported, reportedSize())) {
        return std::nullopt;
    }
    // A caret on an object's U+FFFC lies where the object's own caret is.
    const qsizetype start = seenStart(reported.location);
    if (reported.length == 0) {
        return TextRange{start, 0};
    }
    const qsizetype end = std::max(start, seenEnd(reported.location + reported.length));
    return TextRange{start, end - start};
}

std::optional<SeenAccessibleText::Place> SeenAccessibleText::reportedPlace(qsizetype seen) const {
    if (seen < 0 || seen > text_.size()) {
        return std::nullopt;
    }
    for (const Embedded& embedded : embedded_) {
        if (!embedded.seen) {
            continue;
        }
        const qsizetype start = before_[embedded.offset] + embedded.leading;
        const qsizetype end = start + embedded.seen->text().size();
        const bool inside = embedded.block ? seen >= start && seen <= end : seen > start && seen < end;
        if (!inside) {
            continue;
        }
        std::optional<Place> place = embedded.seen->reportedPlace(seen - start);
        if (place) {
            place->path.insert(place->path.begin(), embedded.offset);
        }
        return place;
    }
    // The last reported offset there: past the U+FEFF an emoji leaves, past a marker.
    for (qsizetype i = reportedSize(); i >= 0; --i) {
        if (before_[i] == seen) {
            return Place{{}, i};
        }
    }
    return std::nullopt;
}

std::optional<TextRange> SeenAccessibleText::objectWords(qsizetype offset) const {
    const Embedded* embedded = embeddedAt(offset);
    if (!embedded || !embedded->seen) {
        return std::nullopt;
    }
    return TextRange{before_[offset] + embedded->leading, embedded->seen->text().size()};
}

qsizetype SeenAccessibleText::objectLinks(qsizetype offset) const {
    const Embedded* embedded = embeddedAt(offset);
    if (!embedded) {
        return 0;
    }
    return (embedded->link ? 1 : 0) + (embedded->seen ? embedded->seen->links() : 0);
}

SeenAccessibleText::Span SeenAccessibleText::span(TextRange reported) const {
    Span span;
    if (reported.length == 0 || !isValidRange(reported, reportedSize())) {
        return span;
    }
    const qsizetype first = reported.location;
    const qsizetype last = reported.location + reported.length - 1;
    // One that stands right before or after the range may belong to the selection or not: it
    // counts as taken in.
    span.objectWithoutText = std::any_of(unpublished_.begin(), unpublished_.end(),
                                         [&](qsizetype offset) { return offset >= first && offset <= last + 1; });
    for (const Embedded& embedded : embedded_) {
        if (embedded.offset < first || embedded.offset > last) {
            continue;
        }
        span.links += embedded.link ? 1 : 0;
        if (!embedded.seen) {
            span.objectWithoutText = true;
            continue;
        }
        // The part of the object's own text the range takes in: all of it, unless the range
        // begins or ends on its marker and its own selection says it begins or ends inside.
        const SeenAccessibleText& inner = *embedded.seen;
        qsizetype innerStart = 0;
        qsizetype innerEnd = inner.reportedSize();
        const std::optional<TextRange> innerSelection =
            embedded.selection ? inner.seenRange(toTextRange(*embedded.selection)) : std::nullopt;
        if (innerSelection) {
            if (embedded.offset == first && innerSelection->location > 0) {
                span.partOfObject = true;
                innerStart = embedded.selection->location;
            }
            if (embedded.offset == last && innerSelection->location + innerSelection->length < inner.text().size()) {
                span.partOfObject = true;
                innerEnd = embedded.selection->location + embedded.selection->length;
            }
        }
        const Span within = inner.span(TextRange{innerStart, std::max<qsizetype>(innerEnd - innerStart, 0)});
        span.objectWithoutText = span.objectWithoutText || within.objectWithoutText;
        span.partOfObject = span.partOfObject || within.partOfObject;
        span.links += within.links;
    }
    return span;
}

namespace {

void collectLines(const QString& reported, const std::vector<AccessibleEmbeddedObject>& objects,
                  const std::vector<qsizetype>& unpublished, qsizetype marker, const std::vector<qsizetype>& path,
                  std::vector<AccessibleLine>& lines) {
    const SeenAccessibleText seen(reported, objects, unpublished, marker);
    qsizetype runStart = marker;
    std::vector<qsizetype> inlineObjects;  // the reported offsets of those in the run
    const auto endRun = [&](qsizetype end, bool beforeBlock) {
        const std::optional<TextRange> range =
            end > runStart ? seen.seenRange(TextRange{runStart, end - runStart}) : std::nullopt;
        if (range && range->length > 0) {
            AccessibleLine line{path,
                                TextRange{runStart, end - runStart},
                                seen.text().mid(range->location, range->length),
                                beforeBlock,
                                {},
                                {}};
            for (const qsizetype offset : inlineObjects) {
                const std::optional<TextRange> words = seen.objectWords(offset);
                if (words && words->location >= range->location &&
                    words->location + words->length <= range->location + range->length) {
                    line.inlineObjects.push_back(TextRange{words->location - range->location, words->length});
                    line.inlineLinks.push_back(seen.objectLinks(offset));
                }
            }
            lines.push_back(std::move(line));
        }
        inlineObjects.clear();
    };
    auto object = objects.begin();
    for (qsizetype i = marker; i < reported.size(); ++i) {
        const QChar c = reported.at(i);
        if (c == QLatin1Char('\n')) {
            endRun(i, false);
            runStart = i + 1;
            continue;
        }
        if (c != objectReplacementCharacter) {
            continue;
        }
        while (object != objects.end() && object->offset < i) {
            ++object;
        }
        if (object != objects.end() && object->offset == i && object->block && object->text) {
            endRun(i, true);
            std::vector<qsizetype> inner = path;
            inner.push_back(i);
            collectLines(*object->text, object->objects, object->unpublishedObjects, object->marker, inner, lines);
            runStart = i + 1;
        } else if (object != objects.end() && object->offset == i && object->text) {
            inlineObjects.push_back(i);
        }
    }
    endRun(reported.size(), false);
}

}  // namespace

std::optional<std::vector<AccessibleLine>> accessibleLines(const QString& reported,
                                                           const std::vector<AccessibleEmbeddedObject>& objects,
                                                           const std::vector<qsizetype>& unpublished) {
    std::vector<AccessibleLine> lines;
    collectLines(reported, objects, unpublished, 0, {}, lines);
    QStringList texts;
    for (const AccessibleLine& line : lines) {
        if (line.text.contains(QLatin1Char('\n'))) {
            return std::nullopt;  // a line break inside an inline object
        }
        texts << line.text;
    }
    // Every line of the seen text, each once and whole.
    if (texts.join(QLatin1Char('\n')) != SeenAccessibleText(reported, objects, unpublished).text()) {
        return std::nullopt;
    }
    return lines;
}

bool selectsLine(const QString& text, TextRange selection, TextRange line) {
    const qsizetype end = selection.location + selection.length;
    const qsizetype lineEnd = line.location + line.length;
    if (selection.location < 0 || selection.location > line.location || end < lineEnd || end > text.size()) {
        return false;
    }
    const auto breaksOnly = [](const QString& part) {
        return std::all_of(part.begin(), part.end(), [](QChar c) { return c == QLatin1Char('\n'); });
    };
    return breaksOnly(text.mid(selection.location, line.location - selection.location)) &&
           breaksOnly(text.mid(lineEnd, end - lineEnd));
}

QString cleanAccessibleText(const QString& reported) {
    if (!reported.contains(zeroWidthNoBreakSpace) && !reported.contains(objectReplacementCharacter)) {
        return reported;
    }
    return SeenAccessibleText(reported, {}).text();
}

}  // namespace tavrolin
