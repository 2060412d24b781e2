// The real executable under the desktop session: one instance, activation, lock file, tray.
#include "support/async.h"
#include "support/file_permission_checks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <map>

#include <sys/prctl.h>
#include <sys/stat.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

class TavrolinProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        executable_ = qEnvironmentVariable("TAVROLIN_BUILD_DIR") + QStringLiteral("/src/app/tavrolin");
        ASSERT_TRUE(QFile::exists(executable_)) << executable_.toStdString();
        for (const char* folder : {"data", "state", "runtime"}) {
            QDir().mkpath(home_.filePath(QString::fromLatin1(folder)));
        }
        QFile::setPermissions(home_.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert("XDG_DATA_HOME", home_.filePath("data"));
        environment_.insert("XDG_STATE_HOME", home_.filePath("state"));
        environment_.insert("XDG_RUNTIME_DIR", home_.filePath("runtime"));
        environment_.insert("TAVROLIN_LOG_BACKEND", "file");
        // Usage events at launch go to a closed local port, never off the machine.
        environment_.insert("TAVROLIN_TELEMETRY_ENDPOINT", "http://127.0.0.1:9/api/events");
    }

    void TearDown() override {
        for (auto& process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    // QProcess forgets the id once the process ended: keep it.
    qint64 pid(QProcess* process) const { return pids_.at(process); }

    QProcess* start() {
        processes_.push_back(std::make_unique<QProcess>());
        QProcess* process = processes_.back().get();
        process->setProcessEnvironment(environment_);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(executable_, {});
        EXPECT_TRUE(process->waitForStarted(5000));
        pids_[process] = process->processId();
        return process;
    }

    QString lockFile() const { return home_.filePath("data/Tavrolin/single-instance.lock"); }
    QByteArray lockContents() const {
        QFile file(lockFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList logLines() const {
        QFile file(home_.filePath("state/tavrolin/tavrolin.log"));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
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
    // Visible windows of the process (the tray icon is its only one).
    QStringList visibleWindows(qint64 pid) const {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--class", "Tavrolin"});
        search.waitForFinished(5000);
        return QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    bool waitUntilRunning(QProcess* process) {
        const QByteArray expected = QByteArray::number(process->processId()) + '\n';
        return test::waitUntil(
            [&] { return lockContents() == expected && logged(process->processId(), "launch version=0.1.0"); }, 10s);
    }

    QTemporaryDir home_;
    QString executable_;
    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    std::map<QProcess*, qint64> pids_;
};

TEST_F(TavrolinProcessTest, OneInstanceWithTrayIconAndActivationOfTheRunningOne) {
    QProcess* first = start();
    ASSERT_TRUE(waitUntilRunning(first)) << lockContents().toStdString() << logLines().join('\n').toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return !visibleWindows(pid(first)).isEmpty(); }, 10s))
        << "no tray icon was shown";

    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(logged(pid(second), "another instance is already running; activating existing app"));
    EXPECT_FALSE(logged(pid(second), "launch version=0.1.0"));
    EXPECT_TRUE(test::waitUntil([&] { return logged(first->processId(), "activation requested by another launch"); }));
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(lockContents(), QByteArray::number(first->processId()) + '\n');

    // A killed instance leaves its file and socket behind; the next start takes over.
    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(5000));
    QProcess* third = start();
    ASSERT_TRUE(waitUntilRunning(third));
    QProcess* fourth = start();
    ASSERT_TRUE(fourth->waitForFinished(10000));
    EXPECT_EQ(fourth->exitCode(), 0);
    EXPECT_TRUE(test::waitUntil([&] { return logged(third->processId(), "activation requested by another launch"); }));

    // SIGTERM (a logout) ends it like "Quit": a normal exit that takes its socket along.
    third->terminate();
    ASSERT_TRUE(third->waitForFinished(10000));
    EXPECT_EQ(third->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_FALSE(QFile::exists(home_.filePath("runtime/org.tavrolin.Tavrolin.activate")));
}

TEST_F(TavrolinProcessTest, ALockFailureOtherThanAnotherInstanceEndsWithAnErrorStatus) {
    QFile blocker(home_.filePath("data-is-a-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    environment_.insert("XDG_DATA_HOME", home_.filePath("data-is-a-file"));
    QProcess* process = start();
    ASSERT_TRUE(process->waitForFinished(10000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 1);
    EXPECT_TRUE(logged(
        pid(process),
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
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        environment_.remove(name);
    }
    environment_.insert("HOME", home);

    QProcess process;
    process.setProcessEnvironment(environment_);
    process.setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        test::obeyFilePermissionsAfterExec();
    });
    process.start(executable_, {});
    ASSERT_TRUE(process.waitForStarted(5000));
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("Could not create the lock directory at %1/.local/share/Tavrolin: "
                                               "Permission denied")
                                    .arg(home)))
        << errors.toStdString();
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    ::chmod(QFile::encodeName(home).constData(), 0700);
}

}  // namespace
}  // namespace tavrolin
