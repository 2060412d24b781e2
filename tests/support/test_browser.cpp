#include "support/test_browser.h"

#include "support/async.h"
#include "support/session/tavrolin_process_home.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cstdio>
#include <unistd.h>

namespace tavrolin::test {

namespace {

using namespace std::chrono_literals;

// The page asks the test for commands (a long poll) and posts its fields back after each
// command and after every input event, so the test reads what the program under test wrote.
const char* const pageHtml = R"HTML(<!doctype html>
<html><head><meta charset="utf-8"><title>fields</title>
<style>textarea, input, div { display: block; width: 600px; margin: 12px; font: 16px sans-serif; }
textarea { height: 80px; } div { min-height: 40px; border: 1px solid #888; }
#page p { margin: 0; font: 32px sans-serif; }</style></head>
<body>
<textarea id="textarea"></textarea>
<input id="input" type="text">
<div id="editable" contenteditable="true"></div>
<section id="page"></section>
<script>
// Page text below the fields, without gaps between its lines, so that a click anywhere in the
// lower half of the window lands on a sentence.
for (let i = 0; i < 30; ++i) {
  const paragraph = document.createElement('p');
  paragraph.textContent = %PAGE_SENTENCE%;
  document.getElementById('page').appendChild(paragraph);
}
const server = new URLSearchParams(location.search).get('server');
// How many characters of the focused element are selected.
function selected() {
  const element = document.activeElement;
  if (!element) return 0;
  if (element.id === 'editable') return window.getSelection().toString().length;
  return element.selectionEnd !== undefined ? element.selectionEnd - element.selectionStart : 0;
}
const fields = () => ({
  textarea: document.getElementById('textarea').value,
  input: document.getElementById('input').value,
  editable: document.getElementById('editable').innerText,
  pictures: document.getElementById('editable').querySelectorAll('img').length,
  // Each list of the contenteditable element as its kind and its items' texts: "ul:one|two".
  lists: Array.from(document.getElementById('editable').querySelectorAll('ul, ol'))
             .map(list => list.tagName.toLowerCase() + ':' +
                  Array.from(list.children).filter(item => item.tagName === 'LI')
                      .map(item => item.innerText.trim()).join('|'))
             .join(';'),
  html: document.getElementById('editable').innerHTML,
  focused: document.activeElement ? document.activeElement.id : '',
  selected: selected(),
  selectionStart: selectionEnds()[0],
  selectionEnd: selectionEnds()[1],
  // Every list item's own text (without its nested lists), in document order: "one|two".
  items: Array.from(document.getElementById('editable').querySelectorAll('li'))
             .map(item => {
               const own = item.cloneNode(true);
               own.querySelectorAll('ul, ol').forEach(list => list.remove());
               return own.textContent;
             }).join('|'),
  textareaCenter: textareaCenter(),
  firstParagraphEnd: firstParagraphEnd()
});
// The focused element's selection [start, end]: in a <textarea> or <input> as it counts, in the
// contenteditable element in characters of its text (its text nodes one after another); -1 where
// none.
function selectionEnds() {
  const element = document.activeElement;
  if (!element) return [-1, -1];
  if (element.id !== 'editable') {
    return element.selectionStart != null ? [element.selectionStart, element.selectionEnd] : [-1, -1];
  }
  const selection = window.getSelection();
  if (!selection.rangeCount || !element.contains(selection.getRangeAt(0).startContainer)) return [-1, -1];
  const range = selection.getRangeAt(0);
  const offsetOf = (node, offset) => {
    const before = document.createRange();
    before.setStart(element, 0);
    before.setEnd(node, offset);
    return before.toString().length;
  };
  return [offsetOf(range.startContainer, range.startOffset), offsetOf(range.endContainer, range.endOffset)];
}
// Selects [start, end) of the focused element, counted as selectionEnds() counts; in the
// contenteditable element an end between two text nodes lies at the start of the later one (a
// caret after a link stands outside it).
function selectRange(start, end) {
  const element = document.activeElement;
  if (element.id !== 'editable') {
    element.setSelectionRange(start, end);
    return;
  }
  const nodes = [];
  const walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) nodes.push(node);
  const place = offset => {
    let at = 0;
    for (let i = 0; i < nodes.length; ++i) {
      const length = nodes[i].data.length;
      if (offset < at + length || i === nodes.length - 1) return [nodes[i], Math.min(offset - at, length)];
      at += length;
    }
    return [element, 0];
  };
  const range = document.createRange();
  range.setStart(...place(start));
  range.setEnd(...place(end));
  const selection = window.getSelection();
  selection.removeAllRanges();
  selection.addRange(range);
}
// Where the textarea's middle is on the screen, "x,y"; empty where the browser does not tell where
// its page lies (only Firefox does).
function textareaCenter() {
  if (window.mozInnerScreenX === undefined) return '';
  const box = document.getElementById('textarea').getBoundingClientRect();
  const ratio = window.devicePixelRatio;
  return Math.round((window.mozInnerScreenX + box.left + box.width / 2) * ratio) + ',' +
         Math.round((window.mozInnerScreenY + box.top + box.height / 2) * ratio);
}
// Where on the screen a click lands right of the end of the editable element's first paragraph,
// "x,y"; empty where it has none. Chromium tells only where its window lies: its page starts below
// the window's toolbars, which take the difference between the window's and the page's heights.
function firstParagraphEnd() {
  const paragraph = document.querySelector('#editable p');
  if (!paragraph) return '';
  const box = paragraph.getBoundingClientRect();
  const words = document.createRange();
  words.selectNodeContents(paragraph);
  const end = words.getBoundingClientRect();
  const ratio = window.devicePixelRatio;
  const left = window.mozInnerScreenX !== undefined ? window.mozInnerScreenX
                                                    : window.screenX + (window.outerWidth - window.innerWidth) / 2;
  const top = window.mozInnerScreenY !== undefined ? window.mozInnerScreenY
                                                   : window.screenY + window.outerHeight - window.innerHeight;
  return Math.round((left + Math.min(end.right + 40, box.right - 5)) * ratio) + ',' +
         Math.round((top + box.top + box.height / 2) * ratio);
}
async function report(id) {
  const state = fields();
  document.title = 'fields ' + id;
  try {
    await fetch(server + '/report', {method: 'POST', body: JSON.stringify(Object.assign({id: id}, state))});
  } catch (e) {}
}
function prepare(command) {
  const element = document.getElementById(command.element);
  element.focus();
  if (element.id === 'editable') {
    if (command.html !== undefined) element.innerHTML = command.html;
    else element.textContent = command.text;
    const range = document.createRange();
    range.selectNodeContents(element);
    if (command.selection === 'end') range.collapse(false);
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
  } else {
    element.value = command.text;
    if (command.selection === 'end') element.setSelectionRange(element.value.length, element.value.length);
    else element.select();
  }
}
// Selects the first place where the editable element's text holds `words` (within one text node).
function selectWords(words) {
  const element = document.getElementById('editable');
  const walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const at = node.data.indexOf(words);
    if (at < 0) continue;
    const range = document.createRange();
    range.setStart(node, at);
    range.setEnd(node, at + words.length);
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    return;
  }
}
for (const id of ['textarea', 'input', 'editable']) {
  document.getElementById(id).addEventListener('input', () => report(0));
}
// Once asked, a value of the textarea that no input event reported is reported too.
let reportedTextarea = null;
function watchTextarea() {
  reportedTextarea = document.getElementById('textarea').value;
  setInterval(() => {
    const value = document.getElementById('textarea').value;
    if (value !== reportedTextarea) {
      reportedTextarea = value;
      report(0);
    }
  }, 5);
}
// A page busy in a script: the next Control+A keeps it busy for the given time (the keys after
// it wait in the page's queue).
let busyOnSelectAll = 0;
document.addEventListener('keydown', event => {
  if (busyOnSelectAll > 0 && event.ctrlKey && event.key.toLowerCase() === 'a') {
    const until = Date.now() + busyOnSelectAll;
    busyOnSelectAll = 0;
    while (Date.now() < until) {}
  }
}, true);
// A page busy in a script on the paste key itself: the next Control+V keeps it busy for the given
// time, and is then handled as usual (its paste comes late). And a page that cancels Control+V in
// its textarea's keydown handler: no paste happens there, and nothing is fetched.
let busyOnPasteKey = 0;
let cancelPasteKeyInTextarea = false;
// And a page whose script puts the textarea's caret at the end of its text on Control+V: the
// paste lands after the text, whatever was selected.
let pasteKeyMovesCaretToEnd = false;
document.addEventListener('keydown', event => {
  if (!event.ctrlKey || event.key.toLowerCase() !== 'v') return;
  if (cancelPasteKeyInTextarea && event.target.id === 'textarea') event.preventDefault();
  if (pasteKeyMovesCaretToEnd && event.target.id === 'textarea') {
    event.target.setSelectionRange(event.target.value.length, event.target.value.length);
  }
  if (busyOnPasteKey > 0) {
    const until = Date.now() + busyOnPasteKey;
    busyOnPasteKey = 0;
    while (Date.now() < until) {}
  }
}, true);
// And a page that inserts pasted text in the contenteditable element itself, as mail and chat
// editors do: the browser's paste cancelled, the text added after the element's text in script,
// outside the browser's undo history.
// Some leave the selection where it was (the whole text still selected after a select-all).
let insertPastesInScript = false;
document.addEventListener('paste', event => {
  const element = document.getElementById('editable');
  if (!insertPastesInScript || !element.contains(event.target)) return;
  event.preventDefault();
  const text = event.clipboardData.getData('text/plain');
  const walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
  let last = null;
  for (let node = walker.nextNode(); node; node = walker.nextNode()) last = node;
  if (!last) last = element.appendChild(document.createTextNode(''));
  last.appendData(text);
  window.getSelection().collapse(last, last.length);
}, true);
// The next paste event asks the test synchronously (the test may stop the browser then, between
// the fetch for the paste event and the one for the insertion).
let holdNextPaste = false;
// A page that refuses pastes (a "confirm your e-mail address" field, a bank's form): 'paste'
// cancels the paste event, 'beforeinput' the insertion it announces, 'input' lets the paste in
// and puts the field's value back in script (the caret goes where setting a value leaves it).
let refusePastesBy = '';
document.addEventListener('paste', event => {
  if (refusePastesBy === 'paste') event.preventDefault();
}, true);
let valueBeforePaste = null;
document.addEventListener('beforeinput', event => {
  if (!event.inputType.startsWith('insertFromPaste')) return;
  if (refusePastesBy === 'beforeinput') event.preventDefault();
  valueBeforePaste = event.target.value !== undefined ? event.target.value : null;
}, true);
document.addEventListener('input', event => {
  if (refusePastesBy !== 'input' || !event.inputType.startsWith('insertFromPaste')) return;
  if (valueBeforePaste !== null) event.target.value = valueBeforePaste;
  valueBeforePaste = null;
}, true);
document.addEventListener('paste', event => {
  if (!holdNextPaste) return;
  holdNextPaste = false;
  const request = new XMLHttpRequest();
  request.open('POST', server + '/pasting', false);
  try { request.send(event.clipboardData.getData('text/plain')); } catch (e) {}
}, true);
async function serve() {
  for (;;) {
    try {
      const answer = await fetch(server + '/command');
      if (answer.status === 200) {
        const command = await answer.json();
        if (command.op === 'prepare') prepare(command);
        if (command.op === 'selectWords') selectWords(command.words);
        if (command.op === 'busyOnSelectAll') busyOnSelectAll = command.ms;
        if (command.op === 'holdNextPaste') holdNextPaste = true;
        if (command.op === 'busyOnPasteKey') busyOnPasteKey = command.ms;
        if (command.op === 'cancelPasteKeyInTextarea') cancelPasteKeyInTextarea = command.on;
        if (command.op === 'pasteKeyMovesCaretToEnd') pasteKeyMovesCaretToEnd = command.on;
        if (command.op === 'insertPastesInScript') insertPastesInScript = command.on;
        if (command.op === 'refusePastes') refusePastesBy = command.by;
        if (command.op === 'selectRange') selectRange(command.start, command.end);
        if (command.op === 'watchTextarea' && reportedTextarea === null) watchTextarea();
        await report(command.id);
      }
    } catch (e) {
      await new Promise(resolve => setTimeout(resolve, 200));
    }
  }
}
serve();
</script></body></html>
)HTML";

