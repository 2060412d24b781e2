#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QPalette>
#include <QString>

namespace tavrolin {

// The colours of the application's own panels (the overlay frame, the selection popup). All
// opaque sRGB.
class BrandColors final {
public:
    static QColor indigo();  // 6366F1
    static QColor purple();  // A855F7
    static QColor pink();    // EC4899

    // The accent has a light and a dark value; which one applies depends on the palette the
    // widget is drawn with, so it is resolved on every use and follows a theme change.
    static inline const QString accentColorName = QStringLiteral("TavrolinAccent");
    static QColor accentLight();  // 6D5DF5
    static QColor accentDark();   // 8B7FFA
    static QColor accent(const QPalette& palette);
    // A palette is dark when its window background is darker than its text.
    static bool isDark(const QPalette& palette);
};

class BrandGradient final {
public:
    // Indigo, purple and pink, evenly spaced, from the top-left to the bottom-right corner of
    // whatever it fills (object bounding mode).
    static const QLinearGradient& primary();
};

}  // namespace tavrolin
