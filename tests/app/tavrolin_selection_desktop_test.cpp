// Translate on a selection with the real executable under the desktop session: the selection
// made in the foreign test application, Translate pressed through XTest (or picked from the
// tray menu), Apertium on this machine, and the result popup read through its accessible
// labels and its window's place on screen.
#include "app/terminal_job.h"
#include "app/x11_window_tools.h"
#include "support/apps/text_fields_app.h"
#include "support/session/accessible_texts.h"
#include "support/test_browser.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QRect>
#include <QRegularExpression>

#include <algorithm>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::runTool(program, arguments);
}
using test::windowGeometry;

const QString paragraphs = QStringLiteral(
    "The weather is very nice today.\n\nWe are going to the park with the children.\n\n- apples\n- bread");

class TavrolinSelectionDesktopTest : public test::TavrolinProgramTest {
protected:
    TavrolinSelectionDesktopTest() { killAtEnd_ = true; }
    void TearDown() override {
        app_.reset();
        TavrolinProgramTest::TearDown();
    }

    // Offline, so only this machine translates.
    void writeSettings(AppLanguage native, AppLanguage second, bool selectionButtons = false) {
        writeProgramSettings([&](AppSettings& settings) {
            settings.onlineFeaturesEnabled = false;
            settings.targetLanguage = native;
            settings.messageTargetLanguage = second;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = selectionButtons;
            settings.overlayMinimumDisplayDuration = 1.5;
        });
    }

    // Starts the program and the test application with `text` in its text box, selected from
    // `start` to `end` (all of it by default), focused and in front.
    void start(const QString& text, int start = 0, int end = -1) {
        ASSERT_NO_FATAL_FAILURE(startProgram());
        app_ = std::make_unique<test::TextFieldsApp>();
        ASSERT_TRUE(app_->isReady());
        ASSERT_TRUE(app_->setText("text", text));
        ASSERT_TRUE(app_->focus("text"));
        ASSERT_TRUE(app_->select("text", start, end < 0 ? int(text.size()) : end));
        ASSERT_TRUE(test::waitUntil([&] {
            return run("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(app_->pid());
        })) << "test application not in front";
    }

    void startProgram() {
        ASSERT_NO_FATAL_FAILURE(TavrolinProgramTest::startProgram(programEnvironment()));
        ASSERT_TRUE(test::waitUntil([&] { return log().contains("launch version="); }, 15s)) << log().toStdString();
        ASSERT_TRUE(test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s)) << "no tray icon";
        trayIcons_ = programWindows();
        pause(300ms);
    }

    static void pause(std::chrono::milliseconds duration) {
        QElapsedTimer timer;
        timer.start();
        test::waitUntil([&] { return timer.elapsed() >= duration.count(); }, duration + 1s);
    }
    static void pressTranslate() { run("xdotool", {"key", "--clearmodifiers", "ctrl+shift+t"}); }

    bool logged(const QString& fragment, std::chrono::milliseconds limit = 20s) const {
        return test::waitUntil([&] { return log().contains(fragment); }, limit);
    }
    // How the Translate Selection run started by `trigger` ended: the languages, success and
    // error of its usage-event line; empty before it ended.
    QString outcomeOf(const QString& trigger) const {
        static const QRegularExpression eventLine(
            QStringLiteral("event action=translate_selection trigger=(\\w+) .*?(source=\\S+ target=\\S+ "
                           "success=\\S+ error=\\S+)"));
        QRegularExpressionMatchIterator lines = eventLine.globalMatch(log());
        while (lines.hasNext()) {
            const QRegularExpressionMatch line = lines.next();
            if (line.captured(1) == trigger) {
                return line.captured(2);
            }
        }
        return {};
    }
    // Our visible windows other than the tray icon.
    QStringList shownWindows() const {
        QStringList shown = programWindows();
        for (const QString& icon : trayIcons_) {
            shown.removeAll(icon);
        }
        return shown;
    }
    bool popupShown(std::chrono::milliseconds limit = 20s) const {
        return test::waitUntil([&] { return !shownWindows().isEmpty(); }, limit);
    }
    bool popupGone(std::chrono::milliseconds limit) const {
        return test::waitUntil([&] { return shownWindows().isEmpty(); }, limit);
    }
    // The test application's window with its frame, as the window list gives it.
    QRect testWindow() const {
        const QString window = run("xdotool", {"getactivewindow"});
        QRect rect = windowGeometry(window);
        const QStringList extents =
            run("xprop", {"-id", window, "_NET_FRAME_EXTENTS"}).section('=', 1).split(',', Qt::SkipEmptyParts);
        if (extents.size() == 4) {
            rect.adjust(-extents[0].trimmed().toInt(), -extents[2].trimmed().toInt(), extents[1].trimmed().toInt(),
                        extents[3].trimmed().toInt());
        }
        return rect;
    }

