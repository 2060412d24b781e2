#include "updates/app_update_version_comparator.h"

#include <QChar>
#include <QList>

#include <algorithm>
#include <limits>
#include <optional>

namespace tavrolin {

namespace {

// A run of numeric characters as a 64-bit integer, when it reads as one.
std::optional<std::int64_t> integerFromRun(const std::u32string& run) {
    constexpr auto maximum = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const char32_t c : run) {
        if (c < U'0' || c > U'9') {
            return std::nullopt;
        }
        const int digit = static_cast<int>(c - U'0');
        if (value > (maximum - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::vector<std::int64_t> AppUpdateVersionComparator::numericComponents(const QString& text) {
    std::vector<std::int64_t> components;
    std::u32string run;
    const auto flush = [&] {
        if (!run.empty()) {
            if (const auto value = integerFromRun(run)) {
                components.push_back(*value);
            }
            run.clear();
        }
    };
    for (const uint code : text.toUcs4()) {
        const auto c = static_cast<char32_t>(code);
        if (QChar::isNumber(c)) {
            run.push_back(c);
        } else {
            flush();
        }
    }
    flush();
    if (components.empty()) {
        components.push_back(0);
    }
    return components;
}

std::strong_ordering AppUpdateVersionComparator::compare(const QString& lhs, const QString& rhs) {
    const auto left = numericComponents(lhs);
    const auto right = numericComponents(rhs);
    const std::size_t count = std::max(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t a = i < left.size() ? left[i] : 0;
        const std::int64_t b = i < right.size() ? right[i] : 0;
        if (a != b) {
            return a <=> b;
        }
    }
    return std::strong_ordering::equal;
}

}  // namespace tavrolin
