#include "focused_text/accessible_field_read.h"

#include "core/app_log.h"
#include "focused_text/accessible_text_cleaning.h"

#include <limits>

namespace tavrolin {

std::optional<TextRange> cleanedReportedRange(const std::optional<AccessibleTextRange>& range,
                                              const std::optional<QString>& value) {
    if (!range) {
        return std::nullopt;
    }
    const TextRange inReported{range->location, range->length};
    if (value) {
        return cleanedAccessibleTextRange(*value, inReported);
    }
    // Another process reported it: a range outside any text is no range at all.
    return isValidRange(inReported, std::numeric_limits<qsizetype>::max()) ? std::optional(inReported) : std::nullopt;
}

FocusedTextFieldSnapshot snapshotFromAccessibleRead(AccessibleElementHandle element, const ReportedFieldText& reported,
                                                    UnconfirmedSelection unconfirmed, std::optional<QRectF> screenFrame,
                                                    std::optional<FrontApplication> sourceWindow) {
    const std::optional<QString>& value = reported.value;
    const std::optional<TextRange> range = cleanedReportedRange(reported.selectedRange, value);
    const QString text = value ? cleanAccessibleText(*value) : QString();
    std::optional<QString> selected =
        reported.selectedText ? std::optional<QString>(cleanAccessibleText(*reported.selectedText)) : std::nullopt;
    if (unconfirmed == UnconfirmedSelection::dropped && selected && !selected->isEmpty() && !text.isEmpty() &&
        !(range && range->length > 0 && isValidRange(*range, text.size()) &&
          text.mid(range->location, range->length) == *selected)) {
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
    return snapshot;
}

}  // namespace tavrolin