    QStringList trayIcons_;
    std::unique_ptr<test::TextFieldsApp> app_;
};

// Translate over a terminal running a job, in each terminal of the list: nothing may reach the
// job, selected or not.
class TavrolinTerminalDesktopTest : public TavrolinSelectionDesktopTest,
                                    public ::testing::WithParamInterface<test::TerminalJob::Kind> {
protected:
    void TearDown() override {
        terminal_.reset();
        TavrolinSelectionDesktopTest::TearDown();
    }
    void startTerminal() {
        terminal_ = std::make_unique<test::TerminalJob>(GetParam());
        ASSERT_TRUE(terminal_->isReady()) << test::TerminalJob::name(GetParam()) << " not in front with its job";
        terminal = terminal_->window();
    }
    bool doubleClickHouse() { return terminal_->doubleClickHouse(); }
    bool jobAlive() const { return terminal_->jobAlive(); }

    std::unique_ptr<test::TerminalJob> terminal_;
    QString terminal;
};

TEST_P(TavrolinTerminalDesktopTest, WithoutASelectionTheTerminalIsTranslatedAndItsJobRuns) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    startProgram();
    startTerminal();
    // A word selected once and cleared by a click: the terminal still owns it, yet it is no
    // selection.
    ASSERT_TRUE(doubleClickHouse());
    run("xdotool", {"mousemove", "--window", terminal, "200", "100", "click", "1"});
    pause(200ms);
    const QRect terminalFrame = windowGeometry(terminal);
    pressTranslate();
    ASSERT_TRUE(logged("event action=capture_and_translate_active_window")) << log().toStdString();
    EXPECT_TRUE(log().contains("decision=selection_not_found detail=attempts=1")) << log().toStdString();
    const QStringList shown = shownWindows();
    ASSERT_EQ(shown.size(), 1);
    const QRect overlay = windowGeometry(shown.first());
    EXPECT_TRUE(overlay.contains(terminalFrame))
        << "the overlay " << overlay.x() << "," << overlay.y() << " " << overlay.width() << "x" << overlay.height()
        << " covers the terminal " << terminalFrame.x() << "," << terminalFrame.y() << " " << terminalFrame.width()
        << "x" << terminalFrame.height();
    EXPECT_TRUE(jobAlive()) << "the job in the terminal was interrupted";
}

TEST_P(TavrolinTerminalDesktopTest, AWordSelectedInTheTerminalIsTranslatedAndItsJobRuns) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    startProgram();
    startTerminal();
    ASSERT_TRUE(doubleClickHouse()) << "the terminal did not select the word";
    pressTranslate();
    if (!test::TerminalJob::datesItsSelection(GetParam())) {
        // A selection that might be stale is none: the window is translated instead.
        ASSERT_TRUE(logged("event action=capture_and_translate_active_window")) << log().toStdString();
        EXPECT_TRUE(log().contains("decision=selection_not_found detail=attempts=1")) << log().toStdString();
        EXPECT_TRUE(jobAlive()) << "the job in the terminal was interrupted";
        return;
    }
    ASSERT_TRUE(popupShown()) << log().toStdString();
    EXPECT_TRUE(log().contains("decision=selection_found detail=attempts=1")) << log().toStdString();
    QStringList texts;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            texts = test::accessibleTexts(pid_);
            return texts.contains(QStringLiteral("casa"), Qt::CaseInsensitive);
        },
        10s))
        << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("house")));
    EXPECT_TRUE(jobAlive()) << "the job in the terminal was interrupted";
}

INSTANTIATE_TEST_SUITE_P(Terminals, TavrolinTerminalDesktopTest, ::testing::ValuesIn(test::TerminalJob::kinds),
                         [](const ::testing::TestParamInfo<test::TerminalJob::Kind>& info) {
                             return test::TerminalJob::name(info.param);
                         });

