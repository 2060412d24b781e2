#pragma once

#include <QImage>

#include <vector>

namespace tavrolin {

// A horizontal band of an image that can be read on its own: it begins and ends in rows
// without ink, so no line of text is cut.
struct TextBand {
    int top = 0;     // first row
    int bottom = 0;  // one past the last row
    // The estimated pixel size of the band's text; 0 when nothing in it looks like text.
    double fontHeight = 0;

    bool operator==(const TextBand&) const = default;
};

// Cuts a greyscale (Format_Grayscale8) image into at most maxBands bands of about equal
// height. A cut goes only through a run of rows without ink near its place (bands share the
// run's rows); where there is none, the neighbouring bands stay one. The bands cover every row.
//
// Ink is a sharp step in brightness between horizontal neighbours; the steps of long vertical
// edges (panel borders, sidebars) do not count, so a row crossing only those is still empty.
std::vector<TextBand> textBands(const QImage& grayscale, int maxBands);

}  // namespace tavrolin
