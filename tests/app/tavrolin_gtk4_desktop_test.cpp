// The field commands of the real executable in GTK 4 entries: our own GTK 4 test program's
// GtkEntry, and the name field of gnome-text-editor's Save As dialog. GTK 4 publishes its widgets
// to accessibility itself, and its entries answer a read of their whole text in a way of their
// own; the commands must read, write and read them back as they do GTK 3's. Offline: Apertium
// between Spanish and English, Hunspell's English dictionary.
#include "app/x11_window_tools.h"
#include "support/apps/text_fields_app.h"
#include "support/async.h"
#include "support/session/accessible_texts.h"
#include "support/session/program_output.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

class TavrolinGtk4DesktopTest : public test::TavrolinProgramTest {
protected:
    void TearDown() override {
        app_.reset();
        if (editor_.state() != QProcess::NotRunning) {
            editor_.kill();
            editor_.waitForFinished(5000);
        }
        TavrolinProgramTest::TearDown();
    }

    // Native Spanish, messages in English, offline; the selection buttons as asked.
    void startProgramOffline(bool selectionButtons = false) {
        writeProgramSettings([selectionButtons](AppSettings& settings) {
            settings.onlineFeaturesEnabled = false;
            settings.targetLanguage = AppLanguage::spanish;
            settings.messageTargetLanguage = AppLanguage::english;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = selectionButtons;
            settings.selectionPopupAutoDismissDelay = 5.0;
        });
        killAtEnd_ = true;
        startProgram(programEnvironment());
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::waitUntil([&] { return log().contains("launch version="); }, 15s)) << log().toStdString();
        ASSERT_TRUE(test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s)) << "no tray icon";
        pause(300ms);
    }

    void startApp() {
        app_ = std::make_unique<test::TextFieldsApp>(QStringLiteral("tavrolin_test_gtk4_text_fields"));
        ASSERT_TRUE(app_->isReady());
        describeFieldsWith([this] { return app_ ? QStringLiteral("line: ") + app_->text("line") : QString(); });
        ASSERT_TRUE(app_->focus("line"));
        ASSERT_TRUE(test::waitUntil([&] { return activeWindowPid() == QString::number(app_->pid()); }))
            << "test application not in front";
    }

    static QString activeWindowPid() { return run("xdotool", {"getactivewindow", "getwindowpid"}); }

    static void pause(std::chrono::milliseconds duration) {
        QElapsedTimer timer;
        timer.start();
        test::waitUntil([&] { return timer.elapsed() >= duration.count(); }, duration + 1s);
    }

    // Control+Shift and the key, held a moment as a person holds them (GTK 4 hands its field
    // the focus back only once the keys are up).
    static void press(const char* key) {
        const QString chord = QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key));
        run("xdotool", {"keydown", "--clearmodifiers", chord, "sleep", "0.1", "keyup", chord});
    }

    // The run's usage-event line of `action`, the `count`-th one (from 1).
    QString event(const QString& action, int count = 1) const {
        int seen = 0;
        for (const QString& line : logLines()) {
            if (line.contains(QStringLiteral("event action=") + action + ' ') && ++seen == count) {
                return line;
            }
        }
        return QString();
    }
    bool waitForEvent(const QString& action, int count = 1) const {
        return test::waitUntil([&] { return !event(action, count).isEmpty(); }, 30s);
    }

    bool lineBecomes(const std::function<bool(const QString&)>& done) {
        return test::waitUntil([&] { return done(app_->text("line")); }, 10s);
    }

    std::unique_ptr<test::TextFieldsApp> app_;
    QProcess editor_;
};

// Write with the whole text selected, Edit with the caret at the end (End pressed), Flip with
// nothing selected: each result replaces the entry's text, is read back (success logged), and
// leaves nothing selected.
TEST_F(TavrolinGtk4DesktopTest, AGtk4EntryTakesTheResultsOfWriteEditAndFlip) {
    startProgramOffline();
    ASSERT_NO_FATAL_FAILURE(startApp());
    ASSERT_TRUE(app_->setText("line", QStringLiteral("Me gustaría verte mañana en la estación.")));
    ASSERT_TRUE(app_->select("line", 0, 40));
    press("w");
    ASSERT_TRUE(waitForEvent("translate_message")) << log().toStdString();
    EXPECT_TRUE(event("translate_message").contains("success=true")) << event("translate_message").toStdString();
    EXPECT_TRUE(lineBecomes([](const QString& text) { return text.contains(QStringLiteral("tomorrow")); }));
    QJsonObject state = app_->state("line");
    EXPECT_EQ(state.value("selectionStart"), state.value("selectionEnd")) << "left selected";
    pause(300ms);

    ASSERT_TRUE(app_->setText("line", QStringLiteral("We cannot accomodate this mesage.")));
    run("xdotool", {"key", "End"});
    press("e");
    ASSERT_TRUE(waitForEvent("edit_text")) << log().toStdString();
    EXPECT_TRUE(event("edit_text").contains("success=true")) << event("edit_text").toStdString();
    EXPECT_TRUE(
        lineBecomes([](const QString& text) { return text == QStringLiteral("We cannot accommodate this message."); }));
    pause(300ms);

    ASSERT_TRUE(app_->setText("line", QStringLiteral("I would like to meet you tomorrow at the station.")));
    press("f");
    ASSERT_TRUE(waitForEvent("flip_language")) << log().toStdString();
    EXPECT_TRUE(event("flip_language").contains("success=true")) << event("flip_language").toStdString();
    EXPECT_TRUE(lineBecomes([](const QString& text) { return text.contains(QStringLiteral("mañana")); }));
    state = app_->state("line");
    EXPECT_EQ(state.value("selectionStart"), state.value("selectionEnd")) << "left selected";
}