QString activeWindow() {
    return toolOutput("xdotool", {"getactivewindow"});
}

QByteArray pageContent() {
    QByteArray html(pageHtml);
    html.replace("%PAGE_SENTENCE%", "'" + TestBrowser::pageSentence.toUtf8() + "'");
    return html;
}

}  // namespace

std::optional<QString> TestBrowser::program(Kind kind) {
    const QString name = kind == Kind::firefox ? QStringLiteral("firefox-esr") : QStringLiteral("chromium");
    const QString path = QStandardPaths::findExecutable(name);
    return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
}

const QString TestBrowser::pageSentence = QStringLiteral("We are going to the park with the children.");

const char* TestBrowser::name(Kind kind) {
    return kind == Kind::firefox ? "firefox-esr" : "chromium";
}

QString TestBrowser::elementId(Element element) {
    switch (element) {
    case Element::textarea:
        return QStringLiteral("textarea");
    case Element::input:
        return QStringLiteral("input");
    case Element::editable:
        break;
    }
    return QStringLiteral("editable");
}

TestBrowser::TestBrowser(Kind kind) {
    server_.server().Get("/command", [this](const httplib::Request&, httplib::Response& response) {
        response.set_header("Access-Control-Allow-Origin", "*");
        std::unique_lock lock(mutex_);
        pageAsked_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, 2s, [this] { return stopping_ || !commands_.empty(); });
        if (commands_.empty()) {
            response.status = 204;
            return;
        }
        response.set_content(commands_.front(), "application/json");
        commands_.pop_front();
    });
    server_.server().Post("/report", [this](const httplib::Request& request, httplib::Response& response) {
        response.set_header("Access-Control-Allow-Origin", "*");
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
        std::lock_guard lock(mutex_);
        const Report report{body.value("textarea").toString(),
                            body.value("input").toString(),
                            body.value("editable").toString(),
                            body.value("focused").toString(),
                            body.value("selected").toInt(),
                            body.value("pictures").toInt(-1),
                            body.value("selectionStart").toInt(-1),
                            body.value("selectionEnd").toInt(-1),
                            body.value("lists").toString(),
                            body.value("html").toString(),
                            body.value("textareaCenter").toString(),
                            body.value("items").toString(),
                            body.value("firstParagraphEnd").toString()};
        reports_[body.value("id").toInt()] = report;
        seen_.push_back(report);
        changed_.notify_all();
    });
    server_.server().Post("/pasting", [this](const httplib::Request& request, httplib::Response& response) {
        response.set_header("Access-Control-Allow-Origin", "*");
        std::function<void(const QString&)> handler;
        {
            std::lock_guard lock(mutex_);
            handler = std::exchange(onPaste_, {});
        }
        if (handler) {
            handler(QString::fromStdString(request.body));
        }
    });
    server_.start();
    ready_ = start(kind);
}

