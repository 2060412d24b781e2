#pragma once

#include <QRectF>

#include <cmath>
#include <utility>
#include <vector>

namespace tavrolin {

// Reading order of recognised lines (bottom-left image pixels): a line comes first when its
// bottom is more than 3 pixels higher; lines whose bottoms are within 3 pixels of each other
// go left to right.
inline bool precedesInReadingOrder(const QRectF& a, const QRectF& b) {
    const double bottomDifference = a.y() - b.y();
    if (std::abs(bottomDifference) > 3) {
        return bottomDifference > 0;
    }
    return a.x() < b.x();
}

// Sorts items into reading order by their boxes, keeping the input order where the test puts
// neither first. The test is not transitive (bottoms 0, 2 and 4 pixels apart: the outer two
// are ordered by height, each neighbour pair left to right), which is undefined behaviour for
// std::sort and std::stable_sort; this insertion sort applies it pair by pair and always gives
// a permutation of the input, the same one for the same input.
template <typename T, typename BoxOf>
void sortIntoReadingOrder(std::vector<T>& items, BoxOf boxOf) {
    for (std::size_t i = 1; i < items.size(); ++i) {
        std::size_t j = i;
        while (j > 0 && precedesInReadingOrder(boxOf(items[i]), boxOf(items[j - 1]))) {
            --j;
        }
        if (j != i) {
            T moving = std::move(items[i]);
            for (std::size_t k = i; k > j; --k) {
                items[k] = std::move(items[k - 1]);
            }
            items[j] = std::move(moving);
        }
    }
}

}  // namespace tavrolin
