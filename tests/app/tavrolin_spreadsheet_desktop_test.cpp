// The field commands of the real executable in a LibreOffice Calc cell being edited. Calc shows
// the cell's text in an editor while the user edits it, and stores what that editor holds when
// the edit ends (Return); accessibility can change the editor's text without the cell ever
// getting it. Offline: Apertium between English and Spanish.
#include "support/async.h"
#include "support/session/accessible_texts.h"
#include "support/session/program_output.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

void pause(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    test::waitUntil([&] { return timer.elapsed() >= duration.count(); }, duration + 1s);
}

// The text of the first cell (A1) of the first sheet table that process `pid` shows; absent when
// none shows.
std::optional<QString> firstCellText(qint64 pid) {
    std::optional<QString> found;
    test::accessible_detail::walkProcess(pid, [&found](AtspiAccessible* node) {
        if (atspi_accessible_get_role(node, nullptr) != ATSPI_ROLE_TABLE) {
            return false;
        }
        AtspiTable* table = atspi_accessible_get_table_iface(node);
        if (!table) {
            return false;
        }
        AtspiAccessible* cell = atspi_table_get_accessible_at(table, 0, 0, nullptr);
        g_object_unref(table);
        if (!cell) {
            return false;
        }
        if (AtspiText* text = atspi_accessible_get_text_iface(cell)) {
            const gint count = atspi_text_get_character_count(text, nullptr);
            if (gchar* raw = atspi_text_get_text(text, 0, std::max(count, 0), nullptr)) {
                found = QString::fromUtf8(raw);
                g_free(raw);
            }
            g_object_unref(text);
        }
        g_object_unref(cell);
        return found.has_value();
    });
    return found;
}

class TavrolinSpreadsheetDesktopTest : public test::TavrolinProgramTest {
protected:
    void TearDown() override {
        if (calc_.state() != QProcess::NotRunning) {
            // The office's own process runs below its launcher: ended through its window.
            if (!calcPid_.isEmpty()) {
                run("kill", {"-9", calcPid_});
            }
            calc_.kill();
            calc_.waitForFinished(5000);
        }
        TavrolinProgramTest::TearDown();
    }

    // The program offline (native English, messages in Spanish), then Calc in front with a new
    // sheet.
    void start() {
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = false;
            settings.targetLanguage = AppLanguage::english;
            settings.messageTargetLanguage = AppLanguage::spanish;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
        });
        killAtEnd_ = true;
        startProgram(programEnvironment());
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::waitUntil([&] { return log().contains("launch version="); }, 15s)) << log().toStdString();
        ASSERT_TRUE(test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s)) << "no tray icon";
        // The session's first synthetic key makes the X server announce a new keyboard, and the
        // program then grabs its shortcuts again: here, not while a command's shortcut is down.
        run("xdotool", {"key", "shift"});
        test::waitUntil([&] { return log().contains("grabbed again after a keyboard change"); }, 2s);

        const QString program = QStandardPaths::findExecutable(QStringLiteral("localc"));
        ASSERT_FALSE(program.isEmpty()) << "LibreOffice Calc is not installed (make test installs it)";
        ASSERT_TRUE(profile_.isValid());
        calc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        calc_.start(program,
                    {QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                     QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile_.path()).toString()});
        ASSERT_TRUE(calc_.waitForStarted(5000));
        // A first start builds the office's profile.
        ASSERT_TRUE(test::waitUntil(
            [&] {
                calcWindow_ =
                    run("xdotool", {"search", "--onlyvisible", "--name", "LibreOffice Calc"}).section('\n', 0, 0);
                return !calcWindow_.isEmpty();
            },
            90s))
            << "no Calc window";
        run("xdotool", {"windowactivate", "--sync", calcWindow_});
        calcPid_ = run("xdotool", {"getwindowpid", calcWindow_});
        ASSERT_TRUE(test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) == calcWindow_; }, 10s));
        ASSERT_TRUE(test::waitUntil([&] { return firstCellText(calcPid_.toLongLong()).has_value(); }, 30s))
            << "the sheet shows no cells";
        describeFieldsWith(
            [this] { return QStringLiteral("A1: ") + firstCellText(calcPid_.toLongLong()).value_or("?"); });
    }

    // The run's usage-event line of `action`.
    QString event(const QString& action) const {
        for (const QString& line : logLines()) {
            if (line.contains(QStringLiteral("event action=") + action + ' ')) {
                return line;
            }
        }
        return QString();
    }

    QTemporaryDir profile_;
    QProcess calc_;
    QString calcWindow_;
    QString calcPid_;
};

// Write Message in a cell being edited (F2): once the edit ends with Return the cell holds the
// result, and the run says it succeeded; a run that could not reach the cell says it failed and
// leaves the cell its text.
TEST_F(TavrolinSpreadsheetDesktopTest, ACellBeingEditedKeepsTheResultOfWriteOnceTheEditEnds) {
    ASSERT_NO_FATAL_FAILURE(start());
    const QString original = QStringLiteral("I have a red car");
    run("xdotool", {"type", "--delay", "20", original});
    run("xdotool", {"key", "Return", "Up"});
    ASSERT_TRUE(test::waitUntil([&] { return firstCellText(calcPid_.toLongLong()) == original; }, 10s));
    run("xdotool", {"key", "F2"});
    pause(500ms);
    const QString chord = QStringLiteral("ctrl+shift+w");
    run("xdotool", {"keydown", "--clearmodifiers", chord, "sleep", "0.1", "keyup", chord});
    ASSERT_TRUE(test::waitUntil([&] { return !event("translate_message").isEmpty(); }, 30s)) << log().toStdString();
    const bool succeeded = event("translate_message").contains("success=true");
    if (!succeeded) {
        // The result is offered in our copy window: the cell is given the keyboard back first.
        run("xdotool", {"windowactivate", "--sync", calcWindow_});
    }
    run("xdotool", {"key", "Return"});
    pause(500ms);
    const std::optional<QString> stored = firstCellText(calcPid_.toLongLong());
    ASSERT_TRUE(stored.has_value());
    if (succeeded) {
        EXPECT_TRUE(stored->contains(QStringLiteral("coche")))
            << "logged success, the cell holds: " << stored->toStdString();
    } else {
        EXPECT_EQ(*stored, original);
    }
    // A paste reaches the cell: the run need not fail.
    EXPECT_TRUE(succeeded) << event("translate_message").toStdString();
}

}  // namespace
}  // namespace tavrolin
