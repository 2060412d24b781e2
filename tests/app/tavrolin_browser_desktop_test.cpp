// The field commands of the real executable in the programs people write in: Firefox ESR and
// Chromium (no accessibility flag) on a local page, each started once for its suite; the
// focused field of a program behind the front window left alone; a terminal in front that no
// key may reach; a program stopped in the middle of a paste; a shortcut pressed twice or held;
// text typed while the server thinks; emoji; a rich-text field with a link and a second line.
// The translations come from Apertium on this machine; Edit Message asks the program's local
// server.
#include "app/browser_test_program.h"
#include "app/terminal_job.h"
#include "app/users_clipboard.h"
#include "app/x11_window_tools.h"
#include "support/apps/text_fields_app.h"
#include "support/qt_printers.h"
#include "support/session/accessible_texts.h"
#include "support/session/user_keyboard.h"
#include "support/test_browser.h"
#include "tavrolin_program_test.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <signal.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using browser_desktop::press;
using browser_desktop::Program;
using browser_desktop::tool;
using test::TestBrowser;
using Element = TestBrowser::Element;
using Selection = TestBrowser::Selection;

const QString english = QStringLiteral("I would like to meet you tomorrow at the station.");
const QString spanish = QStringLiteral("Me gustaría verte mañana en la estación.");
const QString misspelt = QStringLiteral("My brothr has a red car and the weathr is nice.");

// Control+Shift and the key, held down for `hold` as a person holds a shortcut.
void pressAndHold(const char* key, std::chrono::milliseconds hold) {
    const QString chord = QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key));
    tool("xdotool", {"keydown", chord, "sleep", QString::number(hold.count() / 1000.0), "keyup", QLatin1String(key),
                     "keyup", "shift+ctrl"});
}

const char* describe(Element element) {
    switch (element) {
    case Element::textarea:
        return "textarea";
    case Element::input:
        return "input";
    case Element::editable:
        break;
    }
    return "contenteditable";
}

// One browser and one program for the whole suite; a failed test prints the page's fields.
template <TestBrowser::Kind kind>
class BrowserFieldsTest : public browser_desktop::BrowserSuite<kind> {
protected:
    using Base = browser_desktop::BrowserSuite<kind>;
    using Base::browser_;
    using Base::program_;

    static void SetUpTestSuite() {
        Base::SetUpTestSuite();
        if (!program_) {
            return;
        }
        program_->describeFieldsWith([] {
            QStringList fields;
            for (const Element element : {Element::textarea, Element::input, Element::editable}) {
                fields << QStringLiteral("%1: %2").arg(QLatin1String(describe(element)),
                                                       browser_->text(element).value_or(QStringLiteral("(no answer)")));
            }
            return fields.join('\n');
        });
    }
    void SetUp() override {
        Base::SetUp();
        if (this->IsSkipped() || this->HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
    }

    // Puts `text` into the element, runs the command and waits for its usage event; answers
    // the element's text once it no longer holds `text` (or the last one seen).
    QString runOn(Element element, const QString& text, Selection selection, const char* key, const QString& action) {
        EXPECT_TRUE(browser_->prepare(element, text, selection)) << describe(element);
        waitUntilAccessible(element, text);
        const int before = program_->events(action);
        press(key);
        EXPECT_TRUE(program_->waitForEvents(action, before + 1)) << program_->log().toStdString();
        const std::optional<QString> now = browser_->waitForText(
            element, [&](const QString& current) { return current != text; }, 5s);
        return now.value_or(QString());
    }

    void waitUntilAccessible(Element element, const QString& text) {
        if (element != Element::editable) {
            Base::waitUntilAccessible(text, describe(element));
        }
    }

    // Write Message and Flip Language on every element, with the caret at the end and nothing
    // selected, and with all of the text selected: the text is replaced, once.
    void replacesEveryField() {
        for (const Element element : {Element::textarea, Element::input, Element::editable}) {
            for (const Selection selection : {Selection::caretAtEnd, Selection::all}) {
                const char* how = selection == Selection::all ? "all selected" : "caret at end";
                const QString written = runOn(element, english, selection, "w", "translate_message");
                EXPECT_EQ(written.count(QStringLiteral("mañana")), 1)
                    << describe(element) << ", " << how << ": " << written.toStdString();
                EXPECT_FALSE(written.contains("tomorrow")) << describe(element) << ", " << how;

                const QString flipped = runOn(element, spanish, selection, "f", "flip_language");
                EXPECT_EQ(flipped.count(QStringLiteral("tomorrow")), 1)
                    << describe(element) << ", " << how << ": " << flipped.toStdString();
                EXPECT_FALSE(flipped.contains(QStringLiteral("mañana"))) << describe(element) << ", " << how;
            }
        }
    }

    // Write, Edit and Flip in turn on each element with the caret at the end and nothing
    // selected, 21 runs per element, the shortcut held for 40 to 340 ms as people hold it: the
    // element then holds the command's result and nothing else, every time. Edit's result is
    // the server's; what Write and Flip make of their text is taken from their first run (which
    // must hold none of the original), and every later run must leave the same.
    void leavesExactlyTheResult(std::initializer_list<Element> elements) {
        struct Command {
            const char* key;
            QString action;
            QString text;
        };
        const Command commands[] = {
            {"w", "translate_message", english}, {"e", "edit_text", misspelt}, {"f", "flip_language", spanish}};
        const std::chrono::milliseconds holds[] = {40ms, 120ms, 200ms, 270ms, 340ms};
        std::map<QString, QString> results{{"edit_text", misspelt + QStringLiteral(" (edited)")}};
        QStringList failures;
        int runs = 0;
        for (const Element element : elements) {
            for (int run = 0; run < 21; ++run, ++runs) {
                const Command& command = commands[run % 3];
                const std::chrono::milliseconds hold = holds[run % 5];
                ASSERT_TRUE(browser_->prepare(element, command.text, Selection::caretAtEnd)) << describe(element);
                const int before = program_->events(command.action);
                pressAndHold(command.key, hold);
                ASSERT_TRUE(program_->waitForEvents(command.action, before + 1)) << program_->log().toStdString();
                const auto it = results.find(command.action);
                const auto done = [&](const QString& now) {
                    return it != results.end() ? now == it->second : !now.isEmpty() && !now.contains(command.text);
                };
                const QString now = browser_->waitForText(element, done, 2s).value_or(QStringLiteral("<no answer>"));
                if (!done(now)) {
                    failures << QStringLiteral("%1 %2, held %3 ms: \"%4\"")
                                    .arg(describe(element), command.action)
                                    .arg(hold.count())
                                    .arg(now);
                } else if (it == results.end()) {
                    results[command.action] = now;
                }
            }
        }
        EXPECT_TRUE(failures.isEmpty()) << failures.size() << " of " << runs << " runs:\n"
                                        << failures.mid(0, 8).join('\n').toStdString();
    }

    // A rich-text field whose sentence holds a link, and a second line in a block of its own (the
    // browser reports one U+FFFC in the field's text for each, their words in them): Write
    // Message translates every word the user sees. The link's words change, and plain text
    // written over them would take its address away: the field stays as it was, and the whole
    // translation is offered for copying.
    void writeMessageKeepsEveryWordOfARichTextField() {
        const QString seen = QStringLiteral(
            "I would like to meet my good friend tomorrow at the station.\nWe are going to the park with the children.");
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->prepareEditableHtml(
            QStringLiteral("I would like to meet <a href=\"#x\">my good friend</a> tomorrow at the station."
                           "<div>We are going to the park with the children.</div>"),
            Selection::caretAtEnd));
        ASSERT_EQ(browser_->text(Element::editable), seen);
        const int before = program_->events("translate_message");
        press("w");
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
        ASSERT_TRUE(test::waitUntil([&] { return program_->copyWindow().has_value(); }, 5s))
            << program_->log().right(3000).toStdString();
        const QString offered = test::accessibleTextBoxContents(program_->pid()).join('\n');
        for (const char* word : {"amigo", "mañana", "parque"}) {
            EXPECT_TRUE(offered.contains(QString::fromUtf8(word))) << word << ": " << offered.toStdString();
        }
        for (const char* word : {"friend", "tomorrow", "park"}) {
            EXPECT_FALSE(offered.contains(QLatin1String(word))) << word << ": " << offered.toStdString();
        }
        EXPECT_EQ(browser_->text(Element::editable), seen);
        ASSERT_TRUE(program_->closeCopyWindows());
    }

