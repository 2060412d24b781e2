// The status menu on a real QMenu: items, titles, tool tips and online-dependent states.
#include "shell/status_menu.h"

#include "shell/main_menu.h"
#include "support/qt_printers.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

QStringList titles(const QMenu& menu) {
    QStringList result;
    for (QAction* action : menu.actions()) {
        result << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return result;
}

QAction* itemTitled(const QMenu& menu, const QString& prefix) {
    for (QAction* action : menu.actions()) {
        if (action->text().startsWith(prefix)) {
            return action;
        }
    }
    return nullptr;
}

class StatusMenuTest : public ::testing::Test {
protected:
    StatusMenuTest()
        : statusMenu(StatusMenuActions{
              .runCommand = [this](HotKeyAction action) { calls << commandTitle(action); },
              .openSettings = [this] { calls << "settings"; },
              .showTutorial = [this] { calls << "tutorial"; },
              .checkForUpdates = [this] { calls << "updates"; },
              .shareApp = [this] { calls << "share"; },
              .writeDeveloper = [this] { calls << "developer"; },
              .quit = [this] { calls << "quit"; },
          }) {}

    QStringList calls;
    StatusMenu statusMenu;
};

TEST_F(StatusMenuTest, ConfigureBuildsEveryItemWithBareTitles) {
    statusMenu.configure();
    EXPECT_EQ(titles(*statusMenu.menu()),
              (QStringList{"Translate", "Rewrite Message", "Edit Message", "Write Message", "Flip Language",
                           "Dictation Scratchpad", "Create Prompt", "-", "Settings\u2026", "Show Tutorial\u2026", "-",
                           "Check for Updates\u2026", "Share Tavrolin\u2026", "Write to the developer", "-", "Quit"}));
    EXPECT_EQ(statusMenu.trayIcon()->contextMenu(), statusMenu.menu());
    EXPECT_FALSE(statusMenu.trayIcon()->icon().isNull());
    for (QAction* action : statusMenu.menu()->actions()) {
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    }
}

TEST_F(StatusMenuTest, EveryItemRunsItsOwnAction) {
    statusMenu.configure();
    for (QAction* action : statusMenu.menu()->actions()) {
        if (!action->isSeparator()) {
            action->trigger();
        }
    }
    EXPECT_EQ(calls, (QStringList{"Translate", "Rewrite Message", "Edit Message", "Write Message", "Flip Language",
                                  "Dictation Scratchpad", "Create Prompt", "settings", "tutorial", "updates", "share",
                                  "developer", "quit"}));
}

TEST_F(StatusMenuTest, RefreshNamesShortcutsAndLanguages) {
    statusMenu.configure();
    AppSettings settings;
    settings.messageTargetLanguage = AppLanguage::german;
    statusMenu.refresh(settings);
    EXPECT_EQ(titles(*statusMenu.menu()).mid(0, 7),
              (QStringList{"Translate (Russian) (Control+Shift+T)", "Rewrite Message (Control+Shift+R)",
                           "Edit Message (Control+Shift+E)", "Write Message (German) (Control+Shift+W)",
                           "Flip Language (Control+Shift+F)", "Dictation Scratchpad (Control+Shift+D)",
                           "Create Prompt (Control+Shift+P)"}));
    EXPECT_EQ(statusMenu.trayIcon()->toolTip(),
              "Tavrolin\n"
              "Translate Selection or Window: Control+Shift+T\n"
              "Rewrite Message: Control+Shift+R\n"
              "Edit Message: Control+Shift+E\n"
              "Write Message: Control+Shift+W\n"
              "Flip Language: Control+Shift+F\n"
              "Dictation Scratchpad: Control+Shift+D\n"
              "Create Prompt: Control+Shift+P\n"
              "Translate: Auto Detect -> Russian\n"
              "Online Features: On");
}

TEST_F(StatusMenuTest, ChangingOneLanguageChangesOnlyItsItem) {
    statusMenu.configure();
    AppSettings settings;
    statusMenu.refresh(settings);
    const QStringList before = titles(*statusMenu.menu());
    const QString tipBefore = statusMenu.trayIcon()->toolTip();

    settings.messageTargetLanguage = AppLanguage::french;
    statusMenu.refresh(settings);
    QStringList after = titles(*statusMenu.menu());
    EXPECT_EQ(after[3], "Write Message (French) (Control+Shift+W)");
    after[3] = before[3];
    EXPECT_EQ(after, before);
    EXPECT_EQ(statusMenu.trayIcon()->toolTip(), tipBefore);

    settings.targetLanguage = AppLanguage::spanish;
    statusMenu.refresh(settings);
    EXPECT_EQ(statusMenu.menu()->actions()[0]->text(), "Translate (Spanish) (Control+Shift+T)");
    EXPECT_TRUE(statusMenu.trayIcon()->toolTip().contains("\nTranslate: Auto Detect -> Spanish\n"));
}

TEST_F(StatusMenuTest, SuperShortcutsNameSuperLast) {
    AppSettings settings;
    settings.flipLanguageShortcut = HotKeyShortcut{.key = HotKeyKey::digit5, .command = true, .option = true};
    settings.createPromptShortcut =
        HotKeyShortcut{.key = HotKeyKey::f12, .command = true, .shift = true, .control = true};
    EXPECT_EQ(StatusMenu::commandItemTitle(HotKeyAction::flipLanguage, settings), "Flip Language (Alt+Super+5)");
    EXPECT_EQ(StatusMenu::commandItemTitle(HotKeyAction::createPrompt, settings),
              "Create Prompt (Control+Shift+Super+F12)");
}

TEST_F(StatusMenuTest, OfflineDisablesServerCommandsAndExplainsWhy) {
    statusMenu.configure();
    AppSettings settings;
    settings.onlineFeaturesEnabled = false;
    statusMenu.refresh(settings);

    const QString needsOnline = "Enable online features in Settings to use this command.";
    for (const QString& title : {QStringLiteral("Rewrite Message"), QStringLiteral("Create Prompt"),
                                 QStringLiteral("Check for Updates\u2026")}) {
        QAction* item = itemTitled(*statusMenu.menu(), title);
        ASSERT_NE(item, nullptr);
        EXPECT_FALSE(item->isEnabled()) << title.toStdString();
        EXPECT_EQ(item->toolTip(), needsOnline);
    }
    QAction* edit = statusMenu.commandItem(HotKeyAction::editText);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(edit->toolTip(), "Uses local corrections while online features are off.");
    EXPECT_TRUE(statusMenu.trayIcon()->toolTip().endsWith("\nOnline Features: Off"));
    int enabled = 0;
    for (QAction* action : statusMenu.menu()->actions()) {
        enabled += !action->isSeparator() && action->isEnabled();
    }
    EXPECT_EQ(enabled, 10);

    // Back online: enabled again and no explanations left (QAction falls back to its text).
    settings.onlineFeaturesEnabled = true;
    statusMenu.refresh(settings);
    for (QAction* item : {statusMenu.commandItem(HotKeyAction::writeText),
                          statusMenu.commandItem(HotKeyAction::createPrompt), statusMenu.checkForUpdatesItem(), edit}) {
        EXPECT_TRUE(item->isEnabled());
        EXPECT_EQ(item->toolTip(), item->text());
    }
}

TEST_F(StatusMenuTest, RefreshBeforeConfigureChangesNothing) {
    AppSettings settings;
    settings.onlineFeaturesEnabled = false;
    statusMenu.refresh(settings);
    EXPECT_FALSE(statusMenu.isConfigured());
    EXPECT_EQ(statusMenu.commandItem(HotKeyAction::writeText), nullptr);

    statusMenu.configure();
    EXPECT_EQ(statusMenu.commandItem(HotKeyAction::writeText)->text(), "Rewrite Message");
    EXPECT_TRUE(statusMenu.commandItem(HotKeyAction::writeText)->isEnabled());
}

TEST(TrayIconImage, IsOneColourOnTransparent) {
    const QImage image = StatusMenu::trayIconImage(QColor(200, 10, 10)).pixmap(22, 22).toImage();
    int painted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 0) {
                continue;
            }
            ++painted;
            EXPECT_EQ(pixel.red() > pixel.green() * 5 || pixel.alpha() < 40, true);
        }
    }
    EXPECT_GT(painted, 20);
}

TEST(MainMenu, ControlHHidesTheApplicationsWindowsAndLeavesEditKeysToTheFields) {
    MainMenu menu;
    menu.install();
    QLineEdit edit;
    QWidget other;
    edit.show();
    other.show();
    edit.setText("abc");
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(edit.selectedText(), "abc");
    QTest::keyClick(&edit, Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(edit.isVisible());
    EXPECT_FALSE(other.isVisible());
}

}  // namespace
}  // namespace tavrolin