TestBrowser::~TestBrowser() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
}

bool TestBrowser::start(Kind kind) {
    const std::optional<QString> executable = program(kind);
    if (!executable) {
        error_ = QStringLiteral("%1 is not installed").arg(QLatin1String(name(kind)));
        return false;
    }
    const QString page = profile_.filePath("fields.html");
    QFile file(page);
    if (!profile_.isValid() || !file.open(QIODevice::WriteOnly) || file.write(pageContent()) < 0) {
        error_ = QStringLiteral("cannot write the test page");
        return false;
    }
    file.close();
    const QString url =
        QStringLiteral("file://%1?server=%2").arg(page, QStringLiteral("http://127.0.0.1:%1").arg(server_.port()));
    QStringList arguments;
    if (kind == Kind::firefox) {
        const QString profile = profile_.filePath("firefox");
        QDir().mkpath(profile);
        QFile prefs(profile + "/user.js");
        if (prefs.open(QIODevice::WriteOnly)) {
            prefs.write(
                "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
                "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
                "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
                "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
                "user_pref(\"app.update.auto\", false);\n"
                "user_pref(\"browser.tabs.warnOnClose\", false);\n");
        }
        arguments << "--no-remote"
                  << "--new-instance"
                  << "--profile" << profile << "--width"
                  << "900"
                  << "--height"
                  << "600" << url;
    } else {
        arguments << "--no-first-run"
                  << "--no-default-browser-check"
                  << "--password-store=basic"
                  << "--disable-gpu"
                  << "--disable-features=Translate,MediaRouter"
                  << "--window-size=900,600" << QStringLiteral("--user-data-dir=%1").arg(profile_.filePath("chromium"));
        if (geteuid() == 0) {
            arguments << "--no-sandbox";  // Chromium refuses to run as root with its sandbox
        }
        arguments << url;
    }
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(profile_.filePath("browser.log"));
    process_.start(*executable, arguments);
    if (!process_.waitForStarted(5000)) {
        error_ = QStringLiteral("%1 did not start").arg(*executable);
        return false;
    }
    // A cold start under a loaded machine takes several seconds.
    const bool asked = waitUntil(
        [this] {
            std::lock_guard lock(mutex_);
            return pageAsked_;
        },
        60s);
    if (!asked) {
        QFile log(profile_.filePath("browser.log"));
        log.open(QIODevice::ReadOnly);
        error_ = QStringLiteral("the page never asked for a command; browser log: ") +
                 QString::fromUtf8(log.readAll().right(2000));
        return false;
    }
    const QString pid = QString::number(process_.processId());
    waitUntil(
        [&] {
            const QStringList windows =
                toolOutput("xdotool", {"search", "--onlyvisible", "--pid", pid, "--name", "fields"})
                    .split('\n', Qt::SkipEmptyParts);
            window_ = windows.isEmpty() ? QString() : windows.last();
            return !window_.isEmpty();
        },
        20s);
    if (window_.isEmpty()) {
        error_ = QStringLiteral("no browser window");
        return false;
    }
    return activate();
}

