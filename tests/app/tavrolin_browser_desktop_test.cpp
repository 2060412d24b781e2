// The field commands of the real executable in the programs people write in: Firefox ESR and
// Chromium (no accessibility flag) on a local page, each started once for its suite, and the
// focused field of a program behind the front window left alone. Offline, so the translations
// come from Apertium on this machine.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/async.h"
#include "support/session/tavrolin_process_home.h"
#include "support/test_browser.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using test::TestBrowser;
using Element = TestBrowser::Element;
using Selection = TestBrowser::Selection;

const QString english = QStringLiteral("I would like to meet you tomorrow at the station.");
const QString spanish = QStringLiteral("Me gustaría verte mañana en la estación.");

QString tool(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

// The real program, offline, native English and second language Spanish.
class Program {
public:
    Program() {
        JsonFileDefaultsStore defaults(home_.defaultsFile());
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.onlineFeaturesEnabled = false;
        settings.targetLanguage = AppLanguage::english;
        settings.messageTargetLanguage = AppLanguage::spanish;
        settings.telemetryEnabled = false;
        settings.selectionPopupEnabled = false;
        settings.launchAtLoginEnabled = false;
        store.persist(settings);
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
        defaults.setBool(QStringLiteral("sharePromptDisabledForever"), true);
        process_.setProcessEnvironment(home_.environment(QUrl(QStringLiteral("http://127.0.0.1:9/unused"))));
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
    QStringList windows() const {
        return tool("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(process_.processId())})
            .split('\n', Qt::SkipEmptyParts);
    }

private:
    test::TavrolinProcessHome home_;
    QProcess process_;
    bool ready_ = false;
};

// Control+Shift and the key, as the user presses them.
void press(const char* key) {
    tool("xdotool", {"key", "--clearmodifiers", QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key))});
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

    static inline Program* program_ = nullptr;
    static inline TestBrowser* browser_ = nullptr;
};

using FirefoxFieldsDesktopTest = BrowserFieldsTest<TestBrowser::Kind::firefox>;
using ChromiumFieldsDesktopTest = BrowserFieldsTest<TestBrowser::Kind::chromium>;

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