    // A page that cancels pastes, as "confirm your e-mail address" and banking forms do. Write
    // Message pastes into it: while the paste waits for the browser, every other program reading
    // the clipboard gets the user's own, and the page's paste event the result. The browser
    // inserts nothing; its refusal ends the wait within 5 s, is logged, leaves nothing selected
    // in the field, and the browser's own next paste gets the user's clipboard. Write Message in
    // another program then works.
    void aPageThatRefusesPastesHasTheUsersClipboardBackAndStopsNothing() {
        const QString users = QStringLiteral("the user's own clipboard");
        ASSERT_TRUE(test::copyAsAnotherProgram(users));
        ASSERT_TRUE(browser_->refusePastes(true));
        const auto refuseNoMore = qScopeGuard([] { browser_->refusePastes(false); });
        ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
        waitUntilAccessible(Element::textarea, english);
        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> pastedAt{-1};
        std::mutex pastedMutex;
        QString pageGot;
        const auto forgetPaste = qScopeGuard([] { browser_->forgetNextPaste(); });
        ASSERT_TRUE(browser_->onNextPaste([&](const QString& text) {
            const std::lock_guard lock(pastedMutex);
            pageGot = text;
            pastedAt = clock.elapsed();
        }));
        const qsizetype logBefore = program_->log().size();
        const auto refused = [&] { return program_->log().mid(logBefore).contains("it refused the paste"); };
        const int before = program_->events("translate_message");
        press("w");
        QStringList othersGot;
        while (!refused() && clock.elapsed() < 30000) {
            othersGot << test::clipboardAsOthersGetIt().value_or(QStringLiteral("(no answer)"));
        }
        const qint64 refusedAt = clock.elapsed();
        othersGot.removeDuplicates();
        EXPECT_EQ(othersGot, QStringList{users});
        ASSERT_TRUE(refused()) << program_->log().mid(logBefore).toStdString();
        {
            const std::lock_guard lock(pastedMutex);
            EXPECT_TRUE(pageGot.contains(QStringLiteral("mañana"))) << pageGot.toStdString();
        }
        ASSERT_GE(pastedAt.load(), 0) << "no paste reached the page";
        EXPECT_LE(refusedAt - pastedAt, 5000);
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
        EXPECT_EQ(browser_->text(Element::textarea), english);
        EXPECT_TRUE(test::waitUntil([&] { return browser_->selectedLength() == 0; }, 5s))
            << browser_->selectedLength().value_or(-1) << " characters left selected";

        ASSERT_TRUE(browser_->refusePastes(false));
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        tool("xdotool", {"key", "--clearmodifiers", "ctrl+v"});
        EXPECT_EQ(browser_->waitForText(
                      Element::textarea, [&](const QString& now) { return now != english; }, 5s),
                  english + users);

        test::TextFieldsApp app;
        ASSERT_TRUE(app.isReady());
        ASSERT_TRUE(app.setText("pad", english));
        ASSERT_TRUE(app.focus("pad"));
        ASSERT_TRUE(test::waitUntil([&] {
            return tool("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(app.pid());
        })) << "the test application is not in front";
        const int writes = program_->events("translate_message");
        press("w");
        ASSERT_TRUE(program_->waitForEvents("translate_message", writes + 1)) << program_->log().toStdString();
        EXPECT_TRUE(program_->eventLines("translate_message").constLast().contains("success=true"))
            << program_->log().mid(logBefore).toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return app.text("pad").contains(QStringLiteral("mañana")); }, 5s))
            << app.text("pad").toStdString();
    }

    // A page refuses the paste whichever way it does it (cancelling the paste event, cancelling
    // the insertion's beforeinput, putting its value back in script on input): the field keeps
    // its text, and the caret or selection the user had is where it was, not at the start or
    // end of the text, nor the whole text left selected.
    void aRefusedPasteLeavesTheCaretAndSelectionWhereTheyWere() {
        using Refusal = TestBrowser::Refusal;
        const auto refuseNoMore = qScopeGuard([] { browser_->refusePastesBy(Refusal::none); });
        const QString users = QStringLiteral("the user's own clipboard");
        ASSERT_TRUE(test::copyAsAnotherProgram(users));
        const std::pair<int, int> caret{13, 13};
        const std::pair<int, int> atEnd{int(english.size()), int(english.size())};
        const std::pair<int, int> selection{8, 12};  // "like"
        for (const Refusal refusal : {Refusal::pasteEvent, Refusal::beforeInput, Refusal::inputUndone}) {
            for (const std::pair<int, int>& placed : {caret, atEnd, selection}) {
                const std::string which = std::string(refusal == Refusal::pasteEvent    ? "paste"
                                                      : refusal == Refusal::beforeInput ? "beforeinput"
                                                                                        : "input") +
                                          (placed == caret   ? ", caret"
                                           : placed == atEnd ? ", caret at the end"
                                                             : ", selection");
                ASSERT_TRUE(browser_->refusePastesBy(refusal));
                ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
                ASSERT_TRUE(browser_->select(placed.first, placed.second));
                waitUntilAccessible(Element::textarea, english);
                const qsizetype logBefore = program_->log().size();
                const int before = program_->events("translate_message");
                press("w");
                ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1))
                    << which << "\n"
                    << program_->log().mid(logBefore).toStdString();
                // The result is offered for copying: the user reads it there, and closes that window
                // only once the paste's hold is over (the page's refusal seen, or nothing fetched).
                test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s);
                const auto holdOver = [&] {
                    const QString since = program_->log().mid(logBefore);
                    return since.contains("it refused the paste") || since.contains("watched for a late paste");
                };
                EXPECT_TRUE(test::waitUntil(holdOver, 15s)) << which;
                ASSERT_TRUE(program_->closeCopyWindows()) << which;
                ASSERT_TRUE(browser_->activate());
                EXPECT_EQ(browser_->text(Element::textarea), english) << which;
                // Put back where the refusal is seen, or once the paste's hold ends; and it stays.
                test::waitUntil([&] { return browser_->selection() == placed; }, 15s);
                test::TerminalJob::pause(1500ms);
                const std::optional<std::pair<int, int>> now = browser_->selection();
                EXPECT_EQ(now, placed) << which << ": ends at " << (now ? now->first : -1) << "-"
                                       << (now ? now->second : -1) << "\n"
                                       << program_->log().mid(logBefore).toStdString();
            }
        }
    }

    // A picture without alternative text (a pasted screenshot) in a rich-text field publishes no
    // accessible object and shows in none of its text. Write, Edit and Flip with the caret at the
    // end, Write over the whole field selected, and Write with the picture on a line of a block of
    // its own, among other lines, at the end and at the start: the field keeps its picture every
    // time, and a run ends in success only with its result in the field; otherwise the field keeps
    // the user's text and the result is offered for copying. Words selected beside the picture are
    // replaced, and the picture stays; a paragraph without one that wraps is written as usual.
    void keepsAPictureWithoutAlternativeText() {
        const QString picture = QStringLiteral(
            "<img alt=\"\" src=\"data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='120' "
            "height='60'%3E%3Crect width='120' height='60' fill='red'/%3E%3C/svg%3E\">");
        struct Run {
            const char* key;
            QString action;
            QString before;
            QString after;
            Selection selection;
        };
        const Run runs[] = {
            {"w", "translate_message", "The red car ", " is very fast and we like it.", Selection::caretAtEnd},
            {"e", "edit_text", "My brothr has a red car ", " and the weathr is nice.", Selection::caretAtEnd},
            {"f", "flip_language", QStringLiteral("El coche rojo "), QStringLiteral(" es muy rápido."),
             Selection::caretAtEnd},
            {"w", "translate_message", "The red car ", " is very fast and we like it.", Selection::all},
            // On the second line of a message, and on a line of its own.
            {"w", "translate_message", "Hi Anna,<div>The red car ", " is very fast and we like it.</div>",
             Selection::caretAtEnd},
            {"w", "translate_message", "The red car is very fast and we like it.<div>", "</div>",
             Selection::caretAtEnd},
            // At the end of the text, and at its start.
            {"w", "translate_message", "Look at the red car: ", "", Selection::caretAtEnd},
            {"w", "translate_message", "", " The red car is very fast.", Selection::caretAtEnd},
        };
        for (const Run& run : runs) {
            const std::string what =
                (run.action + (run.selection == Selection::all ? " all selected" : " caret at end")).toStdString();
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            ASSERT_TRUE(browser_->prepareEditableHtml(run.before + picture + run.after, run.selection)) << what;
            const std::optional<QString> original = browser_->text(Element::editable);
            ASSERT_EQ(browser_->editablePictures(), 1) << what;
            const int before = program_->events(run.action);
            press(run.key);
            ASSERT_TRUE(program_->waitForEvents(run.action, before + 1)) << program_->log().toStdString();
            const std::optional<QString> now = browser_->text(Element::editable);
            EXPECT_EQ(browser_->editablePictures(), 1) << what << ": " << now.value_or("<no answer>").toStdString();
            const QString ended = program_->eventLines(run.action).constLast();
            if (ended.contains("success=true")) {
                EXPECT_NE(now, original) << what << ": success logged with the field unchanged";
            } else {
                EXPECT_EQ(now, original) << what << ": " << ended.toStdString();
                EXPECT_TRUE(test::waitUntil([&] { return program_->copyWindow().has_value(); }, 5s)) << what;
            }
        }
        // Without a picture, a paragraph that wraps over several lines is written as usual.
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        const QString paragraph = QStringLiteral(
            "We are going to the park with the children and we will be back at six. We are going to the park "
            "with the children and we will be back at six. We are going to the park with the children.");
        ASSERT_TRUE(browser_->prepareEditableHtml(paragraph, Selection::caretAtEnd));
        const int writes = program_->events("translate_message");
        press("w");
        ASSERT_TRUE(program_->waitForEvents("translate_message", writes + 1)) << program_->log().toStdString();
        const QString written = program_->eventLines("translate_message").constLast();
        EXPECT_TRUE(written.contains("success=true")) << written.toStdString() << "\n"
                                                      << program_->log().right(3000).toStdString();
        EXPECT_TRUE(browser_->text(Element::editable).value_or(paragraph).contains(QStringLiteral("parque")));

        // Words beside the picture selected: they are replaced, and the picture stays.
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        ASSERT_TRUE(browser_->prepareEditableHtml("The red car " + picture + " is very fast and we like it.",
                                                  Selection::caretAtEnd));
        ASSERT_TRUE(browser_->selectEditableWords("very fast"));
        const int before = program_->events("edit_text");
        press("e");
        ASSERT_TRUE(program_->waitForEvents("edit_text", before + 1)) << program_->log().toStdString();
        const QString ended = program_->eventLines("edit_text").constLast();
        EXPECT_TRUE(ended.contains("success=true")) << ended.toStdString() << "\n"
                                                    << program_->log().right(3000).toStdString();
        EXPECT_EQ(browser_->text(Element::editable), "The red car  is very fast (edited) and we like it.");
        EXPECT_EQ(browser_->editablePictures(), 1);
    }

    // A rich-text field with a line of text, a bulleted and a numbered list (the browser shows
    // each item's marker, "• " or "1. ", in its accessible text). Write Message and Flip Language
    // with the caret at the end: the field keeps both lists, each item holding its own line of the
    // result and no typed marker, and the run succeeds; or the run fails, the field is exactly as
    // it was, lists and markup, and the result is offered for copying.
    void listsStayLists() {
        struct Run {
            const char* key;
            QString action;
            QString html;
            QStringList gone;  // words of the original no item may keep
        };
        const Run runs[] = {
            {"w",
             "translate_message",
             "<div>Hello Anna,</div><ul><li>I have a red car.</li><li>The house is big.</li></ul>"
             "<ol><li>The dog is small.</li><li>We are going to the park.</li></ol>",
             {"car", "house", "dog", "park"}},
            {"f",
             "flip_language",
             QStringLiteral("<div>Hola Ana,</div><ul><li>Tengo un coche rojo.</li><li>La casa es grande.</li></ul>"
                            "<ol><li>El perro es pequeño.</li><li>Vamos al parque.</li></ol>"),
             {"coche", "grande", "perro", "parque"}},
        };
        for (const Run& run : runs) {
            const std::string what = run.action.toStdString();
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            ASSERT_TRUE(browser_->prepareEditableHtml(run.html, Selection::caretAtEnd)) << what;
            const std::optional<QString> original = browser_->editableHtml();
            ASSERT_TRUE(original.has_value());
            const int before = program_->events(run.action);
            press(run.key);
            ASSERT_TRUE(program_->waitForEvents(run.action, before + 1)) << program_->log().toStdString();
            const QString ended = program_->eventLines(run.action).constLast();
            const QString lists = browser_->editableLists().value_or(QStringLiteral("(no answer)"));
            if (!ended.contains("success=true")) {
                EXPECT_EQ(browser_->editableHtml(), original) << what << ": " << ended.toStdString();
                EXPECT_TRUE(test::waitUntil([&] { return program_->copyWindow().has_value(); }, 5s)) << what;
                continue;
            }
            const QStringList found = lists.split(';');
            ASSERT_EQ(found.size(), 2) << what << ": " << lists.toStdString();
            for (int i = 0; i < 2; ++i) {
                const QString listKind = i == 0 ? QStringLiteral("ul:") : QStringLiteral("ol:");
                ASSERT_TRUE(found[i].startsWith(listKind)) << what << ": " << lists.toStdString();
                const QStringList items = found[i].mid(3).split('|');
                EXPECT_EQ(items.size(), 2) << what << ": " << lists.toStdString();
                for (const QString& item : items) {
                    EXPECT_FALSE(item.isEmpty() || item.startsWith(QChar(0x2022)) || item.front().isDigit())
                        << what << ": " << lists.toStdString();
                    for (const QString& word : run.gone) {
                        EXPECT_FALSE(item.contains(word)) << what << ": " << lists.toStdString();
                    }
                }
            }
        }
    }

    // Write Message pressed on the textarea holding `english`, its caret at the end, while the
    // page is busy in a script for `busy` from our Control+A on; `meanwhile` runs `at` after the
    // shortcut. Once the page runs again, the textarea holds its text or the result, never
    // anything else; a run that did not write offers the result; and nothing stands selected
    // (a select-all handled late would have the user's next key replace their text).
    void writeWhilePageBusyOnSelectAll(std::chrono::milliseconds busy, std::chrono::milliseconds at,
                                       const std::function<void()>& meanwhile) {
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
        ASSERT_TRUE(browser_->busyOnNextSelectAll(busy));
        const int before = program_->events("translate_message");
        QElapsedTimer sincePress;
        sincePress.start();
        press("w");
        if (meanwhile) {
            test::TerminalJob::pause(at);
            meanwhile();
        }
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
        const bool written = program_->eventLines("translate_message").constLast().contains("success=true");
        // The page answers once its script has ended; what it does then takes a moment more.
        test::TerminalJob::pause(std::max(0ms, busy + 2s - std::chrono::milliseconds(sincePress.elapsed())));
        const std::optional<QString> field = browser_->text(Element::textarea);
        if (written) {
            EXPECT_TRUE(field && field->count(QStringLiteral("mañana")) == 1 && !field->contains("tomorrow"))
                << "busy " << busy.count() << " ms: " << field.value_or("(no answer)").toStdString();
        } else {
            EXPECT_EQ(field, english) << "busy " << busy.count() << " ms\n"
                                      << program_->log().right(3000).toStdString();
            EXPECT_TRUE(test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s));
        }
        std::optional<std::pair<int, int>> selection;
        test::waitUntil(
            [&] {
                selection = browser_->selection();
                return selection && selection->first == selection->second;
            },
            3s);
        ASSERT_TRUE(selection.has_value());
        EXPECT_EQ(selection->first, selection->second) << "busy " << busy.count() << " ms: left selected";
        if (!written) {
            EXPECT_EQ(selection->first, english.size()) << "the caret where the user left it";
        }
    }

    // The user back in the page, the copy window closed: within 5 s the textarea has no selection,
    // its caret at `caret` where one is given. `logBefore` is where the program's log stood.
    void expectNothingSelectedOnReturn(std::optional<int> caret, qsizetype logBefore) {
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        std::optional<std::pair<int, int>> selection;
        EXPECT_TRUE(test::waitUntil(
            [&] {
                selection = browser_->selection();
                return selection && selection->first == selection->second && (!caret || selection->first == *caret);
            },
            5s))
            << (selection ? selection->first : -1) << "-" << (selection ? selection->second : -1) << "\n"
            << program_->log().mid(logBefore).toStdString();
    }

    // Write Message on the textarea holding `english`, its caret at the end, until its run ends;
    // `logBefore` is where the program's log stood before it.
    void writeOnTheTextarea(qsizetype& logBefore) {
        ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
        waitUntilAccessible(Element::textarea, english);
        logBefore = program_->log().size();
        const int before = program_->events("translate_message");
        press("w");
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
    }

    // After a paste the page refused, the textarea is the user's again: a word they delete with
    // Control+BackSpace and one they cut with Control+X stay gone 3 s later.
    void theUsersEditsAfterARefusedPasteStay() {
        const auto refuseNoMore = qScopeGuard([] { browser_->refusePastes(false); });
        ASSERT_TRUE(browser_->refusePastes(true));
        qsizetype logBefore = 0;
        ASSERT_NO_FATAL_FAILURE(writeOnTheTextarea(logBefore));
        // The user edits once the paste's hold is over (Firefox may fetch nothing for a page that
        // cancels the paste event, Chromium fetches) and the select-all is put back; on a loaded
        // machine that may take long, and what is checked here is what follows.
        test::waitUntil(
            [&] {
                const QString since = program_->log().mid(logBefore);
                return since.contains("it refused the paste") || since.contains("watched for a late paste");
            },
            30s);
        test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s);
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        test::waitUntil([&] { return browser_->selectedLength() == 0; }, 15s);
        ASSERT_TRUE(browser_->select(int(english.size()), int(english.size())));
        std::optional<QString> edited = english;
        for (const char* chord : {"ctrl+BackSpace", "ctrl+x"}) {
            if (QLatin1String(chord) == QLatin1String("ctrl+x")) {
                ASSERT_TRUE(browser_->select(2, 7));  // "would"
            }
            const QString was = *edited;
            tool("xdotool", {"key", "--clearmodifiers", chord});
            edited = browser_->waitForText(
                Element::textarea, [&](const QString& now) { return now != was; }, 5s);
            ASSERT_TRUE(edited && *edited != was) << chord;
            test::TerminalJob::pause(3s);
            EXPECT_EQ(browser_->text(Element::textarea), edited) << chord << "\n"
                                                                 << program_->log().mid(logBefore).toStdString();
        }
    }
};