// The name field of a real GTK 4 program's Save As dialog takes the results of Write, Edit and
// Flip, each read back.
TEST_F(TavrolinGtk4DesktopTest, TheSaveAsNameOfAGtk4EditorTakesTheResultsOfWriteEditAndFlip) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gnome-text-editor"));
    ASSERT_FALSE(program.isEmpty()) << "gnome-text-editor is not installed (make test installs it)";
    startProgramOffline();
    editor_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    editor_.start(program, {QStringLiteral("--standalone"), QStringLiteral("--ignore-session")});
    ASSERT_TRUE(editor_.waitForStarted(5000));
    const QString editorPid = QString::number(editor_.processId());
    ASSERT_TRUE(test::waitUntil([&] { return activeWindowPid() == editorPid; }, 20s)) << "the editor is not in front";
    pause(500ms);
    const QString mainWindow = run("xdotool", {"getactivewindow"});
    run("xdotool", {"key", "--clearmodifiers", "ctrl+shift+s"});
    ASSERT_TRUE(test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) != mainWindow; }, 10s))
        << "no Save As dialog";
    const auto names = [&] { return test::accessibleTextBoxContents(editor_.processId()); };
    describeFieldsWith([&] { return names().join(" | "); });
    // The field holds a proposed name, selected.
    ASSERT_TRUE(test::waitUntil([&] { return !names().filter(".txt").isEmpty(); }, 10s));
    // Each name typed over the last as a person would, then the command's shortcut.
    const auto command = [&](const QString& name, const char* key, const QString& action, const QString& result) {
        run("xdotool", {"key", "--clearmodifiers", "ctrl+a"});
        run("xdotool", {"type", "--delay", "20", name});
        ASSERT_TRUE(test::waitUntil([&] { return names().contains(name); })) << "the typed name does not show";
        press(key);
        ASSERT_TRUE(waitForEvent(action)) << log().toStdString();
        EXPECT_TRUE(event(action).contains("success=true")) << event(action).toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return names().filter(result).size() == 1; }, 5s)) << result.toStdString();
        pause(300ms);
    };
    command(QStringLiteral("Tengo un coche rojo"), "w", QStringLiteral("translate_message"),
            QStringLiteral("a red car"));
    command(QStringLiteral("We cannot accomodate this mesage"), "e", QStringLiteral("edit_text"),
            QStringLiteral("We cannot accommodate this message"));
    command(QStringLiteral("I would like to meet you tomorrow"), "f", QStringLiteral("flip_language"),
            QStringLiteral("mañana"));
}

// The selection buttons over a GTK 4 entry stand beside it, though GTK 4 gives positions only
// relative to its window.
TEST_F(TavrolinGtk4DesktopTest, TheSelectionButtonsStandBesideASelectionInAGtk4Entry) {
    startProgramOffline(true);
    ASSERT_NO_FATAL_FAILURE(startApp());
    ASSERT_TRUE(app_->setText("line", QStringLiteral("Hello wonderful world")));
    const QStringList ours = programWindows();
    const QJsonObject place = app_->command(QStringLiteral("rect line"));
    const QRect window = test::windowGeometry(run("xdotool", {"getactivewindow"}));
    const QRect field = QRect(place.value("x").toInt(), place.value("y").toInt(), place.value("width").toInt(),
                              place.value("height").toInt())
                            .translated(window.topLeft());
    ASSERT_GT(field.width(), 100) << "the entry tells no place";
    run("xdotool", {"mousemove", QString::number(field.x() + 60), QString::number(field.center().y())});
    run("xdotool", {"click", "--repeat", "2", "--delay", "80", "1"});
    std::optional<QRect> row;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            for (const QString& shown : programWindows()) {
                if (!ours.contains(shown) && test::windowGeometry(shown).height() == 28) {
                    row = test::windowGeometry(shown);
                }
            }
            return row.has_value();
        },
        5s))
        << "no selection buttons" << log().toStdString();
    // Just above the entry, within its width.
    EXPECT_LE(row->bottom(), field.top() + 4) << row->y() << " over an entry at " << field.y();
    EXPECT_GE(row->bottom(), field.top() - 40) << row->y() << " over an entry at " << field.y();
    EXPECT_GE(row->right(), field.left());
    EXPECT_LE(row->left(), field.right());
}

}  // namespace
}  // namespace tavrolin
