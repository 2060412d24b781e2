#include "platform/selection_replacement_check.h"

namespace tavrolin {

QString withUnixLineEnds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

SelectionReplacementCheck checkSelectionReplacement(const QString& before, AccessibleTextRange selection,
                                                    const QString& inserted, const QString& after) {
    SelectionReplacementCheck check;
    if (selection.location < 0 || selection.length < 0 || selection.location > before.size() ||
        selection.location > after.size()) {
        return check;
    }
    const qsizetype end = selection.location + std::min(selection.length, before.size() - selection.location);
    const QString head = withUnixLineEnds(before.left(selection.location));
    const QString tail = withUnixLineEnds(before.mid(end));
    if (withUnixLineEnds(after) == head + withUnixLineEnds(inserted) + tail) {
        check.placed = true;
        return check;
    }
    // What stays of the field outside the selection is unchanged by the delete and insert,
    // so the length difference is what the insert put in; a delete that took more or less than
    // the selection, or an insert elsewhere, leaves no such range.
    const qsizetype kept = before.size() - (end - selection.location);
    const qsizetype insertedLength = after.size() - kept;
    if (insertedLength >= 0 && selection.location + insertedLength <= after.size() &&
        after.left(selection.location) == before.left(selection.location) &&
        after.mid(selection.location + insertedLength) == before.mid(end)) {
        check.leftover = AccessibleTextRange{selection.location, insertedLength};
    }
    return check;
}

}  // namespace tavrolin