using FirefoxFieldsDesktopTest = BrowserFieldsTest<TestBrowser::Kind::firefox>;
using ChromiumFieldsDesktopTest = BrowserFieldsTest<TestBrowser::Kind::chromium>;

TEST_F(FirefoxFieldsDesktopTest, WriteAndFlipReplaceTheTextOfEveryField) {
    replacesEveryField();
}

TEST_F(ChromiumFieldsDesktopTest, WriteAndFlipReplaceTheTextOfEveryField) {
    replacesEveryField();
}

TEST_F(FirefoxFieldsDesktopTest, WriteEditAndFlipLeaveExactlyTheirResultInEveryField) {
    leavesExactlyTheResult({Element::textarea, Element::input, Element::editable});
}

TEST_F(ChromiumFieldsDesktopTest, WriteEditAndFlipLeaveExactlyTheirResultInAnEditableRegion) {
    leavesExactlyTheResult({Element::editable});
}

TEST_F(FirefoxFieldsDesktopTest, APageThatRefusesPastesHasTheUsersClipboardBackAndStopsNothing) {
    aPageThatRefusesPastesHasTheUsersClipboardBackAndStopsNothing();
}

TEST_F(ChromiumFieldsDesktopTest, APageThatRefusesPastesHasTheUsersClipboardBackAndStopsNothing) {
    aPageThatRefusesPastesHasTheUsersClipboardBackAndStopsNothing();
}

