#include "focused_text/accessible_field_read.h"

#include "core/app_log.h"
#include "focused_text/accessible_text_cleaning.h"

#include <limits>

namespace tavrolin {

namespace {

constexpr QChar zeroWidthNoBreakSpace(0xFEFF);

QString withoutZeroWidthNoBreakSpaces(QString text) {
    return text.remove(zeroWidthNoBreakSpace);
}

}  // namespace

ReportedFieldText readReportedFieldText(Accessibility& accessibility, const AccessibleElementHandle& element,
                                        bool withSelection) {
    ReportedFieldText read;
    // A field the user can edit may hold pictures that show no U+FFFC in its text (a web page's
    // editable region): its text is read with them.
    if (accessibility.isEditable(element)) {
        if (std::optional<AccessibleRichText> rich = accessibility.richText(element)) {
            read.value = std::move(rich->text);
            read.objects = std::move(rich->objects);
            read.unpublishedObjects = std::move(rich->unpublishedObjects);
        }
    }
    if (!read.value) {
        read.value = accessibility.value(element);
    }
    if (withSelection) {
        read.selectedText = accessibility.selectedText(element);
        read.selectedRange = accessibility.selectedRange(element);
    }
    return read;
}

std::optional<QString> seenValue(const ReportedFieldText& reported) {
    if (!reported.value) {
        return std::nullopt;
    }
    return SeenAccessibleText(*reported.value, reported.objects, reported.unpublishedObjects).text();
}

FocusedTextFieldSnapshot snapshotFromAccessibleRead(AccessibleElementHandle element, const ReportedFieldText& reported,
                                                    UnconfirmedSelection unconfirmed, std::optional<QRectF> screenFrame,
                                                    std::optional<FrontApplication> sourceWindow) {
    const std::optional<QString>& value = reported.value;
    const SeenAccessibleText seen(value.value_or(QString()), reported.objects, reported.unpublishedObjects);
    const std::optional<TextRange> inReported =
        reported.selectedRange
            ? std::optional(TextRange{reported.selectedRange->location, reported.selectedRange->length})
            : std::nullopt;
    std::optional<TextRange> range;
    if (inReported && value) {
        range = seen.seenRange(*inReported);
    } else if (inReported && isValidRange(*inReported, std::numeric_limits<qsizetype>::max())) {
        range = inReported;  // another process reported it: a range outside any text is no range at all
    }
    const QString& text = seen.text();
    // A selected text that is the reported text of its range is that range of the seen text,
    // objects and all; any other is taken as it reads.
    const bool selectionBorneOut =
        value && reported.selectedText && inReported && inReported->length > 0 &&
        isValidRange(*inReported, value->size()) &&
        withoutZeroWidthNoBreakSpaces(*reported.selectedText) ==
            withoutZeroWidthNoBreakSpaces(value->mid(inReported->location, inReported->length));
    std::optional<QString> selected;
    if (selectionBorneOut && range) {
        selected = text.mid(range->location, range->length);
    } else if (reported.selectedText) {
        selected = cleanAccessibleText(*reported.selectedText);
    }
    if (unconfirmed == UnconfirmedSelection::dropped && !selectionBorneOut && selected && !selected->isEmpty() &&
        !text.isEmpty()) {
        AppLog::app().info(
            QStringLiteral("focused field selection not borne out by its range: not taken as a selection"));
        selected = QString();
    }
    FocusedTextFieldSnapshot snapshot;
    snapshot.element = std::move(element);
    snapshot.fullText = text;
    snapshot.selectedText = std::move(selected);
    snapshot.selectedRange = range;
    snapshot.screenFrame = screenFrame;
    snapshot.sourceWindow = std::move(sourceWindow);
    snapshot.holdsObjectWithoutText = seen.holdsObjectWithoutText();
    snapshot.objectsWithoutText = seen.objectsWithoutText();
    snapshot.listItems = seen.listItems();
    snapshot.paragraphs = seen.paragraphs();
    if (selectionBorneOut) {
        const SeenAccessibleText::Span span = seen.span(*inReported);
        snapshot.selectionHoldsObjectWithoutText = span.objectWithoutText;
        snapshot.selectionSplitsObject = span.partOfObject;
    }
    return snapshot;
}

}  // namespace tavrolin
