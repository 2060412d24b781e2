// The trust request against the AT-SPI bus of the desktop session, and against session buses
// that have no accessibility bus at all.
#include "core/accessibility_permission.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "support/async.h"
#include "support/session/private_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class AccessibilityPermissionDesktopTest : public testing::Test {
protected:
    void SetUp() override {
        const AccessibilitySwitch answer = test::await(status.readSwitch());
        if (answer != AccessibilitySwitch::on && answer != AccessibilitySwitch::off) {
            GTEST_SKIP() << "no accessibility bus in this session";
        }
    }
    // The session leaves the switch on; so does every test.
    void TearDown() override { test::await(status.setEnabled(true)); }

    DBusAccessibilityBusStatus status;
};

TEST_F(AccessibilityPermissionDesktopTest, SwitchedOffBusIsSwitchedOnByTheRequest) {
    ASSERT_TRUE(test::await(status.setEnabled(false)));
    std::vector<QString> notices;
    AccessibilityPermission permission(status, [&](const QString& m) { notices.push_back(m); });
    EXPECT_FALSE(test::await(permission.isTrusted()));

    EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::trusted);
    EXPECT_EQ(test::await(status.readSwitch()), AccessibilitySwitch::on);
    EXPECT_TRUE(notices.empty());
}

TEST_F(AccessibilityPermissionDesktopTest, SwitchedOnBusIsTrustedWithoutAnyChange) {
    ASSERT_TRUE(test::await(status.setEnabled(true)));
    AccessibilityPermission permission(status);
    EXPECT_TRUE(test::await(permission.isTrusted()));
    EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::trusted);
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
        EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::notTrusted);
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
        EXPECT_FALSE(test::await(permission.isTrusted()));
        EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::notTrusted);
        EXPECT_EQ(permission.lastNotice(), AccessibilityPermission::busUnreachableMessage());
    }
    QDBusConnection::disconnectFromBus(name);
}

// An accessibility bus launcher that takes every question and never answers.
class SilentLauncher final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        message.setDelayedReply(true);  // and no reply ever comes
        ++questions;
        return true;
    }
    int questions = 0;
};

TEST(AccessibilityPermissionNoBusDesktopTest, ALauncherThatNeverAnswersNeitherTrustsNorHoldsTheCaller) {
    test::PrivateBus privateBus(test::PrivateBus::Services::none);
    ASSERT_FALSE(privateBus.address().isEmpty());
    const QString serviceName = QStringLiteral("silent-launcher");
    const QString clientName = QStringLiteral("silent-launcher-client");
    {
        QDBusConnection service = QDBusConnection::connectToBus(privateBus.address(), serviceName);
        ASSERT_TRUE(service.registerService(QStringLiteral("org.a11y.Bus")));
        SilentLauncher launcher;
        ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/a11y/bus"), &launcher));
        QDBusConnection client = QDBusConnection::connectToBus(privateBus.address(), clientName);
        DBusAccessibilityBusStatus status(client, 500);
        AccessibilityPermission permission(status);

        // The caller's thread keeps running its timers while the question is out.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        sinceTick.start();
        tick.start(10);
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(test::await(permission.isTrusted()));
        EXPECT_LT(timer.elapsed(), 1500);
        EXPECT_LE(std::max(longestGap, sinceTick.elapsed()), 50);
        tick.stop();
        // A launcher that is there but silent is asked twice and gives the user nothing to do.
        EXPECT_EQ(test::await(permission.requestIfNeeded()), AccessibilityPermissionStatus::noAnswer);
        EXPECT_FALSE(permission.lastNotice());
        EXPECT_GE(launcher.questions, 3);
        service.unregisterObject(QStringLiteral("/org/a11y/bus"));
    }
    QDBusConnection::disconnectFromBus(clientName);
    QDBusConnection::disconnectFromBus(serviceName);
}

}  // namespace
}  // namespace tavrolin
