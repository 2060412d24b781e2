// The tray icon under the session's tray host: its menu opens from the icon and an item runs.
#include "shell/status_menu.h"
#include "support/async.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QWindow>

#include <algorithm>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

bool moveTo(QPoint point) {
    return QProcess::execute("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y())}) == 0;
}

bool click(int button) {
    return QProcess::execute("xdotool", {"click", QString::number(button)}) == 0;
}

// Whether the tray icon is on screen: its host has embedded it and shown it (the window system
// exposed it). Before the menu opens, the icon's is this process's only window.
bool trayIconShown() {
    const QWindowList windows = QGuiApplication::allWindows();
    return std::any_of(windows.begin(), windows.end(), [](const QWindow* window) { return window->isExposed(); });
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
        // A user clicks the icon once it is there under the pointer, and the item once the menu
        // has taken it as its active item under the pointer.
        ASSERT_TRUE(test::waitUntil(trayIconShown)) << "the tray icon is not shown";
        ASSERT_TRUE(moveTo(statusMenu.trayIcon()->geometry().center()));
        ASSERT_TRUE(click(button));
        ASSERT_TRUE(test::waitUntil([&] { return statusMenu.menu()->isVisible(); })) << button;
        QAction* item = statusMenu.commandItem(HotKeyAction::translateMessage);
        ASSERT_EQ(item->text(), "Write Message (English) (Control+Shift+W)");
        ASSERT_TRUE(moveTo(statusMenu.menu()->mapToGlobal(statusMenu.menu()->actionGeometry(item).center())));
        ASSERT_TRUE(test::waitUntil([&] { return statusMenu.menu()->activeAction() == item; })) << button;
        ASSERT_TRUE(click(1));
        ASSERT_TRUE(test::waitUntil([&] { return !calls.isEmpty(); })) << button;
        EXPECT_EQ(calls, QStringList{"Write Message"});
        EXPECT_TRUE(test::waitUntil([&] { return !statusMenu.menu()->isVisible(); }));
    }
}

}  // namespace
}  // namespace tavrolin