bool TestBrowser::activate() {
    toolOutput("xdotool", {"windowactivate", window_});
    if (waitUntil([this] { return activeWindow() == window_; }, 10s)) {
        return true;
    }
    const QString front = activeWindow();
    std::fprintf(stderr, "the browser did not come to the front; in front: %s \"%s\" pid %s\n", qPrintable(front),
                 qPrintable(toolOutput("xdotool", {"getwindowname", front})),
                 qPrintable(toolOutput("xdotool", {"getwindowpid", front})));
    return false;
}

std::optional<TestBrowser::Report> TestBrowser::send(const QString& commandJson, std::chrono::milliseconds limit) {
    int id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextCommand_++;
        QJsonObject command = QJsonDocument::fromJson(commandJson.toUtf8()).object();
        command.insert("id", id);
        commands_.push_back(QJsonDocument(command).toJson(QJsonDocument::Compact).toStdString());
        changed_.notify_all();
    }
    std::optional<Report> report;
    // Spins this thread's event loop: the program under test may be reading our clipboard.
    waitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            const auto found = reports_.find(id);
            if (found == reports_.end()) {
                return false;
            }
            report = found->second;
            return true;
        },
        limit);
    return report;
}

bool TestBrowser::prepare(Element element, const QString& text, Selection selection) {
    return prepareElement(element, "text", text, selection);
}

