#pragma once

#include <QFont>
#include <QWidget>

namespace tavrolin {

// The widget's own font at a point size and weight: the panels' texts follow the desktop's font
// family and scale.
inline QFont widgetFont(const QWidget* widget, int pointSize, QFont::Weight weight) {
    QFont font = widget->font();
    font.setPointSize(pointSize);
    font.setWeight(weight);
    return font;
}

}  // namespace tavrolin