TEST_F(FirefoxFieldsDesktopTest, ARefusedPasteLeavesTheCaretAndSelectionWhereTheyWere) {
    aRefusedPasteLeavesTheCaretAndSelectionWhereTheyWere();
}

TEST_F(ChromiumFieldsDesktopTest, ARefusedPasteLeavesTheCaretAndSelectionWhereTheyWere) {
    aRefusedPasteLeavesTheCaretAndSelectionWhereTheyWere();
}

TEST_F(FirefoxFieldsDesktopTest, TheUsersEditsAfterARefusedPasteStay) {
    theUsersEditsAfterARefusedPasteStay();
}

TEST_F(ChromiumFieldsDesktopTest, TheUsersEditsAfterARefusedPasteStay) {
    theUsersEditsAfterARefusedPasteStay();
}

TEST_F(FirefoxFieldsDesktopTest, WriteMessageKeepsEveryWordOfARichTextField) {
    writeMessageKeepsEveryWordOfARichTextField();
}

TEST_F(ChromiumFieldsDesktopTest, WriteMessageKeepsEveryWordOfARichTextField) {
    writeMessageKeepsEveryWordOfARichTextField();
}

TEST_F(FirefoxFieldsDesktopTest, APictureWithoutAlternativeTextStaysInARichTextField) {
    keepsAPictureWithoutAlternativeText();
}

TEST_F(ChromiumFieldsDesktopTest, APictureWithoutAlternativeTextStaysInARichTextField) {
    keepsAPictureWithoutAlternativeText();
}

TEST_F(FirefoxFieldsDesktopTest, ListsStayListsOrTheFieldStaysAsItWas) {
    listsStayLists();
}

TEST_F(ChromiumFieldsDesktopTest, ListsStayListsOrTheFieldStaysAsItWas) {
    listsStayLists();
}

// A character beyond the Basic Multilingual Plane (an emoji) is one character in the accessible
// text and two UTF-16 units in ours: every kind of field holding one is written all the same, the
// emoji kept, with the caret at the end and with the whole text selected.
TEST_F(ChromiumFieldsDesktopTest, FieldsWithEmojiAreWritten) {
    const QString car = QStringLiteral("I have a red car 🚗.");
    const QString love = QStringLiteral("I love this red car 😀👍🏽 very much.");
    for (const Element element : {Element::textarea, Element::input, Element::editable}) {
        for (const auto& [sentence, selection] :
             {std::pair{car, Selection::caretAtEnd}, std::pair{love, Selection::all}}) {
            const std::string what = std::string(describe(element)) + ": " + sentence.toStdString();
            const QString written = runOn(element, sentence, selection, "w", "translate_message");
            const QString ended = program_->eventLines("translate_message").constLast();
            EXPECT_TRUE(ended.contains("success=true")) << what << "\n" << program_->log().right(3000).toStdString();
            EXPECT_FALSE(written.contains("have") || written.contains("love")) << what << ": " << written.toStdString();
            EXPECT_TRUE(written.contains(sentence == car ? QStringLiteral("🚗") : QStringLiteral("😀👍🏽")))
                << what << ": " << written.toStdString();
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
        }
    }
}

// The user goes on typing while the server works on the text: the field keeps every key, and
// the edited text is offered in the copy window instead of overwriting it.
TEST_F(FirefoxFieldsDesktopTest, TextTypedWhileTheServerThinksIsKeptAndTheResultOffered) {
    ASSERT_TRUE(browser_->prepare(Element::textarea, misspelt, Selection::caretAtEnd));
    program_->editDelayMs = 2500;
    const int requests = program_->editRequests;
    const int before = program_->events("edit_text");
    press("e");
    EXPECT_TRUE(test::waitUntil([&] { return program_->editRequests > requests; }, 10s))
        << program_->log().toStdString();
    const QString typed = QStringLiteral(" 0123456789");
    tool("xdotool", {"type", "--delay", "120", typed});
    EXPECT_TRUE(program_->waitForEvents("edit_text", before + 1)) << program_->log().toStdString();
    program_->editDelayMs = 0;
    EXPECT_EQ(browser_->text(Element::textarea), misspelt + typed);
    EXPECT_TRUE(program_->eventLines("edit_text").constLast().contains("success=false"))
        << program_->eventLines("edit_text").constLast().toStdString();
    const QString offered = misspelt + QStringLiteral(" (edited)");
    EXPECT_TRUE(test::waitUntil([&] { return test::accessibleTextBoxContents(program_->pid()).contains(offered); }, 5s))
        << test::accessibleTextBoxContents(program_->pid()).join(" | ").toStdString();
}

// The user types into Firefox on their keyboard and presses Control+Shift+P on another device
// right after (the XTEST device here, as a second keyboard, a mouse that types or a key-sending
// program would): each first key from the other device makes the server announce a new keyboard.
// Then the same after layout changes. Every chord reaches Tavrolin (Create Prompt, refused
// while Rewrite waits for the server), none Firefox (where it opens a private window), and every
// letter the field.
TEST_F(FirefoxFieldsDesktopTest, AShortcutRightAfterAKeyboardChangeReachesTavrolinAndNeverTheBrowser) {
    constexpr unsigned int controlL = 0xffe3;
    constexpr unsigned int shiftL = 0xffe1;
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid()) << "no keyboard device of the display's own";
    test::UserKeyboard otherDevice(test::UserKeyboard::Device::xtest);
    ASSERT_TRUE(otherDevice.isValid());
    const QString draft = QStringLiteral("Hello ");
    ASSERT_TRUE(browser_->prepare(Element::textarea, draft, Selection::caretAtEnd));
    const auto browserWindows = [] {
        return tool("xdotool", {"search", "--onlyvisible", "--classname", "^Navigator$"})
            .split('\n', Qt::SkipEmptyParts);
    };
    const QStringList windows = browserWindows();
    ASSERT_FALSE(windows.isEmpty());

    program_->holdWrites = true;
    const int rewrites = program_->events("write_text");
    const auto closeWhatWasOpened = qScopeGuard([&] {
        program_->holdWrites = false;
        // The field has the user's letters: the result goes to the copy window, which the next
        // test closes once it is up.
        program_->waitForEvents("write_text", rewrites + 1);
        program_->copyWindowComes(5s);
        QProcess::execute("setxkbmap", {"-layout", "us"});
        for (const QString& window : browserWindows()) {
            if (!windows.contains(window)) {
                tool("xdotool", {"windowactivate", "--sync", window, "key", "--clearmodifiers", "ctrl+w"});
            }
        }
    });
    const int requests = program_->writeRequests;
    press("r");
    // Rewrite captures and reads the window first. The program's first read loads a recognition
    // engine for each of its threads and languages (24 on eight cores): 7 to 55 s under the
    // sanitizers' allocator, the longest with other programs busy on the machine.
    ASSERT_TRUE(test::waitUntil([&] { return program_->writeRequests > requests; }, 90s))
        << program_->log().toStdString();

    int prompts = program_->events("create_prompt");
    QStringList missed;
    const auto chord = [&](const QString& after, std::chrono::microseconds beforeLetter) {
        ASSERT_TRUE(otherDevice.press({controlL, shiftL, 'p'}, beforeLetter));
        if (test::waitUntil([&] { return program_->events("create_prompt") > prompts; }, 3s)) {
            ++prompts;
        } else {
            missed << QStringLiteral("after %1, letter %2 us after the modifiers").arg(after).arg(beforeLetter.count());
        }
    };
    // The server takes in a keyboard change within a few milliseconds; the chords' letters come
    // at every moment of the 15 to 45 ms that follow the change.
    constexpr int afterKeys = 40;
    constexpr int afterLayouts = 20;
    QString typed;
    for (int i = 0; i < afterKeys; ++i) {
        const char letter = char('a' + i % 24);
        ASSERT_TRUE(keyboard.type(letter));
        typed += QLatin1Char(letter);
        chord(QStringLiteral("a key of the user's keyboard"), std::chrono::microseconds(15000 + 750 * i));
    }
    for (int i = 0; i < afterLayouts; ++i) {
        const QString layout = i % 2 == 0 ? QStringLiteral("de") : QStringLiteral("us");
        ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", layout}), 0);
        chord(QStringLiteral("the layout ") + layout, std::chrono::microseconds(5000 + 1500 * i));
    }
    EXPECT_TRUE(missed.isEmpty()) << missed.size() << " of " << afterKeys + afterLayouts
                                  << " chords did not reach Tavrolin:\n"
                                  << missed.join('\n').toStdString();
    const QStringList lines = program_->eventLines("create_prompt");
    for (const QString& line : lines.mid(lines.size() - (afterKeys + afterLayouts - missed.size()))) {
        EXPECT_TRUE(line.contains("error=workflow_already_in_progress")) << line.toStdString();
    }
    EXPECT_EQ(browser_->waitForText(
                  Element::textarea, [&](const QString& now) { return now == draft + typed; }, 3s),
              draft + typed);
    EXPECT_EQ(browserWindows(), windows) << "Firefox got the shortcut";
}

