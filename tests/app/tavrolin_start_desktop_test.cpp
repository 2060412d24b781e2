// What the real program holds once it has started and idles in the tray: what the tray needs and
// nothing that only a command needs. Every user pays for the start and the idle footprint all
// day, whether or not a command ever runs.
#include "app/tavrolin_program_test.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

// The files mapped into the process.
QSet<QString> mappedFiles(qint64 pid) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    QSet<QString> files;
    if (!maps.open(QIODevice::ReadOnly)) {
        return files;
    }
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const qsizetype slash = line.indexOf('/');
        if (slash >= 0) {
            files.insert(QString::fromLocal8Bit(line.mid(slash)));
        }
    }
    return files;
}

// The processes whose parent is `pid`.
QStringList childProcesses(qint64 pid) {
    QStringList children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // pid (comm) state ppid ...: the name may hold spaces, so read after its ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid) {
            children << QString::fromLatin1(line.left(line.lastIndexOf(')') + 1));
        }
    }
    return children;
}

class TavrolinStartDesktopTest : public test::TavrolinProgramTest {};

TEST_F(TavrolinStartDesktopTest, TheIdleTrayProgramHasLoadedNoFontsNoImagePluginsAndStartedNoHelper) {
    writeProgramSettings([](AppSettings& settings) {
        settings.onlineFeaturesEnabled = false;
        settings.selectionPopupEnabled = true;
    });
    startProgram(programEnvironment());
    ASSERT_TRUE(test::waitUntil([&] { return !trayIcons().isEmpty(); }, 20s));
    // The selection watch is the launch's last step.
    ASSERT_TRUE(test::waitUntil([&] { return log().contains(QStringLiteral("SelectionPopupTrigger started")); }, 10s))
        << log().toStdString();

    for (const QString& file : mappedFiles(pid_)) {
        // The tray icon and the application icon are drawn and read without them.
        EXPECT_FALSE(file.contains(QStringLiteral("/fontconfig/"))) << file.toStdString();
        EXPECT_FALSE(file.contains(QStringLiteral("/imageformats/"))) << file.toStdString();
    }
    // No translation pipeline, speech model check or other helper runs before a command asks.
    EXPECT_EQ(childProcesses(pid_), QStringList());
}

}  // namespace
}  // namespace tavrolin
