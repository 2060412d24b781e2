// The real executable under the desktop session: one instance, activation, lock file, tray.
#include "tavrolin_program_test.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

class TavrolinProcessTest : public test::TavrolinProgramTest {
protected:
    QString lockFile() const { return home_.filePath("data/Tavrolin/single-instance.lock"); }
    QByteArray lockContents() const {
        QFile file(lockFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool logged(qint64 pid, const QString& message) const {
        const QString tail = QStringLiteral(" [%1] ").arg(pid) + message;
        for (const QString& line : logLines()) {
            if (line.endsWith(tail)) {
                return true;
            }
        }
        return false;
    }
    bool waitUntilRunning(qint64 pid) {
        const QByteArray expected = QByteArray::number(pid) + '\n';
        return test::waitUntil([&] { return lockContents() == expected && logged(pid, "launch version=0.1.0"); }, 10s);
    }
};

TEST_F(TavrolinProcessTest, OneInstanceWithTrayIconAndActivationOfTheRunningOne) {
    writeProgramSettings([](AppSettings&) {});
    const QProcessEnvironment environment = programEnvironment();
    startProgram(environment);
    const qint64 first = pid_;
    ASSERT_TRUE(waitUntilRunning(first)) << lockContents().toStdString() << logLines().join('\n').toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return !trayIcons().isEmpty(); }, 10s)) << "no tray icon was shown";

    QProcess& second = startAnotherInstance(environment);
    const qint64 secondPid = second.processId();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(logged(secondPid, "another instance is already running; activating existing app"));
    EXPECT_FALSE(logged(secondPid, "launch version=0.1.0"));
    EXPECT_TRUE(test::waitUntil([&] { return logged(first, "activation requested by another launch"); }));
    EXPECT_EQ(process_.state(), QProcess::Running);
    EXPECT_EQ(lockContents(), QByteArray::number(first) + '\n');

    // A killed instance leaves its file and socket behind; the next start takes over.
    ::kill(static_cast<pid_t>(first), SIGKILL);
    ASSERT_TRUE(process_.waitForFinished(5000));
    QProcess& third = startAnotherInstance(environment);
    const qint64 thirdPid = third.processId();
    ASSERT_TRUE(waitUntilRunning(thirdPid));
    QProcess& fourth = startAnotherInstance(environment);
    ASSERT_TRUE(fourth.waitForFinished(10000));
    EXPECT_EQ(fourth.exitCode(), 0);
    EXPECT_TRUE(test::waitUntil([&] { return logged(thirdPid, "activation requested by another launch"); }));

    // SIGTERM (a logout) ends it like "Quit": a normal exit that takes its socket along.
    third.terminate();
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_EQ(third.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(home_.filePath("runtime/org.tavrolin.Tavrolin.activate")));
}

TEST_F(TavrolinProcessTest, ALockFailureOtherThanAnotherInstanceEndsWithAnErrorStatus) {
    QFile blocker(home_.filePath("data-is-a-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcessEnvironment environment = programEnvironment();
    environment.insert("XDG_DATA_HOME", home_.filePath("data-is-a-file"));
    startProgram(environment);
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 1);
    EXPECT_TRUE(logged(
        pid_,
        QStringLiteral(
            "failed to acquire single-instance lock: failedToCreateDirectory(directoryURL: \"%1/Tavrolin\", underlyingError: \"Not a directory\")")
            .arg(home_.filePath("data-is-a-file"))))
        << logLines().join('\n').toStdString();
}

// A home that cannot be written (a read-only mount, a locked account): nothing can be kept, so
// the program ends, and whoever started it is told what could not be made and where.
TEST_F(TavrolinProcessTest, AHomeThatCannotBeWrittenIsNamedOnStandardErrorBeforeTheEnd) {
    const QString home = home_.filePath("home");
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_EQ(::chmod(QFile::encodeName(home).constData(), 0555), 0);
    QProcessEnvironment environment = programEnvironment();
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        environment.remove(name);
    }
    environment.insert("HOME", home);

    startProgram(environment, {.obeyFilePermissions = true, .keepStandardError = true});
    ASSERT_TRUE(process_.waitForFinished(10000));
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(process_.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("Could not create the lock directory at %1/.local/share/Tavrolin: "
                                               "Permission denied")
                                    .arg(home)))
        << errors.toStdString();
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    ::chmod(QFile::encodeName(home).constData(), 0700);
}

}  // namespace
}  // namespace tavrolin