// The user types on, a letter every 200 ms, while Rewrite reads the window and the server
// thinks. The answer finds the field changed and goes to the copy window, which comes to the
// front without the keyboard: every letter lands in the field, none in the offered result. A
// click in the window gives it the keyboard, and Escape closes it.
TEST_F(FirefoxFieldsDesktopTest, LettersTypedWhileRewriteRunsStayInTheFieldWhenTheCopyWindowComes) {
    const QString draft = QStringLiteral("i has teh red car");
    ASSERT_TRUE(browser_->prepare(Element::textarea, draft, Selection::caretAtEnd));
    program_->holdWrites = true;
    const int requests = program_->writeRequests;
    const int before = program_->events("write_text");
    press("r");
    // Rewrite captures and reads the window first. The program's first read loads a recognition
    // engine for each of its threads and languages (24 on eight cores): 7 to 55 s under the
    // sanitizers' allocator, the longest with other programs busy on the machine.
    ASSERT_TRUE(test::waitUntil([&] { return program_->writeRequests > requests; }, 90s))
        << program_->log().toStdString();
    // The answer comes after the third letter; the user goes on for six letters once the window
    // is up.
    const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    QString typed;
    qsizetype typedWhenShown = -1;
    while (typed.size() < alphabet.size() && (typedWhenShown < 0 || typed.size() < typedWhenShown + 6)) {
        typed += alphabet[typed.size()];
        tool("xdotool", {"type", typed.right(1)});
        if (typed.size() == 3) {
            program_->holdWrites = false;
        }
        test::waitUntil([] { return false; }, 200ms);
        if (typedWhenShown < 0 && program_->copyWindow()) {
            typedWhenShown = typed.size();
        }
    }
    program_->holdWrites = false;
    ASSERT_TRUE(program_->waitForEvents("write_text", before + 1)) << program_->log().toStdString();
    ASSERT_GT(typedWhenShown, 0) << "no copy window while the user typed\n" << program_->log().toStdString();
    const auto holdsAllLetters = [&](const QString& now) { return now == draft + typed; };
    EXPECT_EQ(browser_->waitForText(Element::textarea, holdsAllLetters, 5s), draft + typed)
        << "window up after " << typedWhenShown << " letters";
    EXPECT_TRUE(test::accessibleTextBoxContents(program_->pid()).contains(Program::rewritten))
        << test::accessibleTextBoxContents(program_->pid()).join(" | ").toStdString();

    const std::optional<QString> window = program_->copyWindow();
    ASSERT_TRUE(window.has_value());
    const QRect frame = test::windowGeometry(*window);
    tool("xdotool",
         {"mousemove", QString::number(frame.center().x()), QString::number(frame.center().y()), "click", "1"});
    EXPECT_TRUE(test::waitUntil([&] {
        return tool("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(program_->pid());
    })) << "the click did not give the copy window the keyboard";
    tool("xdotool", {"type", "!"});
    EXPECT_TRUE(test::waitUntil([&] {
        return !test::accessibleTextBoxContents(program_->pid())
                    .filter(QStringLiteral("Thursday"))
                    .filter("!")
                    .isEmpty();
    })) << test::accessibleTextBoxContents(program_->pid()).join(" | ").toStdString();
    tool("xdotool", {"key", "Escape"});
    EXPECT_TRUE(test::waitUntil([&] { return !program_->copyWindow(); })) << "Escape left the copy window open";
    EXPECT_EQ(browser_->text(Element::textarea), draft + typed);
}

// Chromium stopped (as SIGSTOP does) when Write Message is pressed: keys sent to it would wait
// in its queue and, on resume, select its whole field (the next key typed would replace it) and
// copy it over the user's clipboard. None is sent: the field and the clipboard stay as they were.
TEST_F(ChromiumFieldsDesktopTest, AStoppedProgramGetsNoKeysItsFieldAndTheUsersClipboardStay) {
    const QString users = QStringLiteral("the user's own clipboard");
    ASSERT_TRUE(test::copyAsAnotherProgram(users));
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    const int before = program_->events("translate_message");
    ASSERT_EQ(::kill(pid_t(browser_->pid()), SIGSTOP), 0);
    press("w");
    const bool ended = program_->waitForEvents("translate_message", before + 1);
    ::kill(pid_t(browser_->pid()), SIGCONT);
    ASSERT_TRUE(ended) << program_->log().toStdString();
    EXPECT_FALSE(program_->eventLines("translate_message").constLast().contains("success=true"))
        << program_->eventLines("translate_message").constLast().toStdString();
    // Queued keys run as soon as the program does.
    EXPECT_FALSE(test::waitUntil([&] { return QApplication::clipboard()->text() != users; }, 2s))
        << QApplication::clipboard()->text().toStdString() << "\n"
        << program_->log().right(3000).toStdString();
    tool("xdotool", {"type", "!"});
    const std::optional<QString> field = browser_->waitForText(
        Element::textarea, [&](const QString& now) { return now != english; }, 5s);
    EXPECT_EQ(field, english + QStringLiteral("!"));
}

// A Chromium page busy 7 s in a script when our Control+A reaches it, then Chromium pastes
// nothing over the selected text (a Control+V sent behind the select-all would empty the field).
// The paste waits for the field to show its select-all: the field keeps its text and the result
// is offered, and the select-all handled late is put back.
TEST_F(ChromiumFieldsDesktopTest, APageBusyOnSelectAllKeepsItsTextOrGetsTheResultNeverEmpty) {
    writeWhilePageBusyOnSelectAll(7s, 0ms, {});
}

// A page whose script puts the textarea's caret at the end of its text on the paste key: Write
// Message's paste lands after the user's text, the select-all lost. The user presses nothing: the
// textarea gets their text back, with the caret where it was, and the result is offered for
// copying.
TEST_F(FirefoxFieldsDesktopTest, AResultPastedBesideTheUsersTextIsTakenOutAgain) {
    ASSERT_TRUE(browser_->pasteKeyMovesCaretToEnd(true));
    const auto movesNoMore = qScopeGuard([] { browser_->pasteKeyMovesCaretToEnd(false); });
    qsizetype logBefore = 0;
    ASSERT_NO_FATAL_FAILURE(writeOnTheTextarea(logBefore));
    EXPECT_TRUE(program_->eventLines("translate_message").constLast().contains("success=false"));
    EXPECT_EQ(browser_->waitForText(
                  Element::textarea, [](const QString& now) { return now == english; }, 5s),
              english)
        << program_->log().mid(logBefore).toStdString();
    EXPECT_TRUE(test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s));
    ASSERT_NO_FATAL_FAILURE(expectNothingSelectedOnReturn(int(english.size()), logBefore));
    EXPECT_EQ(browser_->text(Element::textarea), english) << program_->log().mid(logBefore).toStdString();
}

// The user goes to a terminal 1 s after Write Message, while the page is busy 3 s on our
// Control+A (sent by then): the select-all lands behind the terminal. The field holds their text
// or the result, never both, and once they are back in the page their text is not left all
// selected for their next key.
TEST_F(FirefoxFieldsDesktopTest, ASelectAllThatLandsWhileTheUserIsElsewhereIsUndoneOnTheirReturn) {
    ASSERT_TRUE(program_->closeCopyWindows());
    ASSERT_TRUE(browser_->activate());
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    ASSERT_TRUE(browser_->busyOnNextSelectAll(3s));
    const qsizetype logBefore = program_->log().size();
    const int before = program_->events("translate_message");
    press("w");
    test::TerminalJob::pause(1s);
    std::optional<test::TerminalJob> terminal(std::in_place);
    ASSERT_TRUE(terminal->isReady()) << "the terminal is not in front";
    ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
    test::TerminalJob::pause(5s);  // the page's script ends at 3 s
    const std::optional<QString> field = browser_->text(Element::textarea);
    const bool result = field && field->count(QStringLiteral("mañana")) == 1 && !field->contains("tomorrow");
    EXPECT_TRUE(result || field == english) << field.value_or("(no answer)").toStdString() << "\n"
                                            << program_->log().mid(logBefore).toStdString();
    terminal.reset();
    expectNothingSelectedOnReturn(std::nullopt, logBefore);
}

