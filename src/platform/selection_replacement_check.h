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
// meant to replace it, `after` the field's text once deleted and inserted. Only the replaced
// range is compared: the rest of the field is never judged, so a toolkit that rewrites line
// ends elsewhere or a concurrent edit outside the range cannot make a good replacement look
// bad.
SelectionReplacementCheck checkSelectionReplacement(const QString& before, AccessibleTextRange selection,
                                                    const QString& inserted, const QString& after);

// "\r\n" and "\r" as "\n".
QString withUnixLineEnds(QString text);

}  // namespace tavrolin
