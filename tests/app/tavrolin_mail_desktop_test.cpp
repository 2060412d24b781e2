// Write Message in a mail program's field (Thunderbird, Gecko like Firefox): the first start's
// account setup, the one field a user without an account meets, with another accessibility client
// reading the program's objects beside the program. Offline: Apertium between English and Spanish.
#include "app/accessible_reader_process.h"
#include "support/async.h"
#include "support/session/accessible_texts.h"
#include "tavrolin_program_test.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <optional>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

// The text of the entry named `name` of process `pid`; absent while none shows.
std::optional<QString> entryText(qint64 pid, const QString& name) {
    std::optional<QString> found;
    test::accessible_detail::walkProcess(pid, [&](AtspiAccessible* node) {
        if (atspi_accessible_get_role(node, nullptr) != ATSPI_ROLE_ENTRY ||
            test::accessible_detail::nameOf(node) != name) {
            return false;
        }
        found = test::accessible_detail::textOf(node);
        return true;
    });
    return found;
}

class TavrolinMailDesktopTest : public test::TavrolinProgramTest {
protected:
    void TearDown() override {
        if (mail_.state() != QProcess::NotRunning) {
            mail_.kill();
            mail_.waitForFinished(5000);
        }
        TavrolinProgramTest::TearDown();
    }

    QProcess mail_;
};

// The account setup's name field, while another client reads the program's objects every 100 ms
// (as a screen reader does): each Write lands in the field, and the run says it succeeded.
TEST_F(TavrolinMailDesktopTest, TheAccountSetupFieldTakesWriteWhileAnotherClientReadsTheProgram) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("thunderbird"));
    if (program.isEmpty()) {
        GTEST_SKIP() << "thunderbird is not installed (make test installs it)";
    }
    writeOfflineSettings();
    killAtEnd_ = true;
    startProgram(programEnvironment());
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(test::waitUntil([&] { return log().contains("launch version="); }, 15s)) << log().toStdString();

    QTemporaryDir profile;
    ASSERT_TRUE(profile.isValid());
    {
        QFile prefs(profile.filePath("user.js"));
        ASSERT_TRUE(prefs.open(QIODevice::WriteOnly));
        prefs.write(
            "user_pref(\"app.update.auto\", false);\n"
            "user_pref(\"mail.shell.checkDefaultClient\", false);\n"
            "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
            "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n");
    }
    mail_.setProcessChannelMode(QProcess::MergedChannels);
    mail_.setStandardOutputFile(profile.filePath("mail.log"));
    mail_.start(program, {"--no-remote", "-profile", profile.path()});
    ASSERT_TRUE(mail_.waitForStarted(5000));
    const QString field = QStringLiteral("Full name*");
    const qint64 pid = mail_.processId();
    // A first start builds the profile.
    ASSERT_TRUE(test::waitUntil([&] { return entryText(pid, field).has_value(); }, 60s)) << "no account setup";
    QString window;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            window = run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)}).section('\n', 0, 0);
            return !window.isEmpty();
        },
        10s));
    run("xdotool", {"windowactivate", "--sync", window});
    describeFieldsWith([pid, field] { return field + ": " + entryText(pid, field).value_or("?"); });

    test::AccessibleReaderProcess reader(pid);
    ASSERT_TRUE(reader.isReading()) << "the reader read nothing";
    struct Step {
        const char* sentence;
        const char* word;
    };
    // Once our shortcut's keys are up the program announces a panel of a window it never shows
    // focused, after its field: each run, not only the first.
    for (const Step& step :
         {Step{"I have a red car", "coche"}, Step{"The house is big", "casa"}, Step{"The cat is black", "gato"}}) {
        run("xdotool", {"key", "ctrl+a", "BackSpace"});
        run("xdotool", {"type", "--delay", "20", QLatin1String(step.sentence)});
        ASSERT_TRUE(test::waitUntil([&] { return entryText(pid, field) == QLatin1String(step.sentence); }, 10s))
            << entryText(pid, field).value_or("?").toStdString();
        ASSERT_NO_FATAL_FAILURE(expectWriteLands(
            step.sentence, [&] { return entryText(pid, field).value_or("?"); }, step.word, window));
    }
    // The program shows no table: every object is read on the way, each time. A loaded machine
    // slows the reader's walks, not their number below one a Write.
    EXPECT_GE(reader.readingsOnTheWay(10), 3)
        << "the other client read the program too seldom: " << reader.readings().join(", ").toStdString();
}

}  // namespace
}  // namespace tavrolin
