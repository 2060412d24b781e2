#include "updates/app_update_version_comparator.h"

#include <compare>
#include <gtest/gtest.h>
#include <string>

namespace tavrolin {
namespace {

const char* name(std::strong_ordering order) {
    if (order < 0) {
        return "ascending";
    }
    return order > 0 ? "descending" : "same";
}

struct ComparisonCase {
    QString lhs;
    QString rhs;
    const char* expected;
};

TEST(AppUpdateVersionComparator, ComparesEmbeddedIntegersOnly) {
    const ComparisonCase cases[] = {
        {"1.2", "1.2.0", "same"},
        {"1.10", "1.9", "descending"},
        {"01.02", "1.2", "same"},
        {"2.0-beta", "2.0", "same"},
        {"v2", "2", "same"},
        {"", "0", "same"},
        {"abc", "", "same"},
        {"abc", "0.0.0", "same"},
        {"1.2.3", "1.2.3.1", "ascending"},
        {"1.2.3.1", "1.2.3", "descending"},
        {"1.99999999999999999999", "1", "same"},
        {"9223372036854775807", "9223372036854775806", "descending"},
        {"9223372036854775808", "0", "same"},
        {"57", "58", "ascending"},
        {"build 100", "build 99", "descending"},
        {"2", "10", "ascending"},  // numeric, not textual
        {"1.0 (57)", "1.0 (56)", "descending"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(name(AppUpdateVersionComparator::compare(c.lhs, c.rhs)), c.expected)
            << c.lhs.toStdString() << " vs " << c.rhs.toStdString();
    }
}

TEST(AppUpdateVersionComparator, NonAsciiNumeralsFormRunsButAreDropped) {
    // A digit followed by a superscript two is one numeric run that is not an integer.
    EXPECT_EQ(AppUpdateVersionComparator::numericComponents(QStringLiteral("1.3\u00B2.4")),
              (std::vector<std::int64_t>{1, 4}));
    // Arabic-Indic digits are numeric but not ASCII: the run is dropped, not a separator.
    EXPECT_EQ(AppUpdateVersionComparator::numericComponents(QStringLiteral("2.\u0661\u0662")),
              (std::vector<std::int64_t>{2}));
    // A numeric character outside the BMP (mathematical bold digit one) joins the run too.
    EXPECT_EQ(AppUpdateVersionComparator::numericComponents(QString::fromUcs4(U"5\U0001D7CF.6")),
              (std::vector<std::int64_t>{6}));
    // A vulgar fraction is numeric: it joins "1" into one run that is dropped.
    EXPECT_EQ(AppUpdateVersionComparator::numericComponents(QStringLiteral("1\u00BD")), (std::vector<std::int64_t>{0}));
}

}  // namespace
}  // namespace tavrolin
