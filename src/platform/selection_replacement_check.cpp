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
    const QString expected = withUnixLineEnds(inserted);
    const QString placed = withUnixLineEnds(after.mid(selection.location));
    if (placed.startsWith(expected)) {
        check.placed = true;
        return check;
    }
    // What stays of the field outside the selection is unchanged by the delete and insert,
    // so the length difference is what the insert put in.
    const qsizetype kept = before.size() - std::min(selection.length, before.size() - selection.location);
    const qsizetype insertedLength = after.size() - kept;
    if (insertedLength >= 0 && selection.location + insertedLength <= after.size() &&
        after.left(selection.location) == before.left(selection.location)) {
        check.leftover = AccessibleTextRange{selection.location, insertedLength};
    }
    return check;
}

}  // namespace tavrolin
