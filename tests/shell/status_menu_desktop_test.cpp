// The tray icon under the session's tray host: its menu opens from the icon and an item runs.
#include "shell/status_menu.h"
#include "support/async.h"

#include <QAction>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

bool click(QPoint point, int button) {
    return QProcess::execute("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y()), "click",
                                         QString::number(button)}) == 0;
}

TEST(StatusMenuDesktop, AnItemClickedThroughTheTrayRunsItsCommand) {
    ASSERT_TRUE(test::waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    QStringList calls;
    StatusMenu statusMenu(StatusMenuActions{
        .runCommand = [&](HotKeyAction action) { calls << commandTitle(action); },
        .openSettings = [&] { calls << "settings"; },
    });
    statusMenu.configure();
    AppSettings settings;
    statusMenu.refresh(settings);
    // Embedded in the tray host, the icon leaves the origin for the panel.
    ASSERT_TRUE(test::waitUntil([&] {
        const QRect geometry = statusMenu.trayIcon()->geometry();
        return geometry.isValid() && geometry.topLeft() != QPoint(0, 0);
    }));
    EXPECT_TRUE(statusMenu.trayIcon()->isVisible());

    for (int button : {3, 1}) {  // the context click and a plain click open the same menu
        calls.clear();
        ASSERT_TRUE(click(statusMenu.trayIcon()->geometry().center(), button));
        ASSERT_TRUE(test::waitUntil([&] { return statusMenu.menu()->isVisible(); })) << button;
        QAction* item = statusMenu.commandItem(HotKeyAction::translateMessage);
        ASSERT_EQ(item->text(), "Write Message (English) (Control+Shift+W)");
        const QPoint target = statusMenu.menu()->mapToGlobal(statusMenu.menu()->actionGeometry(item).center());
        // The menu takes a moment to accept clicks after it appears.
        test::waitUntil([] { return false; }, std::chrono::milliseconds(200));
        ASSERT_TRUE(click(target, 1));
        ASSERT_TRUE(test::waitUntil([&] { return !calls.isEmpty(); })) << button;
        EXPECT_EQ(calls, QStringList{"Write Message"});
        EXPECT_TRUE(test::waitUntil([&] { return !statusMenu.menu()->isVisible(); }));
    }
}

}  // namespace
}  // namespace tavrolin