// Text selected on a web page (not in a field), in each browser: the page's document reports
// no selection of its own; the browser's PRIMARY selection holds it.
class TavrolinBrowserDesktopTest : public TavrolinSelectionDesktopTest,
                                   public ::testing::WithParamInterface<test::TestBrowser::Kind> {
protected:
    void SetUp() override {
        if (!test::TestBrowser::program(GetParam())) {
            GTEST_SKIP() << test::TestBrowser::name(GetParam()) << " is not installed (make test installs it)";
        }
        TavrolinSelectionDesktopTest::SetUp();
    }
    void TearDown() override {
        browser_.reset();
        TavrolinSelectionDesktopTest::TearDown();
    }

    // The browser in front with its test page.
    void startBrowser() {
        browser_ = std::make_unique<test::TestBrowser>(GetParam());
        ASSERT_TRUE(browser_->isReady()) << browser_->error().toStdString();
        pause(1500ms);
    }
    // One paragraph of the page text (the window's lower half) selected. Firefox: by dragging
    // over its line from the page's left margin to the window's right edge, since a loaded
    // Firefox takes a triple click for a double click now and then, leaving one word selected.
    // Chromium starts no selection from a press that close to its window's edge: a triple click.
    void selectParagraph() {
        const QRect window = windowGeometry(browser_->window());
        const QString y = QString::number(window.bottom() - 120);
        if (GetParam() == test::TestBrowser::Kind::chromium) {
            run("xdotool",
                {"mousemove", QString::number(window.center().x()), y, "click", "--repeat", "3", "--delay", "80", "1"});
            return;
        }
        run("xdotool", {"mousemove", QString::number(window.left() + 3), y, "mousedown", "1", "mousemove",
                        QString::number(window.center().x()), y, "mousemove", QString::number(window.right() - 20), y,
                        "mouseup", "1"});
    }

    std::unique_ptr<test::TestBrowser> browser_;
};

TEST_P(TavrolinBrowserDesktopTest, SelectedPageTextOffersTheButtonsAndTranslateTranslatesIt) {
    writeSettings(AppLanguage::spanish, AppLanguage::english, true);
    startProgram();
    ASSERT_NO_FATAL_FAILURE(startBrowser());
    selectParagraph();
    // The floating buttons: translate, for English text on a Spanish speaker's page.
    ASSERT_TRUE(test::waitUntil([&] { return test::accessibleTexts(pid_).contains("Translate"); }, 10s))
        << log().toStdString();

    pressTranslate();
    // Found at the first look or a later one: a browser busy in its main thread answers late.
    ASSERT_TRUE(logged("decision=selection_found")) << log().toStdString();
    QStringList texts;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            texts = test::accessibleTexts(pid_);
            return std::any_of(texts.begin(), texts.end(), [](const QString& t) { return t.contains("parque"); });
        },
        20s))
        << texts.join('|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Browsers, TavrolinBrowserDesktopTest,
                         ::testing::Values(test::TestBrowser::Kind::firefox, test::TestBrowser::Kind::chromium),
                         [](const ::testing::TestParamInfo<test::TestBrowser::Kind>& info) {
                             return info.param == test::TestBrowser::Kind::chromium ? "Chromium" : "Firefox";
                         });

TEST_F(TavrolinSelectionDesktopTest, ASelectionIsTranslatedIntoAPopupOverItsWindowAndAKeyClosesIt) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    start(paragraphs);
    const QRect window = testWindow();
    pressTranslate();
    ASSERT_TRUE(popupShown()) << log().toStdString();
    EXPECT_TRUE(log().contains("decision=selection_found detail=attempts=1")) << log().toStdString();

    QStringList texts;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            texts = test::accessibleTexts(pid_);
            return texts.contains(QStringLiteral(u"English \u2192 Spanish"));
        },
        10s))
        << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains(paragraphs)) << "the original below the translation";
    const QStringList shown = shownWindows();
    ASSERT_EQ(shown.size(), 1) << "the loading card is gone";
    const QString appPid = QString::number(app_->pid());
    EXPECT_EQ(run("xdotool", {"getactivewindow", "getwindowpid"}), appPid) << "the popup took the focus";
    const QRect popup = windowGeometry(shown.first());
    EXPECT_NEAR(popup.center().x(), window.center().x(), 2) << popup.x() << "," << popup.y();
    EXPECT_NEAR(popup.center().y(), window.center().y(), 2) << popup.x() << "," << popup.y();
    QString translated;
    for (const QString& text : texts) {
        if (text.contains(QStringLiteral("- ")) && text != paragraphs) {
            translated = text;
        }
    }
    const QStringList blocks = translated.split(QStringLiteral("\n\n"));
    ASSERT_EQ(blocks.size(), 3) << translated.toStdString();
    EXPECT_FALSE(blocks[0].contains('\n'));
    EXPECT_TRUE(blocks[1].contains(QStringLiteral("parque"))) << translated.toStdString();
    const QStringList items = blocks[2].split('\n');
    ASSERT_EQ(items.size(), 2) << translated.toStdString();
    EXPECT_TRUE(items[0].startsWith(QStringLiteral("- ")) && items[1].startsWith(QStringLiteral("- ")));

    // A key after the minimum time closes the popup and never reaches the field.
    pause(1600ms);
    run("xdotool", {"key", "x"});
    EXPECT_TRUE(popupGone(5s));
    pause(300ms);
    EXPECT_EQ(app_->text("text"), paragraphs);
    EXPECT_EQ(run("xdotool", {"getactivewindow", "getwindowpid"}), appPid);
}

