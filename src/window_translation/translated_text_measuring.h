#pragma once

#include <QSizeF>
#include <QString>

namespace tavrolin {

// Sets a translation the way the translated image draws it and reports its size: the text in
// the translation font at a size (in image pixels), wrapped at word boundaries (inside a word
// only where one word is wider than the limit) within a width limit, height unlimited, both
// sides rounded up to whole pixels.
class TranslatedTextMeasuring {
public:
    virtual ~TranslatedTextMeasuring() = default;
    virtual QSizeF measure(const QString& text, double fontSize, double widthLimit) const = 0;
};

}  // namespace tavrolin
