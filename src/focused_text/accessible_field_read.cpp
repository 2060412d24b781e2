#include "focused_text/accessible_field_read.h"

#include "core/app_log.h"
#include "focused_text/accessible_text_cleaning.h"

#include <algorithm>
#include <limits>

namespace tavrolin {

namespace {

constexpr QChar zeroWidthNoBreakSpace(0xFEFF);

QString withoutZeroWidthNoBreakSpaces(QString text) {
    return text.remove(zeroWidthNoBreakSpace);
}

// The objects without text a read saw, by kind: objects that show something other than text
// (pictures, controls), U+FFFC characters that name no object, and places where something
// without characters takes room.
struct ObjectsWithoutText {
    qsizetype showingNoText = 0;
    qsizetype unnamed = 0;
    qsizetype room = 0;
};

void countObjectsWithoutText(const QString& text, const std::vector<AccessibleEmbeddedObject>& objects,
                             const std::vector<qsizetype>& unpublished, ObjectsWithoutText& counted) {
    counted.room += static_cast<qsizetype>(unpublished.size());
    counted.unnamed += std::max<qsizetype>(0, text.count(QChar(0xFFFC)) - static_cast<qsizetype>(objects.size()));
    for (const AccessibleEmbeddedObject& object : objects) {
        if (object.text) {
            countObjectsWithoutText(*object.text, object.objects, object.unpublishedObjects, counted);
        } else {
            ++counted.showingNoText;
        }
    }
}

}  // namespace

ReportedFieldText readReportedFieldText(Accessibility& accessibility, const AccessibleElementHandle& element,
                                        bool withSelection, int measuringScale) {
    ReportedFieldText read;
    // A field the user can edit may hold pictures that show no U+FFFC in its text (a web page's
    // editable region): its text is read with them.
    if (accessibility.isEditable(element)) {
        std::optional<AccessibleRichText> rich = measuringScale > 1
                                                     ? accessibility.richTextMeasuringLonger(element, measuringScale)
                                                     : accessibility.richText(element);
        if (rich) {
            read.value = std::move(rich->text);
            read.objects = std::move(rich->objects);
            read.unpublishedObjects = std::move(rich->unpublishedObjects);
            read.unreadObjects = rich->unreadObjects;
            read.unmeasured = rich->unmeasured;
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

namespace {

bool holdsRoom(const std::vector<AccessibleEmbeddedObject>& objects, const std::vector<qsizetype>& unpublished) {
    return !unpublished.empty() || std::any_of(objects.begin(), objects.end(), [](const AccessibleEmbeddedObject& o) {
        return holdsRoom(o.objects, o.unpublishedObjects);
    });
}

void keepRoomIn(std::vector<qsizetype>& places, const std::vector<qsizetype>& again) {
    std::erase_if(places,
                  [&again](qsizetype place) { return std::find(again.begin(), again.end(), place) == again.end(); });
}

void keepRoomIn(std::vector<AccessibleEmbeddedObject>& objects, const std::vector<AccessibleEmbeddedObject>& again) {
    for (AccessibleEmbeddedObject& object : objects) {
        const auto same = std::find_if(again.begin(), again.end(), [&object](const AccessibleEmbeddedObject& other) {
            return other.offset == object.offset && other.text == object.text;
        });
        if (same != again.end()) {
            keepRoomIn(object.unpublishedObjects, same->unpublishedObjects);
            keepRoomIn(object.objects, same->objects);
        }
    }
}

}  // namespace

bool holdsRoomWithoutCharacters(const ReportedFieldText& reported) {
    return holdsRoom(reported.objects, reported.unpublishedObjects);
}

void keepRoomSeenTwice(ReportedFieldText& first, const ReportedFieldText& second) {
    keepRoomIn(first.unpublishedObjects, second.unpublishedObjects);
    keepRoomIn(first.objects, second.objects);
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
    snapshot.selectionBackward = range && range->length > 0 && reported.selectedRange->backward;
    snapshot.screenFrame = screenFrame;
    snapshot.sourceWindow = std::move(sourceWindow);
    snapshot.holdsObjectWithoutText = seen.holdsObjectWithoutText();
    snapshot.objectsWithoutText = seen.objectsWithoutText();
    snapshot.unreadObjects = reported.unreadObjects;
    snapshot.unmeasuredText = reported.unmeasured;
    if (snapshot.holdsObjectWithoutText) {
        ObjectsWithoutText counted;
        countObjectsWithoutText(value.value_or(QString()), reported.objects, reported.unpublishedObjects, counted);
        snapshot.objectsWithoutTextSeen = QStringLiteral("showing_no_text=%1 unnamed=%2 room=%3")
                                              .arg(counted.showingNoText)
                                              .arg(counted.unnamed)
                                              .arg(counted.room);
    }
    snapshot.listItems = seen.listItems();
    snapshot.paragraphs = seen.paragraphs();
    snapshot.links = seen.links();
    if (selectionBorneOut) {
        const SeenAccessibleText::Span span = seen.span(*inReported);
        snapshot.selectionHoldsObjectWithoutText = span.objectWithoutText;
        snapshot.selectionSplitsObject = span.partOfObject;
        snapshot.selectionLinks = span.links;
    }
    return snapshot;
}

}  // namespace tavrolin