// The user copies something while the page is busy on our Control+A (1 and 2.5 s after the
// shortcut): that copy is theirs, and never pasted over their message.
TEST_F(ChromiumFieldsDesktopTest, ACopyTheUserMakesWhileThePageIsBusyNeverReplacesTheirMessage) {
    const QString copied = QStringLiteral("what the user copied meanwhile");
    for (const std::chrono::milliseconds at : {1000ms, 2500ms}) {
        ASSERT_TRUE(test::copyAsAnotherProgram(QStringLiteral("the user's own clipboard")));
        browser_->forgetTextsSeen();
        writeWhilePageBusyOnSelectAll(5s, at, [&] {
            QProcess::execute(
                QStringLiteral("sh"),
                {"-c", QStringLiteral("printf %s '%1' | xclip -selection clipboard >/dev/null 2>&1").arg(copied)});
        });
        for (const QString& seen : browser_->textsSeen(Element::textarea)) {
            EXPECT_FALSE(seen.contains(copied)) << "copied " << at.count() << " ms after: " << seen.toStdString();
        }
        EXPECT_TRUE(test::waitUntil([&] { return QApplication::clipboard()->text() == copied; }, 5s))
            << "copied " << at.count() << " ms after: " << QApplication::clipboard()->text().toStdString();
    }
}

// A page that cancels Control+V in its field's keydown handler (as some editors and forms do): the
// browser fetches nothing. The user's own paste into another field of the same browser, while
// Write Message waits for its paste, cannot be told from ours by its request: it gets the result,
// never their clipboard. Without it the wait ends all the same, the field is not left all
// selected, and the next Write in the window works.
TEST_F(FirefoxFieldsDesktopTest, APageThatCancelsThePasteKeyHoldsNothingBack) {
    const QString users = QStringLiteral("the user's own clipboard");
    ASSERT_TRUE(test::copyAsAnotherProgram(users));
    ASSERT_TRUE(browser_->cancelPasteKeyInTextarea(true));
    auto cancelNoMore = qScopeGuard([] { browser_->cancelPasteKeyInTextarea(false); });

    // The user pastes into the input while the paste into the textarea waits.
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    waitUntilAccessible(Element::textarea, english);
    int before = program_->events("translate_message");
    press("w");
    ASSERT_TRUE(test::waitUntil([&] { return browser_->selectedLength() == english.size(); }, 20s))
        << "the paste's select-all never showed\n"
        << program_->log().right(3000).toStdString();
    test::TerminalJob::pause(500ms);  // its Control+V follows
    ASSERT_TRUE(browser_->prepare(Element::input, QString(), Selection::caretAtEnd));
    tool("xdotool", {"key", "--clearmodifiers", "ctrl+v"});
    const auto filled = [](const QString& now) { return !now.isEmpty(); };
    const QString pasted = browser_->waitForText(Element::input, filled, 5s).value_or(QString());
    EXPECT_TRUE(pasted.contains(QStringLiteral("mañana")) && !pasted.contains(users)) << pasted.toStdString();
    // The keyboard stays where the user pasted, whatever is put back in the field they left.
    test::TerminalJob::pause(1500ms);
    EXPECT_EQ(browser_->selection(), std::make_pair(int(pasted.size()), int(pasted.size())));
    ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
    // The result is offered for copying: the user closes that window once it is up.
    test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s);
    ASSERT_TRUE(program_->closeCopyWindows())
        << "the copy window stays; in front: " << tool("xdotool", {"getactivewindow", "getwindowname"}).toStdString();
    ASSERT_TRUE(browser_->activate());

    // Nobody pastes, and the user leaves the copy window up: behind it the textarea is not left
    // all selected, the caret goes back where it was, the copy window keeps the keyboard, and the
    // field keeps its text and caret once the user is back.
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    waitUntilAccessible(Element::textarea, english);
    before = program_->events("translate_message");
    const qsizetype logBefore = program_->log().size();
    press("w");
    ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
    ASSERT_TRUE(test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s));
    const std::pair<int, int> caretAtEnd(int(english.size()), int(english.size()));
    EXPECT_TRUE(test::waitUntil([&] { return browser_->selection() == caretAtEnd; }, 15s))
        << browser_->selectedLength().value_or(-1) << " characters left selected behind the copy window\n"
        << program_->log().mid(logBefore).toStdString();
    EXPECT_EQ(tool("xdotool", {"getactivewindow"}).trimmed(), program_->copyWindow().value_or(QString()))
        << "in front: " << tool("xdotool", {"getactivewindow", "getwindowname"}).toStdString();
    ASSERT_TRUE(program_->closeCopyWindows())
        << "the copy window stays; in front: " << tool("xdotool", {"getactivewindow", "getwindowname"}).toStdString();
    ASSERT_TRUE(browser_->activate());
    test::TerminalJob::pause(1s);
    EXPECT_EQ(browser_->selection(), caretAtEnd) << program_->log().mid(logBefore).toStdString();
    EXPECT_EQ(browser_->text(Element::textarea), english);

    // While the field is watched for a late paste, the user pastes into it with the middle button:
    // that edit is theirs, and stays.
    const std::optional<QPoint> textarea = browser_->textareaOnScreen();
    ASSERT_TRUE(textarea);
    QProcess::execute(QStringLiteral("sh"), {"-c", "printf %s 'middle' | xclip -selection primary >/dev/null 2>&1"});
    tool("xdotool", {"mousemove", QString::number(textarea->x()), QString::number(textarea->y()), "click", "2"});
    EXPECT_TRUE(browser_->waitForText(
        Element::textarea, [](const QString& now) { return now.contains(QStringLiteral("middle")); }, 5s));
    test::TerminalJob::pause(2s);
    EXPECT_TRUE(browser_->text(Element::textarea).value_or(QString()).contains(QStringLiteral("middle")))
        << program_->log().right(3000).toStdString();

    // The page takes pastes again: the next Write in the window writes.
    ASSERT_TRUE(browser_->cancelPasteKeyInTextarea(false));
    const QString written = runOn(Element::textarea, english, Selection::caretAtEnd, "w", "translate_message");
    EXPECT_EQ(written.count(QStringLiteral("mañana")), 1) << written.toStdString() << "\n"
                                                          << program_->log().right(3000).toStdString();
    EXPECT_TRUE(program_->eventLines("translate_message").constLast().contains("success=true"))
        << program_->eventLines("translate_message").constLast().toStdString();
}

// Write Message on the textarea while the page is busy in a script for `busy` on our Control+V
// (its select-all shown at once); `meanwhile` runs `at` after the shortcut. Once the page has run
// again, the textarea holds its text or the result, never anything else, and nothing stands
// selected.
void writeWhilePageBusyOnThePasteKey(test::TestBrowser& browser, Program& program, std::chrono::milliseconds busy,
                                     std::chrono::milliseconds at, const std::function<void()>& meanwhile) {
    ASSERT_TRUE(program.closeCopyWindows());
    ASSERT_TRUE(browser.activate());
    ASSERT_TRUE(browser.prepare(Element::textarea, english, Selection::caretAtEnd));
    ASSERT_TRUE(browser.busyOnNextPasteKey(busy));
    const int before = program.events("translate_message");
    QElapsedTimer sincePress;
    sincePress.start();
    press("w");
    if (meanwhile) {
        test::TerminalJob::pause(at);
        meanwhile();
    }
    ASSERT_TRUE(program.waitForEvents("translate_message", before + 1)) << program.log().toStdString();
    // The page wakes, pastes, and what follows takes a moment more; the user closes the copy
    // window, if one came, and is back in the browser.
    test::TerminalJob::pause(std::max(0ms, busy + 3s - std::chrono::milliseconds(sincePress.elapsed())));
    ASSERT_TRUE(program.closeCopyWindows());
    ASSERT_TRUE(browser.activate());
    const auto resultOrText = [](const QString& now) {
        return now == english || (now.count(QStringLiteral("mañana")) == 1 && !now.contains("tomorrow"));
    };
    const std::optional<QString> field = browser.waitForText(Element::textarea, resultOrText, 5s);
    EXPECT_TRUE(field && resultOrText(*field))
        << "busy " << busy.count() << " ms: \"" << field.value_or("(no answer)").toStdString() << "\"\n"
        << program.log().right(4000).toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return browser.selectedLength() == 0; }, 5s))
        << browser.selectedLength().value_or(-1) << " characters left selected";
}

// A page busy 8 s and 20 s on the paste key, the user's clipboard a marker of theirs held by
// another program: its browser's own process answers meanwhile, so the paste looks refused. Whenever
// the page wakes and pastes, it never gets the user's clipboard, neither into the field nor into
// any of its input events; the field ends with the result or the user's text, never empty.
void aPageBusyOnThePasteKeyNeverGetsTheUsersClipboard(test::TestBrowser& browser, Program& program) {
    const QString marker = QStringLiteral("users-private-clipboard-marker");
    for (const std::chrono::milliseconds busy : {8s, 20s}) {
        ASSERT_TRUE(test::copyAsAnotherProgram(marker));
        browser.forgetTextsSeen();
        writeWhilePageBusyOnThePasteKey(browser, program, busy, 0ms, {});
        QStringList seen = browser.textsSeen(Element::textarea);
        seen << browser.text(Element::textarea).value_or(QString());
        for (const QString& text : seen) {
            EXPECT_FALSE(text.contains(marker)) << "busy " << busy.count() << " ms: " << text.toStdString();
        }
    }
}

