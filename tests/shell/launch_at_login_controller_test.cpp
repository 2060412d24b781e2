#include "shell/launch_at_login_controller.h"

#include "support/scoped_environment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

// A temporary XDG_CONFIG_HOME and an "installed" bin folder holding the executable.
struct Sandbox {
    QTemporaryDir root;
    std::unique_ptr<test::ScopedEnvironmentVariable> configHome;

    Sandbox() {
        QDir(root.path()).mkpath(QStringLiteral("config"));
        QDir(root.path()).mkpath(QStringLiteral("prefix/bin"));
        configHome = std::make_unique<test::ScopedEnvironmentVariable>(
            "XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toUtf8());
    }
    QString bin() const { return root.filePath(QStringLiteral("prefix/bin")); }
    QString entry() const { return root.filePath(QStringLiteral("config/autostart/org.tavrolin.Tavrolin.desktop")); }
    LaunchAtLoginController controller(const QString& executable = {}) const {
        LaunchAtLoginController::Options options;
        options.executablePath = executable.isEmpty() ? bin() + QStringLiteral("/tavrolin") : executable;
        options.installedBinDirectory = bin();
        return LaunchAtLoginController(options);
    }
    QByteArray entryText() const {
        QFile file(entry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeEntry(const QByteArray& text) const {
        QDir().mkpath(QFileInfo(entry()).absolutePath());
        QFile file(entry());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
};

}  // namespace

TEST(LaunchAtLoginController, EnableCreatesDisableRemovesAndRepeatsAreQuiet) {
    Sandbox sandbox;
    const auto controller = sandbox.controller();
    EXPECT_FALSE(controller.isEnabled());

    EXPECT_FALSE(controller.sync(true));
    ASSERT_TRUE(QFile::exists(sandbox.entry()));
    EXPECT_TRUE(controller.isEnabled());
    const QByteArray text = sandbox.entryText();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains(("\nExec=\"" + sandbox.bin() + "/tavrolin\"\n").toUtf8())) << text.toStdString();

    // Enabling again leaves the entry exactly as it is (a mark added by hand survives).
    sandbox.writeEntry(text + "# kept\n");
    EXPECT_FALSE(controller.sync(true));
    EXPECT_TRUE(sandbox.entryText().endsWith("# kept\n"));

    EXPECT_FALSE(controller.sync(false));
    EXPECT_FALSE(QFile::exists(sandbox.entry()));
    EXPECT_FALSE(controller.sync(false)) << "disabling what is not there is no failure";
}

TEST(LaunchAtLoginController, HiddenOrStaleEntries) {
    Sandbox sandbox;
    const auto controller = sandbox.controller();
    // A hidden entry is not enabled: disabling leaves it, enabling replaces it.
    const QByteArray hidden = "[Desktop Entry]\nType=Application\nExec=/old/tavrolin\nHidden=true\n";
    sandbox.writeEntry(hidden);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_FALSE(controller.sync(false));
    EXPECT_EQ(sandbox.entryText(), hidden);
    EXPECT_FALSE(controller.sync(true));
    EXPECT_TRUE(controller.isEnabled());
    EXPECT_FALSE(sandbox.entryText().contains("Hidden"));

    // An enabled entry for a program that moved would start nothing: it is rewritten.
    sandbox.writeEntry("[Desktop Entry]\nType=Application\nExec=/old/tavrolin\n");
    EXPECT_FALSE(controller.sync(true));
    EXPECT_TRUE(sandbox.entryText().contains(sandbox.bin().toUtf8()));
}

TEST(LaunchAtLoginController, OutsideTheInstalledLocationNothingChanges) {
    Sandbox sandbox;
    QDir(sandbox.root.path()).mkpath(QStringLiteral("build/src/app"));
    const auto controller = sandbox.controller(sandbox.root.filePath(QStringLiteral("build/src/app/tavrolin")));
    EXPECT_FALSE(controller.runsFromInstalledLocation());
    EXPECT_FALSE(controller.sync(true));
    EXPECT_FALSE(QFile::exists(sandbox.entry()));
    sandbox.writeEntry("[Desktop Entry]\nExec=/usr/bin/tavrolin\n");
    EXPECT_FALSE(controller.sync(false));
    EXPECT_TRUE(QFile::exists(sandbox.entry())) << "an entry of an installed copy is not ours to remove";
}

TEST(LaunchAtLoginController, UnwritableFolderGivesTheEnableError) {
    Sandbox sandbox;
    // The autostart "folder" is a file: nothing can be created inside it (even as root).
    QFile blocker(sandbox.root.filePath(QStringLiteral("config/autostart")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto controller = sandbox.controller();
    try {
        controller.sync(true);
        FAIL() << "enabling must fail";
    } catch (const LaunchAtLoginError& error) {
        EXPECT_EQ(error.errorCase(), LaunchAtLoginError::Case::enableFailed);
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("Tavrolin couldn't enable launch at login. ")));
        EXPECT_GT(error.description().size(), 42) << "the underlying reason follows";
        EXPECT_FALSE(error.recoverySuggestion().contains(QStringLiteral("System Settings")));
    }
    EXPECT_TRUE(LaunchAtLoginError::disableFailed(QStringLiteral("Permission denied"))
                    .description()
                    .startsWith(QStringLiteral("Tavrolin couldn't disable launch at login. Permission denied")));
}

TEST(LaunchAtLoginController, ExecQuotesPathsThatNeedIt) {
    struct Case {
        const char* path;
        const char* exec;
    };
    const Case cases[] = {
        {"/usr/bin/tavrolin", R"("/usr/bin/tavrolin")"},
        {"/opt/My Apps/tavrolin", R"("/opt/My Apps/tavrolin")"},
        {"/opt/a$b/100%/tavrolin", R"("/opt/a\\$b/100%%/tavrolin")"},
        {R"(/opt/q"uote/tavrolin)", R"("/opt/q\\"uote/tavrolin")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LaunchAtLoginController::execValue(QString::fromUtf8(c.path)), QString::fromUtf8(c.exec)) << c.path;
    }
}
