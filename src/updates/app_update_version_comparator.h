#pragma once

#include <QString>

#include <compare>
#include <cstdint>
#include <vector>

namespace tavrolin {

// Compares version and build texts by the integers embedded in them. Every character that is
// not numeric separates components, so "2.0-beta" equals "2.0" and "v2" equals "2"; a missing
// component counts as 0 ("1.2" equals "1.2.0"), and a text without numbers counts as "0".
class AppUpdateVersionComparator {
public:
    AppUpdateVersionComparator() = delete;

    // less: the first is lower; greater: the first is higher; equal: no component differs.
    static std::strong_ordering compare(const QString& lhs, const QString& rhs);

    // The integers of a text, in order; never empty. A run of numeric characters that is not
    // plain ASCII digits (superscripts, other scripts' digits, fractions) or that exceeds
    // the signed 64-bit range is dropped.
    static std::vector<std::int64_t> numericComponents(const QString& text);
};

}  // namespace tavrolin