TEST_F(TavrolinSelectionDesktopTest, WithoutASelectionTheFrontWindowIsTranslated) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    start(QStringLiteral("Nothing selected in here."), 3, 3);
    pressTranslate();
    ASSERT_TRUE(logged("decision=fallback_capture")) << log().toStdString();
    EXPECT_TRUE(log().contains("decision=selection_not_found detail=attempts=3"));
    EXPECT_LT(log().indexOf("decision=selection_not_found"), log().indexOf("decision=fallback_capture"));
    EXPECT_TRUE(popupShown()) << "the overlay comes up";
}

TEST_F(TavrolinSelectionDesktopTest, ABlankSelectionShowsANoticeThatGoesByItself) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    start(QStringLiteral("   \n\t  \n "));
    pressTranslate();
    ASSERT_TRUE(popupShown()) << log().toStdString();
    QElapsedTimer shown;
    shown.start();
    EXPECT_TRUE(test::accessibleTexts(pid_).contains(QStringLiteral("Nothing selected")));
    ASSERT_TRUE(popupGone(4s));
    EXPECT_GT(shown.elapsed(), 900);
    EXPECT_TRUE(log().contains("event action=translate_selection")) << log().toStdString();
    EXPECT_TRUE(log().contains("error=no_text_selected"));
}

TEST_F(TavrolinSelectionDesktopTest, AnOverlongSelectionIsRefused) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    start(QString(5001, QLatin1Char('a')));
    pressTranslate();
    EXPECT_TRUE(test::waitUntil([&] { return test::accessibleTexts(pid_).contains("Selection Too Long"); }, 20s))
        << log().toStdString();
}

TEST_F(TavrolinSelectionDesktopTest, AMissingPairAsksForItsLanguagesAndTryAgainRunsAnew) {
    writeSettings(AppLanguage::portuguese, AppLanguage::english);
    start(QStringLiteral("Me gustaría verte mañana en la estación de tren."));
    pressTranslate();
    ASSERT_TRUE(
        test::waitUntil([&] { return test::accessibleTexts(pid_).contains("Install Translation Languages"); }, 20s))
        << log().toStdString();
    const QString first = outcomeOf(QStringLiteral("hotkey"));
    ASSERT_TRUE(first.contains(QStringLiteral("success=false error="))) << log().toStdString();
    ASSERT_TRUE(test::pressAccessible(pid_, QStringLiteral("Try Again")));
    // The second run reads the selection again and ends as the first did, with an outcome of its
    // own and the alert once more.
    EXPECT_TRUE(logged("workflow start action=translate_selection trigger=alert")) << log().toStdString();
    ASSERT_TRUE(logged("event action=translate_selection trigger=alert")) << log().toStdString();
    EXPECT_EQ(outcomeOf(QStringLiteral("alert")).toStdString(), first.toStdString()) << log().toStdString();
    EXPECT_TRUE(
        test::waitUntil([&] { return test::accessibleTexts(pid_).contains("Install Translation Languages"); }, 10s))
        << log().toStdString();
}

TEST_F(TavrolinSelectionDesktopTest, TranslateFromTheTrayMenuTakesTheSelectionToo) {
    writeSettings(AppLanguage::spanish, AppLanguage::english);
    start(paragraphs);
    run("xdotool", {"mousemove", "--window", trayIcons_.first(), "5", "5"});
    run("xdotool", {"click", "3"});
    ASSERT_TRUE(popupShown(5s)) << "no menu";
    run("xdotool", {"key", "Down"});
    run("xdotool", {"key", "Return"});
    EXPECT_TRUE(logged("trigger=menu decision=selection_found")) << log().toStdString();
    EXPECT_TRUE(test::waitUntil(
        [&] { return test::accessibleTexts(pid_).contains(QStringLiteral(u"English \u2192 Spanish")); }, 20s));
}

}  // namespace
}  // namespace tavrolin
