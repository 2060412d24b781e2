#include "platform/linux/modules/text_bands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tavrolin {

namespace {

// A brightness step between horizontal neighbours at least this large is an edge of ink.
constexpr int edgeContrast = 32;
// Font heights are estimated in strips of this width, so that the borders of a text field
// beside a label do not count as a tall line.
constexpr int stripWidth = 32;
// Runs of inked rows in a strip within these heights look like a line of text.
constexpr int shortestTextRun = 4;
constexpr int tallestTextRun = 96;
// In narrow strips most runs of a line of text span its capitals or ascenders (fewer span only
// the x-height, or reach down to the descenders): the median run is that height.
constexpr double runPercentile = 0.5;
// The share of the pixel size that capitals and ascenders cover in common sans fonts.
constexpr double capitalLineShare = 0.78;
// Bands are not planned lower than this: each costs the engine a start of its own.
constexpr int shortestBand = 32;
// Clear rows a band keeps on its side of a cut, where there are that many. Tesseract needs room
// around a line to find its polarity: with 8 rows, light text on a dark panel lost words.
constexpr int cutMargin = 16;

struct InkMap {
    int width = 0;
    int height = 0;
    int strips = 0;
    // Per row and strip: 1 when the strip holds an edge of ink in that row.
    std::vector<unsigned char> stripInk;
    // Per row: 1 when the row holds an edge of ink anywhere.
    std::vector<unsigned char> rowInk;
};

bool isEdge(const uchar* row, int x) {
    return std::abs(int(row[x]) - int(row[x - 1])) >= edgeContrast;
}

InkMap findInk(const QImage& image) {
    InkMap map;
    map.width = image.width();
    map.height = image.height();
    map.strips = (map.width + stripWidth - 1) / stripWidth;
    const int width = map.width;
    const int height = map.height;

    // First pass: the longest vertical run of edges in every column.
    std::vector<int> currentRun(std::size_t(width), 0);
    std::vector<int> longestRun(std::size_t(width), 0);
    for (int y = 0; y < height; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 1; x < width; ++x) {
            int& run = currentRun[std::size_t(x)];
            if (isEdge(row, x)) {
                ++run;
                longestRun[std::size_t(x)] = std::max(longestRun[std::size_t(x)], run);
            } else {
                run = 0;
            }
        }
    }
    // A vertical edge longer than any glyph stem is a border, not ink.
    const int structuralRun = std::max(64, height / 4);
    std::vector<unsigned char> structural(std::size_t(width), 0);
    for (int x = 0; x < width; ++x) {
        structural[std::size_t(x)] = longestRun[std::size_t(x)] >= structuralRun ? 1 : 0;
    }

    // Second pass: the ink of every row and strip.
    map.stripInk.assign(std::size_t(height) * std::size_t(map.strips), 0);
    map.rowInk.assign(std::size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        const uchar* row = image.constScanLine(y);
        unsigned char* strips = map.stripInk.data() + std::size_t(y) * std::size_t(map.strips);
        for (int x = 1; x < width; ++x) {
            if (!structural[std::size_t(x)] && isEdge(row, x)) {
                strips[x / stripWidth] = 1;
                map.rowInk[std::size_t(y)] = 1;
            }
        }
    }
    return map;
}

double estimatedFontHeight(const InkMap& map, int top, int bottom) {
    const int strips = map.strips;
    std::vector<int> runStart(std::size_t(strips), -1);
    std::vector<int> runs;
    for (int y = top; y <= bottom; ++y) {
        const unsigned char* inked = y < bottom ? map.stripInk.data() + std::size_t(y) * std::size_t(strips) : nullptr;
        for (int s = 0; s < strips; ++s) {
            const bool ink = inked && inked[s];
            int& start = runStart[std::size_t(s)];
            if (ink && start < 0) {
                start = y;
            } else if (!ink && start >= 0) {
                const int run = y - start;
                if (run >= shortestTextRun && run <= tallestTextRun) {
                    runs.push_back(run);
                }
                start = -1;
            }
        }
    }
    if (runs.empty()) {
        return 0;
    }
    const auto at = runs.begin() + std::ptrdiff_t(std::floor(runPercentile * double(runs.size() - 1)));
    std::nth_element(runs.begin(), at, runs.end());
    return double(*at) / capitalLineShare;
}

}  // namespace

std::vector<TextBand> textBands(const QImage& grayscale, int maxBands) {
    const QImage image = grayscale.format() == QImage::Format_Grayscale8
                             ? grayscale
                             : grayscale.convertToFormat(QImage::Format_Grayscale8);
    const int height = image.height();
    if (image.isNull() || height <= 0 || image.width() <= 0) {
        return {};
    }
    const InkMap map = findInk(image);

    // Runs of rows without ink, as [first, last].
    std::vector<std::pair<int, int>> clearRuns;
    for (int y = 0; y < height; ++y) {
        if (map.rowInk[std::size_t(y)]) {
            continue;
        }
        if (!clearRuns.empty() && clearRuns.back().second == y - 1) {
            clearRuns.back().second = y;
        } else {
            clearRuns.emplace_back(y, y);
        }
    }

    std::vector<TextBand> bands;
    const int wanted = std::clamp(maxBands, 1, std::max(1, height / shortestBand));
    const double bandHeight = double(height) / wanted;
    int bandTop = 0;
    for (int k = 1; k < wanted; ++k) {
        const int target = int(std::lround(k * bandHeight));
        // The clear row nearest to the planned cut, within half a band of it.
        int bestCut = -1;
        const std::pair<int, int>* bestRun = nullptr;
        double bestDistance = bandHeight / 2;
        for (const auto& run : clearRuns) {
            if (run.second - run.first < 1) {
                continue;  // a single clear row leaves no margin on either side
            }
            const int cut = std::clamp(target, run.first, run.second);
            const double distance = std::abs(cut - target);
            const int lastBottom = bands.empty() ? 0 : bands.back().bottom;
            if (distance <= bestDistance && cut > bandTop && std::min(run.second, cut + cutMargin) + 1 > lastBottom) {
                bestCut = cut;
                bestRun = &run;
                bestDistance = distance;
            }
        }
        if (!bestRun) {
            continue;
        }
        // Both bands keep some of the clear rows around the cut as their margin.
        bands.push_back({bandTop, std::min(bestRun->second, bestCut + cutMargin) + 1, 0});
        bandTop = std::max({bestRun->first, bestCut - cutMargin, bandTop + 1});
    }
    bands.push_back({bandTop, height, 0});
    for (TextBand& band : bands) {
        band.fontHeight = estimatedFontHeight(map, band.top, band.bottom);
    }
    return bands;
}

}  // namespace tavrolin
