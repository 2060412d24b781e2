// Which desktop settings program opens a pane, in which order, and the explanation otherwise.
#include "shell/system_settings_opener.h"

#include "support/async.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/qt_printers.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class RecordingLauncher final : public ProgramLaunching {
public:
    bool launchDetached(const QString& program, const QStringList& arguments) override {
        attempts << (QStringList{program} + arguments).join(u' ');
        return installed.contains(program);
    }
    QStringList attempts;
    QStringList installed;
};

struct Fixture {
    explicit Fixture(const QString& desktop) : opener(launcher, presenter, desktop) {}
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    test::ScriptedAlertPresenter presenter;
    SystemSettingsOpener opener;
};

TEST(SystemSettingsOpener, AccessibilityOpensTheDesktopsOwnPageFirst) {
    struct Row {
        QString desktop;
        QStringList installed;
        QStringList attempts;
    };
    const std::vector<Row> rows{
        {"ubuntu:GNOME", {"gnome-control-center"}, {"gnome-control-center universal-access"}},
        {"KDE", {"systemsettings5"}, {"systemsettings kcm_access", "systemsettings5 kcm_access"}},
        {"X-Cinnamon", {"cinnamon-settings"}, {"cinnamon-settings universal-access"}},
        {"XFCE", {"xfce4-accessibility-settings"}, {"xfce4-accessibility-settings"}},
    };
    for (const Row& row : rows) {
        Fixture f(row.desktop);
        f.launcher->installed = row.installed;
        f.opener.open(SystemSettingsPane::accessibility);
        EXPECT_EQ(f.launcher->attempts, row.attempts) << row.desktop.toStdString();
        EXPECT_TRUE(f.presenter.shown.empty()) << row.desktop.toStdString();
    }
}

TEST(SystemSettingsOpener, WithoutADesktopPageOurExplanationIsShown) {
    struct Row {
        QString desktop;
        SystemSettingsPane pane;
        QStringList attempts;
        QString title;
        QString mentions;
    };
    const std::vector<Row> rows{
        {"GNOME",
         SystemSettingsPane::accessibility,
         {"gnome-control-center universal-access", "gnome-control-center accessibility"},
         "Accessibility on This Desktop",
         "AT-SPI"},
        {"openbox", SystemSettingsPane::accessibility, {}, "Accessibility on This Desktop", "assistive technologies"},
        {"GNOME", SystemSettingsPane::screenRecording, {}, "Screen Capture on This Desktop", "no permission"},
        {"KDE", SystemSettingsPane::translationLanguages, {}, "Translation Languages", "apertium-"},
        {"GNOME", SystemSettingsPane::loginItems, {}, "Open at Login", "~/.config/autostart"},
    };
    for (const Row& row : rows) {
        Fixture f(row.desktop);
        f.opener.open(row.pane);
        EXPECT_EQ(f.launcher->attempts, row.attempts);
        ASSERT_EQ(f.presenter.shown.size(), 1u);
        EXPECT_EQ(f.presenter.shown[0].title, row.title);
        EXPECT_TRUE(f.presenter.shown[0].message.contains(row.mentions)) << row.title.toStdString();
        EXPECT_EQ(f.presenter.shown[0].buttons, QStringList{"OK"});
    }
}

TEST(SystemSettingsOpener, OpenFirstAvailableSkipsAbsentEntriesAndStopsAtTheFirstThatStarts) {
    Fixture f("GNOME");
    f.launcher->installed = {"b", "c"};
    EXPECT_TRUE(f.opener.openFirstAvailable({std::nullopt, SettingsPaneAddress{"a", {}}, std::nullopt,
                                             SettingsPaneAddress{"b", {"x"}}, SettingsPaneAddress{"c", {}}}));
    EXPECT_EQ(f.launcher->attempts, (QStringList{"a", "b x"}));

    Fixture empty("GNOME");
    EXPECT_FALSE(empty.opener.openFirstAvailable({}));
    EXPECT_FALSE(empty.opener.openFirstAvailable({std::nullopt, std::nullopt}));
    EXPECT_TRUE(empty.launcher->attempts.isEmpty());
}

TEST(DetachedProcessLauncher, ReportsAMissingProgramWithoutStartingAnything) {
    DetachedProcessLauncher launcher;
    EXPECT_FALSE(launcher.launchDetached("tavrolin-no-such-settings-program", {}));
    // Arguments reach the program as they are: no shell interprets them.
    const QString marker = QDir::temp().filePath("tavrolin-opener-marker");
    QFile::remove(marker);
    EXPECT_TRUE(launcher.launchDetached("touch", {marker + "; echo"}));
    EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(marker + "; echo"); }));
    QFile::remove(marker + "; echo");
    EXPECT_FALSE(QFile::exists(marker));
}

}  // namespace
}  // namespace tavrolin