TEST_F(FirefoxFieldsDesktopTest, APageBusyOnThePasteKeyNeverGetsTheUsersClipboard) {
    aPageBusyOnThePasteKeyNeverGetsTheUsersClipboard(*browser_, *program_);
}

TEST_F(ChromiumFieldsDesktopTest, APageBusyOnThePasteKeyNeverGetsTheUsersClipboard) {
    aPageBusyOnThePasteKeyNeverGetsTheUsersClipboard(*browser_, *program_);
}

// A Chromium page busy 10 s on the paste key, and the user pastes into another program (a terminal)
// 3 s in: their paste does not take the page's paste away, and whenever the page wakes it never
// gets the user's clipboard, neither into the field nor into any of its input events.
TEST_F(ChromiumFieldsDesktopTest, TheUsersPasteElsewhereNeverHandsABusyPageTheirClipboard) {
    const QString marker = QStringLiteral("users-private-clipboard-marker");
    ASSERT_TRUE(test::copyAsAnotherProgram(marker));
    browser_->forgetTextsSeen();
    writeWhilePageBusyOnThePasteKey(*browser_, *program_, 10s, 3s, [] {
        test::TerminalJob terminal;
        ASSERT_TRUE(terminal.isReady()) << "the terminal is not in front";
        tool("xdotool", {"key", "--clearmodifiers", "shift+Insert"});
        test::TerminalJob::pause(300ms);
    });
    QStringList seen = browser_->textsSeen(Element::textarea);
    seen << browser_->text(Element::textarea).value_or(QString());
    for (const QString& text : seen) {
        EXPECT_FALSE(text.contains(marker)) << text.toStdString() << "\n" << program_->log().right(3000).toStdString();
    }
}

// A page that inserts pasted text in script after its text (as mail and chat editors do), outside
// the browser's undo history: Write Message right after the user typed the end of their message
// never takes their words away. The result alone is taken out, and offered for copying.
TEST_F(ChromiumFieldsDesktopTest, WordsTypedRightBeforeWriteStayWhereThePageInsertsPastesItself) {
    ASSERT_TRUE(browser_->insertPastesInScript(true));
    const auto insertsNoMore = qScopeGuard([] { browser_->insertPastesInScript(false); });
    const QString typed = QStringLiteral(" at the station.");
    ASSERT_TRUE(browser_->prepare(Element::editable, english.chopped(typed.size()), Selection::caretAtEnd));
    tool("xdotool", {"type", "--delay", "20", typed});
    ASSERT_EQ(browser_->waitForText(
                  Element::editable, [](const QString& now) { return now == english; }, 5s),
              english);
    const qsizetype logBefore = program_->log().size();
    const int before = program_->events("translate_message");
    press("w");
    ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
    EXPECT_TRUE(program_->eventLines("translate_message").constLast().contains("success=false"));
    test::TerminalJob::pause(1s);
    EXPECT_EQ(browser_->text(Element::editable), english) << program_->log().mid(logBefore).toStdString();
}

// A Firefox page busy 6 s on the paste key, and the user copies something 2 s in: that copy is
// theirs and stays on the clipboard, and the message ends with the result or the user's text,
// never the copy.
TEST_F(FirefoxFieldsDesktopTest, ACopyTheUserMakesWhileThePageIsBusyOnThePasteKeyNeverStaysInTheirMessage) {
    const QString copied = QStringLiteral("what the user copied meanwhile");
    ASSERT_TRUE(test::copyAsAnotherProgram(QStringLiteral("the user's own clipboard")));
    writeWhilePageBusyOnThePasteKey(*browser_, *program_, 6s, 2s, [&] {
        QProcess::execute(
            QStringLiteral("sh"),
            {"-c", QStringLiteral("printf %s '%1' | xclip -selection clipboard >/dev/null 2>&1").arg(copied)});
    });
    EXPECT_FALSE(browser_->text(Element::textarea).value_or(QString()).contains(copied));
    EXPECT_TRUE(test::waitUntil([&] { return QApplication::clipboard()->text() == copied; }, 5s))
        << QApplication::clipboard()->text().toStdString();
}

// Firefox reports a zero-width no-break space after each emoji: written back, it would split
// an emoji from its skin-tone modifier.
TEST_F(FirefoxFieldsDesktopTest, EmojiComeBackWhole) {
    const QString sentence = QStringLiteral("I love this red car 😀👍🏽 very much.");
    const QString flipped = runOn(Element::textarea, sentence, Selection::caretAtEnd, "f", "flip_language");
    EXPECT_FALSE(flipped.contains("love")) << flipped.toStdString();
    EXPECT_FALSE(flipped.contains(QChar(0xFEFF))) << flipped.toStdString();
    EXPECT_TRUE(flipped.contains(QStringLiteral("😀👍🏽"))) << flipped.toStdString();
}

// Flip from the selection buttons on one word of a sentence with emoji, the word selected with
// Control+Shift+Right and the button clicked as people do: the word is replaced where it stands and the
// emoji stay whole (read with Firefox's U+FEFF after each emoji, the field would look changed
// since the read and the result end in the copy window). What Flip makes of the word is taken
// from the same gesture on the sentence without emoji.
TEST_F(FirefoxFieldsDesktopTest, FlipFromTheButtonsReplacesAWordBesideEmojiInPlace) {
    const auto flipSecondWord = [&](const QString& sentence) {
        EXPECT_TRUE(browser_->prepare(Element::textarea, sentence, Selection::caretAtEnd));
        const int before = program_->events("flip_language");
        // The caret before the word, then the word selected with one chord.
        tool("xdotool", {"key", "--delay", "50", "Home", "Right", "Right", "sleep", "0.2", "keydown", "ctrl+shift",
                         "key", "Right", "keyup", "ctrl+shift"});
        std::optional<QRect> row;
        EXPECT_TRUE(test::waitUntil(
            [&] {
                row = program_->buttonRow();
                return row.has_value();
            },
            5s))
            << "no buttons for the selection\n"
            << program_->log().toStdString();
        if (!row) {
            return QString();
        }
        // Flip is the row's first button, as wide as the row is high.
        tool("xdotool", {"mousemove", QString::number(row->x() + row->height() / 2), QString::number(row->center().y()),
                         "click", "1"});
        EXPECT_TRUE(program_->waitForEvents("flip_language", before + 1)) << program_->log().toStdString();
        EXPECT_TRUE(program_->eventLines("flip_language").constLast().contains("success=true"))
            << program_->log().right(4000).toStdString();
        return browser_
            ->waitForText(
                Element::textarea, [&](const QString& now) { return now != sentence; }, 5s)
            .value_or(QString());
    };
    const QString rest = QStringLiteral(" this red car very much.");
    const QString plain = flipSecondWord(QStringLiteral("I love") + rest);
    ASSERT_TRUE(plain.startsWith(QStringLiteral("I ")) && plain.endsWith(rest)) << plain.toStdString();
    const QString word = plain.mid(2, plain.size() - 2 - rest.size());
    ASSERT_FALSE(word.isEmpty() || word.contains(QStringLiteral("love"))) << plain.toStdString();

    const QString flipped = flipSecondWord(QStringLiteral("I love this red car 😀👍🏽 very much."));
    EXPECT_EQ(flipped, QStringLiteral("I ") + word + QStringLiteral(" this red car 😀👍🏽 very much."))
        << program_->log().right(3000).toStdString();
}

