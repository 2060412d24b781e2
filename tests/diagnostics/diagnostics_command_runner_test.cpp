#include "diagnostics/diagnostics_command_runner.h"

#include "diagnostics/diagnostics_export_error.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

class ProcessRunnerTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    DiagnosticsCommandResult sh(const QString& script, std::optional<QString> output,
                                DiagnosticsCommandLimits limits = {}) {
        return runner.run("/bin/sh", {"-c", script, "sh"}, output, limits);
    }
    static QByteArray read(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir;
    ProcessDiagnosticsCommandRunner runner;
};

TEST_F(ProcessRunnerTest, OutputGoesToTheFileAndArgumentsArriveVerbatim) {
    // Characters a shell would interpret must arrive untouched: no shell is in between.
    const QStringList arguments{
        "-c", R"(for a in "$@"; do printf '[%s]\n' "$a"; done)", "sh", "two words", "$HOME", "a;b", "*", ""};
    const auto result = runner.run("/bin/sh", arguments, path("out.txt"), {});
    const QByteArray expected = "[two words]\n[$HOME]\n[a;b]\n[*]\n[]\n";
    EXPECT_EQ(read(path("out.txt")), expected);
    EXPECT_EQ(result.outputBytes, expected.size());
    EXPECT_FALSE(result.outputTruncated);
}

TEST_F(ProcessRunnerTest, ExistingOutputFileIsEmptiedFirst) {
    QFile f(path("out.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(10000, 'x'));
    f.close();
    sh("printf new", path("out.txt"));
    EXPECT_EQ(read(path("out.txt")), "new");
}

TEST_F(ProcessRunnerTest, NonZeroStatusCarriesTrimmedStandardError) {
    struct Case {
        QString script;
        int status;
        QString suggestion;
    };
    const Case cases[] = {
        {"printf '  bad predicate\\n\\n' >&2; exit 64", 64, "bad predicate"},
        {"exit 3", 3, "Try exporting diagnostics again."},
        {"printf '\\377\\376' >&2; exit 2", 2, "Try exporting diagnostics again."},  // not UTF-8
        {"echo 'warning only' >&2; exit 0", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script.toStdString());
        try {
            sh(c.script, path("out.txt"));
            EXPECT_EQ(c.status, 0) << "no error thrown";
        } catch (const DiagnosticsExportError& error) {
            EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandFailed);
            EXPECT_EQ(error.description(), QString("/bin/sh failed with exit code %1.").arg(c.status));
            EXPECT_EQ(error.status(), c.status);
            EXPECT_EQ(error.recoverySuggestion(), c.suggestion);
        }
    }
}

TEST_F(ProcessRunnerTest, StandardErrorBeyondAPipeDoesNotStall) {
    // 1 MB on standard error before exiting: a runner that only read it after the exit would
    // wait forever on a full pipe.
    DiagnosticsCommandLimits limits;
    limits.timeout = 20s;
    QElapsedTimer timer;
    timer.start();
    try {
        sh("head -c 1048576 /dev/zero | tr '\\0' e >&2; exit 5", std::nullopt, limits);
        FAIL() << "expected a failure";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandFailed);
        EXPECT_EQ(error.status(), 5);
        EXPECT_EQ(error.standardError().size(), limits.maximumErrorBytes);
    }
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST_F(ProcessRunnerTest, EndlessOutputIsCutAtTheCap) {
    DiagnosticsCommandLimits limits;
    limits.maximumOutputBytes = 300000;
    limits.timeout = 20s;
    const auto result = sh("yes 'a chatty line'", path("out.txt"), limits);
    EXPECT_TRUE(result.outputTruncated);
    EXPECT_EQ(result.outputBytes, limits.maximumOutputBytes);
    EXPECT_EQ(QFileInfo(path("out.txt")).size(), limits.maximumOutputBytes);
}

TEST_F(ProcessRunnerTest, HangingToolIsStoppedAtTheTimeOut) {
    DiagnosticsCommandLimits limits;
    limits.timeout = 300ms;
    QElapsedTimer timer;
    timer.start();
    // The child keeps the pipes open too: the whole group must go.
    EXPECT_THROW(
        {
            try {
                sh("sleep 30 & sleep 30", path("out.txt"), limits);
            } catch (const DiagnosticsExportError& error) {
                EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandTimedOut);
                throw;
            }
        },
        DiagnosticsExportError);
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST_F(ProcessRunnerTest, AToolThatClosesItsOutputAndKeepsRunningIsStoppedAtTheTimeOut) {
    DiagnosticsCommandLimits limits;
    limits.timeout = 300ms;
    QElapsedTimer timer;
    timer.start();
    try {
        sh("exec >/dev/null 2>&1; sleep 30", path("out.txt"), limits);
        ADD_FAILURE() << "no error";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandTimedOut);
    }
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST_F(ProcessRunnerTest, ADeathBySignalIsReportedAsSuch) {
    try {
        sh("printf 'going down\\n' >&2; kill -TERM $$", path("out.txt"));
        ADD_FAILURE() << "no error";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandKilled);
        EXPECT_EQ(error.signalNumber(), SIGTERM);
        EXPECT_EQ(error.description(), QStringLiteral("/bin/sh was ended by signal %1 (Terminated).").arg(SIGTERM));
        EXPECT_FALSE(error.description().contains("exit code"));
        EXPECT_EQ(error.recoverySuggestion(), "going down");
    }
}

TEST_F(ProcessRunnerTest, LaunchAndOutputFileFailures) {
    try {
        runner.run(path("no-such-tool"), {}, path("out.txt"), {});
        FAIL() << "a missing tool ran";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandNotStarted);
    }
    // An output file that cannot be created stops the run before anything starts.
    try {
        sh("touch " + path("ran"), path("missing-folder/out.txt"));
        FAIL() << "ran without an output file";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::fileOperationFailed);
    }
    EXPECT_FALSE(QFile::exists(path("ran")));
}

}  // namespace
}  // namespace tavrolin