bool TestBrowser::prepareEditableHtml(const QString& html, Selection selection) {
    return prepareElement(Element::editable, "html", html, selection);
}

bool TestBrowser::prepareElement(Element element, const char* kind, const QString& content, Selection selection) {
    const QJsonObject command{{"op", "prepare"},
                              {"element", elementId(element)},
                              {QLatin1String(kind), content},
                              {"selection", selection == Selection::all ? "all" : "end"}};
    const std::optional<Report> report =
        send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s);
    return report && report->focused == elementId(element);
}

std::optional<QString> TestBrowser::text(Element element) {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    if (!report) {
        return std::nullopt;
    }
    switch (element) {
    case Element::textarea:
        return report->textarea;
    case Element::input:
        return report->input;
    case Element::editable:
        break;
    }
    // A contenteditable element may end its text with the line break of a trailing <br>.
    QString editable = report->editable;
    while (editable.endsWith('\n')) {
        editable.chop(1);
    }
    return editable;
}

bool TestBrowser::selectEditableWords(const QString& words) {
    const QJsonObject command{{"op", "selectWords"}, {"words", words}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

std::optional<int> TestBrowser::editablePictures() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    return report ? std::optional<int>(report->pictures) : std::nullopt;
}

std::optional<QString> TestBrowser::editableLists() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    return report ? std::optional<QString>(report->lists) : std::nullopt;
}

