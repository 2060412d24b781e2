#include "core/accessibility_permission.h"

#include "support/async.h"
#include "support/fakes/fake_accessibility_bus_status.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

struct TrustCase {
    const char* name;
    bool reachable;
    bool acceptsSwitch;
    bool enabledBefore;
    AccessibilityPermissionStatus expected;
    int expectedWrites;
    bool enabledAfter;
    bool expectsNotice;
};

class AccessibilityPermissionTest : public testing::TestWithParam<TrustCase> {};

TEST_P(AccessibilityPermissionTest, RequestSwitchesOnOnceAndTellsTheUserWhenItCannot) {
    const TrustCase& c = GetParam();
    test::FakeAccessibilityBusStatus bus;
    bus.reachable = c.reachable;
    bus.acceptsSwitch = c.acceptsSwitch;
    bus.enabled = c.enabledBefore;
    std::vector<QString> notices;
    AccessibilityPermission permission(
        bus, [&](const QString& message) { notices.push_back(message); }, std::chrono::milliseconds(1));

    EXPECT_EQ(test::await(permission.requestIfNeeded()), c.expected);
    EXPECT_EQ(bus.writes, c.expectedWrites);
    EXPECT_EQ(bus.enabled, c.enabledAfter);
    EXPECT_EQ(notices.size(), c.expectsNotice ? 1u : 0u);
    EXPECT_EQ(permission.lastNotice().has_value(), c.expectsNotice);
    EXPECT_EQ(test::await(permission.isTrusted()), c.expected == AccessibilityPermissionStatus::trusted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccessibilityPermissionTest,
    testing::Values(
        // Already on: trusted, and nothing is asked of the bus.
        TrustCase{"AlreadyOn", true, true, true, AccessibilityPermissionStatus::trusted, 0, true, false},
        TrustCase{"SwitchedOn", true, true, false, AccessibilityPermissionStatus::trusted, 1, true, false},
        TrustCase{"DesktopRefuses", true, false, false, AccessibilityPermissionStatus::notTrusted, 1, false, true},
        // Without a bus there is nothing to switch: no write, the user learns what to install.
        TrustCase{"NoBus", false, true, false, AccessibilityPermissionStatus::notTrusted, 0, false, true}),
    [](const testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });

TEST(AccessibilityPermissionNoticeTest, NoticeNamesWhatToDoAndClearsAfterSuccess) {
    test::FakeAccessibilityBusStatus bus;
    bus.reachable = false;
    AccessibilityPermission permission(bus, {}, std::chrono::milliseconds(1));
    EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::notTrusted);
    ASSERT_TRUE(permission.lastNotice());
    EXPECT_TRUE(permission.lastNotice()->contains(u"at-spi2-core"));

    bus.reachable = true;
    EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::trusted);
    EXPECT_FALSE(permission.lastNotice());
}

// A bus that lets one question time out under load is asked again after a pause; one that lets
// both go unanswered fails the command without sending the user to their settings.
TEST(AccessibilityPermissionNoticeTest, ABusThatDoesNotAnswerIsAskedAgainAndNeverAlertsTheUser) {
    test::FakeAccessibilityBusStatus bus;
    bus.enabled = true;
    bus.unanswered = 1;
    std::vector<QString> notices;
    AccessibilityPermission permission(
        bus, [&](const QString& message) { notices.push_back(message); }, std::chrono::milliseconds(20));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::trusted);
    EXPECT_GE(timer.elapsed(), 20) << "asked again only after the pause";
    EXPECT_EQ(bus.reads, 2);

    bus.unanswered = 2;
    EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::noAnswer);
    EXPECT_EQ(bus.writes, 0);
    EXPECT_TRUE(notices.empty());
    EXPECT_FALSE(permission.lastNotice());
}

}  // namespace
}  // namespace tavrolin
