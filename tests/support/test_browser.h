#pragma once

// A real web browser (Debian's Firefox ESR or Chromium) showing a local test page with three
// editable elements above paragraphs of page text (filling the window's lower half), for desktop
// tests and benchmarks of the programs people write in. The page takes its
// commands from, and reports its fields to, an HTTP server in the test process: the test sets
// a field's text, focus and selection, and reads back what the page holds after the program
// under test wrote into it. Start one browser per test suite: each start costs seconds.
//
// The browser runs with a profile in a temporary folder and no accessibility flag of its own
// (Chromium publishes its fields only when an assistive technology asks for them).
#include "support/fakes/local_http_server.h"

#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tavrolin::test {

class TestBrowser {
public:
    enum class Kind { firefox, chromium };
    // The page's editable elements: <textarea>, <input type=text>, <div contenteditable>.
    enum class Element { textarea, input, editable };
    // Where the caret is left after prepare(): after the last character, or around all of it.
    enum class Selection { caretAtEnd, all };

    // The program that starts this browser; absent when it is not installed (`make test`
    // installs both).
    static std::optional<QString> program(Kind kind);
    static const char* name(Kind kind);
    static QString elementId(Element element);
    // The sentence every paragraph of page text holds.
    static const QString pageSentence;

    // Starts the browser on the page and waits until the page asks for its first command.
    explicit TestBrowser(Kind kind);
    ~TestBrowser();  // stops the browser (by its process id) and removes its profile
    TestBrowser(const TestBrowser&) = delete;
    TestBrowser& operator=(const TestBrowser&) = delete;

    bool isReady() const { return ready_; }
    // Why the browser is not ready.
    QString error() const { return error_; }
    qint64 pid() const { return process_.processId(); }
    // The browser window's X id (decimal, as xdotool prints it).
    QString window() const { return window_; }

    // Brings the browser window to the front and waits until it is the active window.
    bool activate();
    // Puts `text` into the element, focuses it and leaves the caret or selection as asked.
    // Answers once the page has done so.
    bool prepare(Element element, const QString& text, Selection selection);
    // The same for the contenteditable element with markup (links, formatting) in place of text.
    bool prepareEditableHtml(const QString& html, Selection selection);
    // The element's text as the page holds it now (innerText for the contenteditable element);
    // absent when the page did not answer.
    std::optional<QString> text(Element element);
    // Selects the first run of `words` in the contenteditable element's text (within one node).
    bool selectEditableWords(const QString& words);
    // How many pictures (<img>) the contenteditable element holds now; absent when the page did
    // not answer.
    std::optional<int> editablePictures();
    // The contenteditable element's lists, each as its kind and its items' texts ("ul:one|two",
    // lists joined by ";"), and its markup; absent when the page did not answer.
    std::optional<QString> editableLists();
    std::optional<QString> editableHtml();
    // Each list item's own text (its nested lists left out) in document order, as the page holds
    // it (a no-break space stays one); absent when the page did not answer.
    std::optional<QStringList> editableItems();
    // The next Control+A the page gets keeps its script busy for `busy` (the keys after it wait,
    // as in a page busy in a script); the browser's own process goes on answering meanwhile.
    bool busyOnNextSelectAll(std::chrono::milliseconds busy);
    // The next Control+V the page gets keeps its script busy for `busy` before the browser pastes.
    bool busyOnNextPasteKey(std::chrono::milliseconds busy);
    // From now on the page cancels Control+V in the textarea's keydown handler (nothing is pasted
    // there, nothing fetched), or no longer does; the other elements paste as usual.
    bool cancelPasteKeyInTextarea(bool cancel);
    // From now on the page puts the textarea's caret at the end of its text when Control+V comes
    // (the paste lands after the text, whatever was selected), or no longer does.
    bool pasteKeyMovesCaretToEnd(bool moves);
    // From now on the page inserts pasted text in the contenteditable element in script, after the
    // element's text and outside the browser's undo history (the browser's paste cancelled), or no
    // longer does.
    bool insertPastesInScript(bool inserts);
    // The selection of the focused element as the page holds it now (start and end; equal for a
    // caret), in the contenteditable element in characters of its text nodes one after another;
    // absent when the page did not answer or nothing has the focus.
    std::optional<std::pair<int, int>> selection();
    // The page's next paste event calls `handler` (with the text the event was given) on a
    // thread of the test's server, the page waiting synchronously until it returns.
    bool onNextPaste(std::function<void(const QString&)> handler);
    // Drops a handler no paste has called yet: a test that ends early leaves none holding its
    // locals for the next test's paste.
    void forgetNextPaste();
    // From now on the page cancels every paste event (preventDefault), or no longer does.
    bool refusePastes(bool refuse);
    // How a page refuses a paste: it cancels the paste event, or the `beforeinput` of the
    // insertion, or lets it in and puts the field's value back in script on `input`.
    enum class Refusal { none, pasteEvent, beforeInput, inputUndone };
    bool refusePastesBy(Refusal refusal);
    // Selects characters [start, end) of the focused element, counted as selection() counts them
    // (a caret where equal; in the contenteditable element one between two text nodes lies at the
    // start of the later one).
    bool select(int start, int end);
    // How many characters of the focused element are selected; absent when the page did not
    // answer.
    std::optional<int> selectedLength();
    // The middle of the textarea on the screen; unknown in Chromium.
    std::optional<QPoint> textareaOnScreen();
    // A place on the screen right of the end of the contenteditable element's first paragraph,
    // within it (a click there puts the caret at the paragraph's end).
    std::optional<QPoint> firstParagraphEndOnScreen();
    // Every text the page reported for the element (after each command and each input event)
    // since forgetTextsSeen(), each once.
    QStringList textsSeen(Element element);
    void forgetTextsSeen();
    // From now on the page also reports whenever the textarea's value changed without an input
    // event (a write through accessibility), found by a look at the value every 5 ms: a
    // benchmark learns the textarea's text without asking the page while a program works in it.
    bool reportTextareaChanges();
    // Waits until the element's text satisfies `done`; answers the last text seen.
    std::optional<QString> waitForText(Element element, const std::function<bool(const QString&)>& done,
                                       std::chrono::milliseconds limit);

private:
    struct Report {
        QString textarea;
        QString input;
        QString editable;
        QString focused;
        int selected = 0;
        int pictures = -1;
        int selectionStart = -1;
        int selectionEnd = -1;
        QString lists;
        QString html;
        QString textareaCenter;
        QString items;
        QString firstParagraphEnd;
    };
    // Sends one command to the page and waits for the report that answers it.
    std::optional<Report> send(const QString& commandJson, std::chrono::milliseconds limit);
    // prepare() with the element's `content` as "text" or "html".
    bool prepareElement(Element element, const char* kind, const QString& content, Selection selection);
    bool start(Kind kind);

    LocalHttpServer server_;
    QTemporaryDir profile_;
    QProcess process_;
    bool ready_ = false;
    QString error_;
    QString window_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> commands_;
    std::map<int, Report> reports_;
    std::vector<Report> seen_;
    std::function<void(const QString&)> onPaste_;
    int nextCommand_ = 1;
    bool pageAsked_ = false;
    bool stopping_ = false;
};

}  // namespace tavrolin::test
