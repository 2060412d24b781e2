// The floating buttons with the real executable under the desktop session: selections made in
// the foreign test application with XTest (a drag, a double click, Shift+Right), the row found
// among the program's windows, the buttons pressed with the mouse, and the first-use card's
// flag in the defaults file.
#include "app/x11_window_tools.h"
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/apps/text_fields_app.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/session/tavrolin_process_home.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::runTool(program, arguments);
}
using test::windowGeometry;

void pause(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    test::waitUntil([&] { return timer.elapsed() >= duration.count(); }, duration + 1s);
}

const QString spanish = QStringLiteral("Me gustaría verte mañana en la estación de tren con tus amigos.");

class TavrolinSelectionPopupDesktopTest : public test::TavrolinProgramTest {
protected:
    void SetUp() override {
        server_.server().Post("/api/events",
                              [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
        TavrolinProgramTest::SetUp();
    }

    void TearDown() override {
        app_.reset();
        TavrolinProgramTest::TearDown();
    }

    void writeSettings(bool online) {
        writeProgramSettings([online](AppSettings& settings) {
            settings.onlineFeaturesEnabled = online;
            settings.targetLanguage = AppLanguage::english;
            settings.messageTargetLanguage = AppLanguage::spanish;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = true;
            settings.selectionPopupAutoDismissDelay = 5.0;
            settings.overlayMinimumDisplayDuration = 0.5;
        });
    }

    void startProgram() {
        TavrolinProgramTest::startProgram(programEnvironment());
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::waitUntil([&] { return log().contains("SelectionPopupTrigger started"); }, 15s))
            << log().toStdString();
        ASSERT_TRUE(test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s)) << "no tray icon";
        trayIcons_ = programWindows();
    }

    // The program and the test application with `text` in `field`, focused and in front.
    void start(const QString& field, const QString& text, bool online = false) {
        writeSettings(online);
        startProgram();
        app_ = std::make_unique<test::TextFieldsApp>();
        ASSERT_TRUE(app_->isReady());
        ASSERT_TRUE(app_->setText(field, text));
        ASSERT_TRUE(app_->focus(field));
        ASSERT_TRUE(test::waitUntil([&] { return frontPid() == app_->pid(); })) << "test application not in front";
        pause(300ms);
    }

    static qint64 frontPid() { return run("xdotool", {"getactivewindow", "getwindowpid"}).toLongLong(); }

