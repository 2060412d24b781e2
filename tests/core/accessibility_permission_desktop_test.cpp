// The trust request against the AT-SPI bus of the desktop session, and against session buses
// that have no accessibility bus at all.
#include "core/accessibility_permission.h"
#include "platform/linux/dbus_accessibility_bus_status.h"

#include "support/private_bus.h"

#include <QDBusConnection>
#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class AccessibilityPermissionDesktopTest : public testing::Test {
protected:
    void SetUp() override {
        if (!status.isEnabled().has_value()) {
            GTEST_SKIP() << "no accessibility bus in this session";
        }
    }
    // The session leaves the switch on; so does every test.
    void TearDown() override { status.setEnabled(true); }

    DBusAccessibilityBusStatus status;
};

TEST_F(AccessibilityPermissionDesktopTest, SwitchedOffBusIsSwitchedOnByTheRequest) {
    ASSERT_TRUE(status.setEnabled(false));
    std::vector<QString> notices;
    AccessibilityPermission permission(status, [&](const QString& m) { notices.push_back(m); });
    EXPECT_FALSE(permission.isTrusted());

    EXPECT_EQ(permission.requestIfNeeded(), AccessibilityPermissionStatus::trusted);
    EXPECT_EQ(status.isEnabled(), true);
    EXPECT_TRUE(notices.empty());
}

TEST_F(AccessibilityPermissionDesktopTest, SwitchedOnBusIsTrustedWithoutAnyChange) {
    ASSERT_TRUE(status.setEnabled(true));
    AccessibilityPermission permission(status);
    EXPECT_TRUE(permission.isTrusted());
    EXPECT_EQ(permission.requestIfNeeded(), AccessibilityPermissionStatus::trusted);
    EXPECT_FALSE(permission.lastNotice());
}

TEST(AccessibilityPermissionNoBusDesktopTest, SessionBusWithoutAccessibilityAnswersQuicklyAndSaysWhy) {
    test::PrivateBus privateBus(test::PrivateBus::Services::none);
    ASSERT_FALSE(privateBus.address().isEmpty());
    const QString name = QStringLiteral("no-accessibility-bus");
    {
        QDBusConnection connection = QDBusConnection::connectToBus(privateBus.address(), name);
        ASSERT_TRUE(connection.isConnected());
        DBusAccessibilityBusStatus status(connection, 2000);
        std::vector<QString> notices;
        AccessibilityPermission permission(status, [&](const QString& m) { notices.push_back(m); });

        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(permission.requestIfNeeded(), AccessibilityPermissionStatus::notTrusted);
        // Nobody owns or can start the launcher: the bus refuses at once rather than timing out.
        EXPECT_LT(timer.elapsed(), 2000);
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices.front(), AccessibilityPermission::busUnreachableMessage());
    }
    QDBusConnection::disconnectFromBus(name);
}

TEST(AccessibilityPermissionNoBusDesktopTest, NoSessionBusAtAllIsNotTrusted) {
    const QString name = QStringLiteral("unreachable-session-bus");
    {
        QDBusConnection connection =
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/tavrolin-test-bus"), name);
        ASSERT_FALSE(connection.isConnected());
        DBusAccessibilityBusStatus status(connection, 2000);
        AccessibilityPermission permission(status);
        EXPECT_FALSE(permission.isTrusted());
        EXPECT_EQ(permission.requestIfNeeded(), AccessibilityPermissionStatus::notTrusted);
        EXPECT_EQ(permission.lastNotice(), AccessibilityPermission::busUnreachableMessage());
    }
    QDBusConnection::disconnectFromBus(name);
}

}  // namespace
}  // namespace tavrolin
