#pragma once

#include "core/text_units.h"

#include <QString>

#include <optional>

namespace tavrolin {

// What another program's accessibility layer reports as a field's text can hold characters
// that are not part of what the user sees or wrote: Firefox puts a zero-width no-break space
// (U+FEFF) after each emoji and each embedded object, and web engines stand an object
// replacement character (U+FFFC) for every embedded object. Used as text, they reach the
// server and come back into the field, where U+FEFF splits an emoji from its skin-tone
// modifier.

// The reported text without those characters.
QString cleanAccessibleText(const QString& reported);

// A range of the reported text (UTF-16 units) as the same range of its cleaned text: each end
// moves back by the characters removed before it, so a range of nothing but removed characters
// becomes an empty one where they stood. Absent when the range does not lie within the
// reported text.
std::optional<TextRange> cleanedAccessibleTextRange(const QString& reported, TextRange range);

}  // namespace tavrolin
