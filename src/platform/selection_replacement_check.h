#pragma once

#include "platform/accessibility.h"

#include <QString>

namespace tavrolin {

// What a field's text says about a selection replaced by "delete, then insert" (the only way
// accessibility interfaces offer to replace a selection).
struct SelectionReplacementCheck {
    // The inserted text stands where the selection was (line ends compared alike).
    bool placed = false;
    // Otherwise: the part of the field the insert left behind (possibly empty, at the old
    // selection's start), to be selected so that a paste goes over it. Absent when the text
    // changed in a way that leaves no such range (another edit at the same time).
    std::optional<AccessibleTextRange> leftover;
    bool operator==(const SelectionReplacementCheck&) const = default;
};

// `before` is the field's text with `selection` (UTF-16 units) selected, `inserted` the text
// meant to replace it, `after` the field's text once deleted and inserted. The whole field is
// judged, line ends alike (a toolkit may store them its own way): a program that deletes more
// or less than the selection, or inserts elsewhere (as a busy editor may), leaves the text
// around the range changed, and that is no replacement of the selection.
SelectionReplacementCheck checkSelectionReplacement(const QString& before, AccessibleTextRange selection,
                                                    const QString& inserted, const QString& after);

// "\r\n" and "\r" as "\n".
QString withUnixLineEnds(QString text);

}  // namespace tavrolin