std::optional<QStringList> TestBrowser::editableItems() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    return report ? std::optional<QStringList>(report->items.split('|')) : std::nullopt;
}

std::optional<QString> TestBrowser::editableHtml() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    return report ? std::optional<QString>(report->html) : std::nullopt;
}

std::optional<std::pair<int, int>> TestBrowser::selection() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    if (!report || report->selectionStart < 0) {
        return std::nullopt;
    }
    return std::make_pair(report->selectionStart, report->selectionEnd);
}

bool TestBrowser::busyOnNextSelectAll(std::chrono::milliseconds busy) {
    const QJsonObject command{{"op", "busyOnSelectAll"}, {"ms", static_cast<int>(busy.count())}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::busyOnNextPasteKey(std::chrono::milliseconds busy) {
    const QJsonObject command{{"op", "busyOnPasteKey"}, {"ms", static_cast<int>(busy.count())}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::cancelPasteKeyInTextarea(bool cancel) {
    const QJsonObject command{{"op", "cancelPasteKeyInTextarea"}, {"on", cancel}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::pasteKeyMovesCaretToEnd(bool moves) {
    const QJsonObject command{{"op", "pasteKeyMovesCaretToEnd"}, {"on", moves}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::insertPastesInScript(bool inserts) {
    const QJsonObject command{{"op", "insertPastesInScript"}, {"on", inserts}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::onNextPaste(std::function<void(const QString&)> handler) {
    {
        std::lock_guard lock(mutex_);
        onPaste_ = std::move(handler);
    }
    return send(QStringLiteral(R"({"op":"holdNextPaste"})"), 10s).has_value();
}

void TestBrowser::forgetNextPaste() {
    std::lock_guard lock(mutex_);
    onPaste_ = {};
}

bool TestBrowser::refusePastes(bool refuse) {
    return refusePastesBy(refuse ? Refusal::pasteEvent : Refusal::none);
}

bool TestBrowser::refusePastesBy(Refusal refusal) {
    const char* by = refusal == Refusal::pasteEvent    ? "paste"
                     : refusal == Refusal::beforeInput ? "beforeinput"
                     : refusal == Refusal::inputUndone ? "input"
                                                       : "";
    const QJsonObject command{{"op", "refusePastes"}, {"by", QLatin1String(by)}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::select(int start, int end) {
    const QJsonObject command{{"op", "selectRange"}, {"start", start}, {"end", end}};
    return send(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)), 10s).has_value();
}

bool TestBrowser::reportTextareaChanges() {
    return send(QStringLiteral(R"({"op":"watchTextarea"})"), 10s).has_value();
}

std::optional<QPoint> TestBrowser::textareaOnScreen() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    const QStringList xy = report ? report->textareaCenter.split(',') : QStringList();
    if (xy.size() != 2) {
        return std::nullopt;
    }
    return QPoint(xy[0].toInt(), xy[1].toInt());
}

std::optional<QPoint> TestBrowser::firstParagraphEndOnScreen() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    const QStringList xy = report ? report->firstParagraphEnd.split(',') : QStringList();
    if (xy.size() != 2) {
        return std::nullopt;
    }
    return QPoint(xy[0].toInt(), xy[1].toInt());
}

std::optional<int> TestBrowser::selectedLength() {
    const std::optional<Report> report = send(QStringLiteral(R"({"op":"report"})"), 5s);
    return report ? std::optional<int>(report->selected) : std::nullopt;
}

QStringList TestBrowser::textsSeen(Element element) {
    std::lock_guard lock(mutex_);
    QStringList texts;
    for (const Report& report : seen_) {
        const QString& text = element == Element::textarea ? report.textarea
                              : element == Element::input  ? report.input
                                                           : report.editable;
        if (!texts.contains(text)) {
            texts << text;
        }
    }
    return texts;
}

void TestBrowser::forgetTextsSeen() {
    std::lock_guard lock(mutex_);
    seen_.clear();
}

std::optional<QString> TestBrowser::waitForText(Element element, const std::function<bool(const QString&)>& done,
                                                std::chrono::milliseconds limit) {
    std::optional<QString> last;
    waitUntil(
        [&] {
            last = text(element);
            return last && done(*last);
        },
        limit);
    return last;
}

}  // namespace tavrolin::test