// Firefox keeps reporting its field as focused when another program comes to the front, so
// the last focus event names a field behind the front window. Chromium in front (it publishes
// nothing until it is asked for its tree) with its own empty field: the commands may act only on
// that field, which holds nothing to work on, and must not take Firefox's text into it.
TEST_F(FirefoxFieldsDesktopTest, AFieldFocusedBehindTheFrontProgramIsLeftAlone) {
    if (!TestBrowser::program(TestBrowser::Kind::chromium)) {
        GTEST_SKIP() << "Chromium is not installed (make test installs it)";
    }
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    TestBrowser chromium(TestBrowser::Kind::chromium);
    ASSERT_TRUE(chromium.isReady()) << chromium.error().toStdString();
    ASSERT_TRUE(chromium.prepare(Element::textarea, QString(), Selection::caretAtEnd));
    for (const auto& [key, action] :
         {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
        ASSERT_TRUE(chromium.activate());
        const int before = program_->events(action);
        press(key);
        EXPECT_TRUE(program_->waitForEvents(action, before + 1)) << program_->log().toStdString();
        // Its own empty field may be found ("Cannot ..."): the alert is closed for the next.
        QStringList texts;
        if (test::waitUntil(
                [&] {
                    texts = test::accessibleTexts(program_->pid());
                    return texts.contains("OK");
                },
                1s)) {
            test::pressAccessible(program_->pid(), "OK");
            test::waitUntil([&] { return !test::accessibleTexts(program_->pid()).contains("OK"); }, 3s);
        }
        EXPECT_EQ(chromium.text(Element::textarea), QString()) << action;
        EXPECT_EQ(browser_->text(Element::textarea), english) << action;
        EXPECT_FALSE(program_->eventLines(action).constLast().contains("success=true"))
            << program_->eventLines(action).constLast().toStdString();
    }
}

// A terminal in front of a Firefox selection, each terminal of the list in turn: no key may
// reach the job running there (xterm reads even Control+Shift+C as an interrupt), and neither
// the word selected in the terminal nor Firefox's selection behind gets buttons.
TEST_F(FirefoxFieldsDesktopTest, ATerminalInFrontOfAFirefoxSelectionGetsNoButtonsAndItsJobRuns) {
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::all));
    for (const test::TerminalJob::Kind kind : test::TerminalJob::kinds) {
        SCOPED_TRACE(test::TerminalJob::name(kind));
        test::TerminalJob terminal(kind);
        ASSERT_TRUE(terminal.isReady()) << "the terminal is not in front with its job";
        ASSERT_TRUE(terminal.doubleClickHouse());
        // The double click's probe comes 400 ms later (and a tree request's look 300 ms after that).
        EXPECT_FALSE(test::waitUntil(
            [&] {
                const QStringList texts = test::accessibleTexts(program_->pid());
                return texts.contains("Flip") || texts.contains("Translate");
            },
            1500ms))
            << "buttons for a selection";
        EXPECT_TRUE(terminal.jobAlive()) << "the job in the terminal was interrupted by the selection";
        for (const auto& [key, action] :
             {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
            const int before = program_->events(action);
            press(key);
            EXPECT_TRUE(program_->waitForEvents(action, before + 1)) << action << program_->log().toStdString();
            EXPECT_TRUE(terminal.jobAlive()) << "the job in the terminal was interrupted by " << action;
        }
    }
    EXPECT_EQ(browser_->text(Element::textarea), english);
}

// Firefox stopped (as SIGSTOP does) while the server answers Edit Message, and resumed 8 s later:
// the keys sent to it meanwhile wait in its queue and are handled against whatever the
// clipboard holds then. The field gets the result or keeps its text, never the user's
// clipboard, and the user's clipboard is theirs again afterwards.
TEST_F(FirefoxFieldsDesktopTest, AProgramStoppedMidPasteNeverPastesTheUsersClipboard) {
    const QString users = QStringLiteral("the user's own clipboard");
    ASSERT_TRUE(test::copyAsAnotherProgram(users));
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    const QString edited = english + QStringLiteral(" (edited)");
    program_->editDelayMs = 3000;
    const int requests = program_->editRequests;
    const int before = program_->events("edit_text");
    press("e");
    // Once the server has the text, the field has been read: the program stops.
    ASSERT_TRUE(test::waitUntil([&] { return program_->editRequests > requests; }, 10s))
        << program_->log().toStdString();
    ASSERT_EQ(::kill(pid_t(browser_->pid()), SIGSTOP), 0);
    test::TerminalJob::pause(8s);
    ::kill(pid_t(browser_->pid()), SIGCONT);
    program_->editDelayMs = 0;
    EXPECT_TRUE(program_->waitForEvents("edit_text", before + 1)) << program_->log().toStdString();
    const std::optional<QString> field = browser_->waitForText(
        Element::textarea, [&](const QString& now) { return now == edited; }, 10s);
    EXPECT_TRUE(field == edited || field == english) << field.value_or("(no answer)").toStdString() << "\n"
                                                     << program_->log().right(3000).toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return QApplication::clipboard()->text() == users; }, 5s))
        << QApplication::clipboard()->text().toStdString() << "\n"
        << program_->log().right(3000).toStdString();
}

// Reads the clipboard every 50 ms, as clipboard managers do, for as long as it lives.
class ClipboardPoller {
public:
    ClipboardPoller() {
        process_.start(QStringLiteral("sh"),
                       {"-c", "while :; do xclip -o -selection clipboard >/dev/null 2>&1; sleep 0.05; done"});
        process_.waitForStarted(5000);
    }
    ~ClipboardPoller() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    ClipboardPoller(const ClipboardPoller&) = delete;
    ClipboardPoller& operator=(const ClipboardPoller&) = delete;

private:
    QProcess process_;
};

// A page busy in a script when our Control+A reaches it: Firefox's own process answers the
// ping while the page still holds the keys, and a clipboard manager fetches the pasted text as
// soon as it is there. The paste goes only once the field shows the select-all (a page busy 1 s
// gets it; one busy 4 s keeps its text and the result is offered), and the field never gets the
// user's clipboard, which comes back once the page has taken the paste.
TEST_F(FirefoxFieldsDesktopTest, APageBusyOnSelectAllNeverPastesTheUsersClipboard) {
    const QString users = QStringLiteral("the user's own clipboard");
    struct Round {
        std::chrono::milliseconds busy;
        bool clipboardManager;
    } rounds[] = {{4000ms, false}, {1000ms, true}};
    for (const Round& round : rounds) {
        ASSERT_TRUE(test::copyAsAnotherProgram(users));
        browser_->forgetTextsSeen();
        const std::unique_ptr<ClipboardPoller> manager =
            round.clipboardManager ? std::make_unique<ClipboardPoller>() : nullptr;
        writeWhilePageBusyOnSelectAll(round.busy, 0ms, {});
        EXPECT_FALSE(browser_->textsSeen(Element::textarea).contains(users))
            << browser_->textsSeen(Element::textarea).join(" | ").toStdString() << "\n"
            << program_->log().right(3000).toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return QApplication::clipboard()->text() == users; }, 5s))
            << "busy " << round.busy.count() << " ms: " << QApplication::clipboard()->text().toStdString() << "\n"
            << program_->log().right(3000).toStdString();
    }
}

// Firefox fetches the clipboard twice for one Control+V: for the page's paste event, then for the
// insertion. Stopped between the two (as SIGSTOP does) for 8 s while a clipboard manager reads
// the clipboard, it must find the result at its second fetch, never the user's clipboard; and
// the run says success only if the field ends with the result.
TEST_F(FirefoxFieldsDesktopTest, AProgramStoppedBetweenItsTwoFetchesOfAPasteNeverInsertsTheUsersClipboard) {
    const QString users = QStringLiteral("the user's own clipboard");
    ASSERT_TRUE(test::copyAsAnotherProgram(users));
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    browser_->forgetTextsSeen();
    const pid_t browser = pid_t(browser_->pid());
    std::atomic<bool> stopped{false};
    const auto forgetPaste = qScopeGuard([] { browser_->forgetNextPaste(); });
    ASSERT_TRUE(browser_->onNextPaste([&](const QString&) {
        ::kill(browser, SIGSTOP);
        stopped = true;
    }));
    ClipboardPoller manager;
    const int before = program_->events("translate_message");
    press("w");
    const bool pasted = test::waitUntil([&] { return stopped.load(); }, 15s);
    if (pasted) {
        test::TerminalJob::pause(8s);
    }
    ::kill(browser, SIGCONT);
    ASSERT_TRUE(pasted) << "no paste reached the page\n" << program_->log().right(3000).toStdString();
    ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
    const std::optional<QString> field = browser_->waitForText(
        Element::textarea, [](const QString& now) { return now.contains(QStringLiteral("mañana")); }, 10s);
    EXPECT_FALSE(browser_->textsSeen(Element::textarea).contains(users))
        << browser_->textsSeen(Element::textarea).join(" | ").toStdString() << "\n"
        << program_->log().right(3000).toStdString();
    if (program_->eventLines("translate_message").constLast().contains("success=true")) {
        EXPECT_TRUE(field && field->contains(QStringLiteral("mañana"))) << field.value_or("(no answer)").toStdString();
    }
    EXPECT_TRUE(test::waitUntil([&] { return QApplication::clipboard()->text() == users; }, 5s))
        << QApplication::clipboard()->text().toStdString() << "\n"
        << program_->log().right(3000).toStdString();
}

// Write Message pressed twice 50 ms apart: the second press is refused, and while its key is
// down our shortcut's grab would take any key of the first run. The field ends translated, or
// the run says it failed; a success is never logged for a paste that went astray.
TEST_F(FirefoxFieldsDesktopTest, WriteMessagePressedTwiceQuicklyNeverLogsASuccessWithoutItsText) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
        const int before = program_->events("translate_message");
        tool("xdotool", {"key", "--clearmodifiers", "--delay", "50", "ctrl+shift+w", "ctrl+shift+w"});
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 2)) << program_->log().toStdString();
        const QStringList ended = program_->eventLines("translate_message").mid(before);
        if (ended.filter("success=true").isEmpty()) {
            // A failure, said as such. Its copy window comes to the front with the result: closed,
            // so that the next presses go to the page rather than to that window's own field.
            program_->copyWindowComes(5s);
            ASSERT_TRUE(program_->closeCopyWindows());
            continue;
        }
        const std::optional<QString> now = browser_->waitForText(
            Element::textarea, [](const QString& text) { return text.contains(QStringLiteral("mañana")); }, 5s);
        EXPECT_TRUE(now && now->count(QStringLiteral("mañana")) == 1 && !now->contains("tomorrow"))
            << "attempt " << attempt << ": " << now.value_or("(no answer)").toStdString() << "\n"
            << ended.join('\n').toStdString();
    }
}

}  // namespace
}  // namespace tavrolin
