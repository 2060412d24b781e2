// The field commands of the real executable in the programs people write in: Firefox ESR and
// Chromium (no accessibility flag) on a local page, each started once for its suite, and the
// focused field of a program behind the front window left alone. The translations come from
// Apertium on this machine; Edit Message asks a local server that corrects known typos.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/qt_printers.h"
#include "support/session/accessible_texts.h"
#include "support/session/tavrolin_process_home.h"
#include "support/test_browser.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <thread>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using test::TestBrowser;
using Element = TestBrowser::Element;
using Selection = TestBrowser::Selection;

const QString english = QStringLiteral("I would like to meet you tomorrow at the station.");
const QString spanish = QStringLiteral("Me gustaría verte mañana en la estación.");
const QString misspelt = QStringLiteral("My brothr has a red car and the weathr is nice.");
const QString corrected = QStringLiteral("My brother has a red car and the weather is nice.");

QString tool(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

// The real program, native English and second language Spanish, its edits from a local server.
class Program {
public:
    Program() {
        server_.server().Post("/api/text-edits", [this](const httplib::Request& request, httplib::Response& response) {
            ++edits_;
            std::this_thread::sleep_for(std::chrono::milliseconds(editDelayMs_.load()));
            QString text =
                QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object().value("text").toString();
            text.replace(QStringLiteral("brothr"), QStringLiteral("brother"))
                .replace(QStringLiteral("weathr"), QStringLiteral("weather"));
            response.set_content(QJsonDocument(QJsonObject{{"text", text}}).toJson().toStdString(), "application/json");
        });
        server_.start();
        JsonFileDefaultsStore defaults(home_.defaultsFile());
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.onlineFeaturesEnabled = true;
        settings.targetLanguage = AppLanguage::english;
        settings.messageTargetLanguage = AppLanguage::spanish;
        settings.telemetryEnabled = false;
        settings.selectionPopupEnabled = false;
        settings.launchAtLoginEnabled = false;
        store.persist(settings);
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
        defaults.setBool(QStringLiteral("sharePromptDisabledForever"), true);
        QProcessEnvironment environment = home_.environment(QUrl(QStringLiteral("http://127.0.0.1:9/unused")));
        environment.insert("TAVROLIN_TEXT_EDITING_ENDPOINT", server_.url(QStringLiteral("/api/text-edits")).toString());
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        test::TavrolinProcessHome::endWithTest(process_);
        process_.start(test::TavrolinProcessHome::executable(), {});
        ready_ = process_.waitForStarted(5000) &&
                 test::waitUntil([&] { return log().contains("launch version="); }, 20s) &&
                 test::waitUntil([&] { return !windows().isEmpty(); }, 10s);
    }
    ~Program() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool isReady() const { return ready_; }
    qint64 pid() const { return process_.processId(); }
    // How long the server thinks before it answers an edit.
    void setEditDelay(std::chrono::milliseconds delay) { editDelayMs_ = static_cast<int>(delay.count()); }
    int edits() const { return edits_.load(); }
    QString log() const {
        QFile file(home_.filePath("state/tavrolin/tavrolin.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // The usage-event lines of one command so far.
    int events(const QString& action) const {
        return static_cast<int>(log().count(QStringLiteral("event action=") + action + ' '));
    }
    bool waitForEvents(const QString& action, int count) const {
        return test::waitUntil([&] { return events(action) >= count; }, 20s);
    }
    // The last usage-event line of one command.
    QString lastEvent(const QString& action) const {
        const QStringList lines = log().split('\n');
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->contains(QStringLiteral("event action=") + action + ' ')) {
                return *line;
            }
        }
        return {};
    }
    QStringList windows() const {
        return tool("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(process_.processId())})
            .split('\n', Qt::SkipEmptyParts);
    }

private:
    std::atomic<int> editDelayMs_{0};
    std::atomic<int> edits_{0};
    test::LocalHttpServer server_;  // ends before the counters its answers use
    test::TavrolinProcessHome home_;
    QProcess process_;
    bool ready_ = false;
};

// Control+Shift and the key, as the user presses them.
void press(const char* key) {
    tool("xdotool", {"key", "--clearmodifiers", QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key))});
}

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

// One browser and one program for the whole suite.
template <TestBrowser::Kind kind>
class BrowserFieldsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!TestBrowser::program(kind)) {
            return;
        }
        program_ = new Program();
        browser_ = new TestBrowser(kind);
    }
    static void TearDownTestSuite() {
        delete browser_;
        browser_ = nullptr;
        delete program_;
        program_ = nullptr;
    }
    void SetUp() override {
        if (!TestBrowser::program(kind)) {
            GTEST_SKIP() << TestBrowser::name(kind) << " is not installed (make test installs it)";
        }
        ASSERT_TRUE(program_->isReady()) << program_->log().toStdString();
        ASSERT_TRUE(browser_->isReady()) << browser_->error().toStdString();
        ASSERT_TRUE(browser_->activate());
    }

    // Puts `text` into the element, runs the command and waits for its usage event; answers
    // the element's text once it no longer holds `text` (or the last one seen).
    QString runOn(Element element, const QString& text, Selection selection, const char* key, const QString& action) {
        EXPECT_TRUE(browser_->prepare(element, text, selection)) << describe(element);
        const int before = program_->events(action);
        press(key);
        EXPECT_TRUE(program_->waitForEvents(action, before + 1)) << program_->log().toStdString();
        const std::optional<QString> now = browser_->waitForText(
            element, [&](const QString& current) { return current != text; }, 5s);
        return now.value_or(QString());
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
    // element then holds the command's result and nothing else, every time. What a command
    // makes of its text is taken from its first run (where it must hold none of the original)
    // and every later run must leave the same.
    void leavesExactlyTheResult(std::initializer_list<Element> elements) {
        struct Command {
            const char* key;
            QString action;
            QString text;
        };
        const Command commands[] = {
            {"w", "translate_message", english}, {"e", "edit_text", misspelt}, {"f", "flip_language", spanish}};
        const std::chrono::milliseconds holds[] = {40ms, 120ms, 200ms, 270ms, 340ms};
        std::map<QString, QString> results;
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

    static inline Program* program_ = nullptr;
    static inline TestBrowser* browser_ = nullptr;
};

using FirefoxFieldsDesktopTest = BrowserFieldsTest<TestBrowser::Kind::firefox>;
using ChromiumFieldsDesktopTest = BrowserFieldsTest<TestBrowser::Kind::chromium>;

TEST_F(FirefoxFieldsDesktopTest, WriteEditAndFlipLeaveExactlyTheirResultInEveryField) {
    leavesExactlyTheResult({Element::textarea, Element::input, Element::editable});
}

TEST_F(ChromiumFieldsDesktopTest, WriteEditAndFlipLeaveExactlyTheirResultInAnEditableRegion) {
    leavesExactlyTheResult({Element::editable});
}

// The user goes on typing while the server works on the text: the field keeps every key, and
// the corrected text is offered in the copy window instead of overwriting it.
TEST_F(FirefoxFieldsDesktopTest, TextTypedWhileTheServerThinksIsKeptAndTheResultOffered) {
    ASSERT_TRUE(browser_->prepare(Element::textarea, misspelt, Selection::caretAtEnd));
    program_->setEditDelay(2500ms);
    const int asked = program_->edits();
    const int before = program_->events("edit_text");
    press("e");
    EXPECT_TRUE(test::waitUntil([&] { return program_->edits() > asked; }, 10s)) << program_->log().toStdString();
    const QString typed = QStringLiteral(" 0123456789");
    tool("xdotool", {"type", "--delay", "120", typed});
    EXPECT_TRUE(program_->waitForEvents("edit_text", before + 1)) << program_->log().toStdString();
    program_->setEditDelay(0ms);
    EXPECT_EQ(browser_->text(Element::textarea), misspelt + typed);
    EXPECT_TRUE(program_->lastEvent("edit_text").contains("success=false"))
        << program_->lastEvent("edit_text").toStdString();
    EXPECT_TRUE(
        test::waitUntil([&] { return test::accessibleTextBoxContents(program_->pid()).contains(corrected); }, 5s))
        << test::accessibleTextBoxContents(program_->pid()).join(" | ").toStdString();
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

TEST_F(FirefoxFieldsDesktopTest, WriteAndFlipReplaceTheTextOfEveryField) {
    replacesEveryField();
}

TEST_F(ChromiumFieldsDesktopTest, WriteAndFlipReplaceTheTextOfEveryField) {
    replacesEveryField();
}

// Firefox keeps reporting its field as focused when another program comes to the front, so
// the last focus event names a field behind the front window. With a terminal in front (which
// publishes nothing) the commands must leave that field alone, and end at once.
TEST_F(FirefoxFieldsDesktopTest, AFieldFocusedBehindTheFrontProgramIsLeftAlone) {
    ASSERT_TRUE(browser_->prepare(Element::textarea, english, Selection::caretAtEnd));
    QProcess terminal;
    terminal.start("xterm", {"-title", "front-terminal", "-e", "sleep", "60"});
    ASSERT_TRUE(terminal.waitForStarted(5000));
    const QString terminalPid = QString::number(terminal.processId());
    ASSERT_TRUE(test::waitUntil(
        [&] {
            return tool("xdotool", {"getactivewindow", "getwindowpid"}) == terminalPid;
        },
        10s));
    const int written = program_->events("translate_message");
    const int flipped = program_->events("flip_language");
    QElapsedTimer timer;
    timer.start();
    press("w");
    EXPECT_TRUE(program_->waitForEvents("translate_message", written + 1)) << program_->log().toStdString();
    EXPECT_LT(timer.elapsed(), 1500) << "a terminal has no field: the command ends at once";
    press("f");
    EXPECT_TRUE(program_->waitForEvents("flip_language", flipped + 1)) << program_->log().toStdString();
    EXPECT_EQ(browser_->text(Element::textarea), english);
    EXPECT_EQ(terminal.state(), QProcess::Running) << "the terminal's job was interrupted";
    terminal.kill();
    terminal.waitForFinished(3000);
}

}  // namespace
}  // namespace tavrolin