    QString defaultsFile() const {
        QFile file(home_.defaultsFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Our visible windows other than the tray icon, with their geometry.
    QList<QRect> shown() const {
        QList<QRect> rects;
        for (const QString& window : programWindows()) {
            if (!trayIcons_.contains(window)) {
                rects << windowGeometry(window);
            }
        }
        return rects;
    }
    // The button row: our window 28 high.
    std::optional<QRect> row() const {
        for (const QRect& rect : shown()) {
            if (rect.height() == 28) {
                return rect;
            }
        }
        return std::nullopt;
    }
    bool rowShown(std::chrono::milliseconds limit = 5s) const {
        return test::waitUntil([&] { return row().has_value(); }, limit);
    }
    bool rowGone(std::chrono::milliseconds limit = 5s) const {
        return test::waitUntil([&] { return !row().has_value(); }, limit);
    }

    // Drags across the middle line of a field from x `from` to `to` (field coordinates).
    void drag(const QString& field, int from, int to, int y = 12) {
        const QRect r = app_->rect(field);
        run("xdotool", {"mousemove", QString::number(r.x() + from), QString::number(r.y() + y)});
        run("xdotool", {"mousedown", "1"});
        for (int x = from; x <= to; x += 40) {
            run("xdotool", {"mousemove", QString::number(r.x() + x), QString::number(r.y() + y)});
        }
        run("xdotool", {"mousemove", QString::number(r.x() + to), QString::number(r.y() + y)});
        run("xdotool", {"mouseup", "1"});
    }

    QStringList trayIcons_;
    std::unique_ptr<test::TextFieldsApp> app_;
};

TEST_F(TavrolinSelectionPopupDesktopTest, DraggingOverForeignStaticTextOffersTranslateAboveTheSelection) {
    start("readtext", spanish);
    const QRect field = app_->rect("readtext");
    QElapsedTimer released;
    drag("readtext", 6, 300);
    released.start();
    ASSERT_TRUE(rowShown()) << log().toStdString();
    EXPECT_GE(released.elapsed(), 240);
    const QRect buttons = *row();
    EXPECT_EQ(buttons.size(), QSize(28, 28));
    // Above the selected first line, its right end near where the drag ended.
    EXPECT_LE(buttons.bottom(), field.y() + 12);
    EXPECT_NEAR(buttons.right(), field.x() + 300, 40) << buttons.x() << "," << buttons.y();
    EXPECT_EQ(frontPid(), app_->pid()) << "the program beneath stays active";
    EXPECT_EQ(app_->state("readtext")["selectionEnd"].toInt() - app_->state("readtext")["selectionStart"].toInt() > 0,
              true);

    // The first-use card for other text follows once; its flag is written.
    ASSERT_TRUE(test::waitUntil([&] { return shown().size() >= 2; }, 3s)) << "no first-use card";
    EXPECT_TRUE(test::waitUntil([&] { return defaultsFile().contains("selectionHint.nonEditable.shown.v1"); }, 3s));

    // Escape closes the row (and the card).
    run("xdotool", {"key", "Escape"});
    EXPECT_TRUE(rowGone());
    EXPECT_TRUE(test::waitUntil([&] { return shown().isEmpty(); }, 3s));

    // A new selection: the card does not come back; a click elsewhere closes the row.
    drag("readtext", 6, 200);
    ASSERT_TRUE(rowShown());
    pause(700ms);
    EXPECT_EQ(shown().size(), 1) << "the card came back";
    run("xdotool", {"mousemove", "1000", "700", "click", "1"});
    EXPECT_TRUE(rowGone());

    // After a restart the card stays away too.
    app_.reset();
    stopProgram();
    startProgram();
    app_ = std::make_unique<test::TextFieldsApp>();
    ASSERT_TRUE(app_->setText("readtext", spanish));
    ASSERT_TRUE(app_->focus("readtext"));
    pause(300ms);
    drag("readtext", 6, 300);
    ASSERT_TRUE(rowShown()) << log().toStdString();
    pause(700ms);
    EXPECT_EQ(shown().size(), 1) << "the card came back after a restart";
}

TEST_F(TavrolinSelectionPopupDesktopTest, DoubleClickingAWordInALineOffersFlipAndEditWhileOnline) {
    start("line", QStringLiteral("Hello wonderful world"), true);
    const QRect field = app_->rect("line");
    run("xdotool", {"mousemove", QString::number(field.x() + 60), QString::number(field.center().y())});
    QElapsedTimer clicked;
    run("xdotool", {"click", "--repeat", "2", "--delay", "80", "1"});
    clicked.start();
    ASSERT_TRUE(rowShown()) << log().toStdString();
    // Counted from the end of the tool, a little after its last release: longer than a single
    // click's 250 ms.
    EXPECT_GT(clicked.elapsed(), 300);
    EXPECT_EQ(row()->size(), QSize(60, 28)) << "flip and edit";
    // The delay closes it.
    EXPECT_TRUE(rowGone(8s));
}

TEST_F(TavrolinSelectionPopupDesktopTest, ShiftRightShowsARowTypingAndPasswordsDoNot) {
    start("line", QStringLiteral("Hello wonderful world"));
    ASSERT_TRUE(app_->select("line", 0, 0));
    run("xdotool", {"type", "--delay", "30", "abc"});
    pause(600ms);
    EXPECT_FALSE(row().has_value()) << "typing offers nothing";

    // Shift held down while the arrow goes down and up, as a hand does it.
    run("xdotool", {"key", "Home"});
    run("xdotool", {"keydown", "shift", "key", "--delay", "30", "Right", "Right", "Right", "Right", "keyup", "shift"});
    ASSERT_TRUE(rowShown()) << log().toStdString();
    EXPECT_EQ(row()->size(), QSize(28, 28)) << "flip alone, offline";
    // Another window coming to the front closes the row.
    QProcess other;
    other.start("xmessage", {"-geometry", "+900+600", "other window"});
    ASSERT_TRUE(other.waitForStarted(3000)) << "xmessage (x11-utils)";
    EXPECT_TRUE(rowGone()) << "a window switch closes the row";
    other.kill();
    other.waitForFinished(3000);
    ASSERT_TRUE(app_->focus("line"));
    ASSERT_TRUE(test::waitUntil([&] { return frontPid() == app_->pid(); })) << "test application not in front";

    ASSERT_TRUE(app_->setText("password", QStringLiteral("secret words")));
    ASSERT_TRUE(app_->focus("password"));
    pause(300ms);
    run("xdotool", {"key", "End"});
    run("xdotool", {"keydown", "shift", "key", "--delay", "30", "Left", "Left", "Left", "keyup", "shift"});
    pause(700ms);
    EXPECT_FALSE(row().has_value()) << "a password field gets nothing";
}

TEST_F(TavrolinSelectionPopupDesktopTest, TranslateOpensTheResultWithTheProgramStillActiveAndHoverNamesIt) {
    start("readtext", spanish);
    drag("readtext", 6, 300);
    ASSERT_TRUE(rowShown()) << log().toStdString();
    const QRect buttons = *row();
    run("xdotool", {"mousemove", QString::number(buttons.center().x()), QString::number(buttons.center().y())});
    // The tooltip: one more of our windows above the row.
    EXPECT_TRUE(test::waitUntil(
        [&] {
            for (const QRect& r : shown()) {
                if (r.bottom() < buttons.top() && r.height() < 40) {
                    return true;
                }
            }
            return false;
        },
        3s))
        << "no tooltip";
    run("xdotool", {"click", "1"});
    EXPECT_TRUE(test::waitUntil([&] { return log().contains("trigger=selection_popup"); }, 20s)) << log().toStdString();
    EXPECT_TRUE(rowGone());
    EXPECT_EQ(frontPid(), app_->pid()) << "the test program stays active";
}

TEST_F(TavrolinSelectionPopupDesktopTest, FlipReplacesTheSelectionInTheField) {
    const QString english = QStringLiteral("Good morning my friend");
    start("line", english);
    run("xdotool", {"key", "Home"});
    run("xdotool", {"keydown", "shift", "key", "End", "keyup", "shift"});
    ASSERT_TRUE(rowShown()) << log().toStdString();
    const QRect buttons = *row();
    ASSERT_EQ(buttons.size(), QSize(28, 28)) << "flip alone: English is the native language, and offline";
    run("xdotool",
        {"mousemove", QString::number(buttons.center().x()), QString::number(buttons.center().y()), "click", "1"});
    EXPECT_TRUE(test::waitUntil([&] { return app_->text("line") != english; }, 20s)) << log().toStdString();
    EXPECT_TRUE(log().contains("trigger=selection_popup")) << log().toStdString();
    EXPECT_NE(app_->text("line"), english);
}

}  // namespace
}  // namespace tavrolin
