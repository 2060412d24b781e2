#pragma once

// The real program for the desktop tests in the browsers: started once per suite with its browser,
// its server answering Edit Message and Rewrite Message; and the shortcuts as the user presses
// them.
#include "app/x11_window_tools.h"
#include "support/session/accessible_texts.h"
#include "support/test_browser.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace tavrolin::browser_desktop {

using namespace std::chrono_literals;

inline QString tool(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

// The real program, native English and second language Spanish, with the selection buttons;
// online features on for Edit Message, which its local server answers after `editDelayMs`, and
// Rewrite Message, answered once `holdWrites` is let go, counting the requests (the language
// pair of Write Message and Flip Language is translated on this machine all the same).
class Program : public test::TavrolinProgram {
public:
    static inline const QString rewritten = QStringLiteral("Dear team, see you Thursday.");

    Program() {
        killAtEnd_ = true;
        server_.server().Post("/api/text-writes", [this](const httplib::Request&, httplib::Response& response) {
            ++writeRequests;
            for (auto held = 0ms; holdWrites && held < 30s; held += 10ms) {
                std::this_thread::sleep_for(10ms);
            }
            response.set_content(QJsonDocument(QJsonObject{{"text", rewritten}}).toJson().toStdString(),
                                 "application/json");
        });
        server_.server().Post("/api/text-edits", [this](const httplib::Request& request, httplib::Response& response) {
            ++editRequests;
            std::this_thread::sleep_for(std::chrono::milliseconds(editDelayMs.load()));
            const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
            response.set_content(QJsonDocument(QJsonObject{{"text", body.value("text").toString() + " (edited)"}})
                                     .toJson()
                                     .toStdString(),
                                 "application/json");
        });
        server_.start();
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = true;
            settings.targetLanguage = AppLanguage::english;
            settings.messageTargetLanguage = AppLanguage::spanish;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = true;
        });
        JsonFileDefaultsStore(home_.defaultsFile()).setBool(QStringLiteral("sharePromptDisabledForever"), true);
        startProgram(programEnvironment({{"TAVROLIN_TEXT_EDITING_ENDPOINT", "/api/text-edits"},
                                         {"TAVROLIN_TEXT_WRITING_ENDPOINT", "/api/text-writes"}}));
        ready_ = process_.state() == QProcess::Running &&
                 test::waitUntil([&] { return log().contains("launch version="); }, 20s) &&
                 test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s);
        trayIcons_ = programWindows();
    }
    // Ended before the counters its server's handler reads go.
    ~Program() {
        holdWrites = false;
        endProgram();
    }
    bool isReady() const { return ready_; }
    // Closes the copy windows an earlier test left open, as a user would (Escape in them), so
    // that none comes to the front while the next test works in the browser. A window still being
    // mapped when first looked for, or not yet given the focus, is found and tried again.
    bool closeCopyWindows() const {
        const auto copyWindows = [this] { return programWindows({"--name", "^Copy Result$"}); };
        QElapsedTimer elapsed;
        elapsed.start();
        do {
            for (const QString& window : copyWindows()) {
                tool("xdotool", {"windowactivate", "--sync", window, "key", "Escape"});
            }
            if (test::waitUntil([&] { return copyWindows().isEmpty(); }, 1s)) {
                return true;
            }
        } while (elapsed.elapsed() < 6000);
        return false;
    }
    // Whether a copy window comes up within the time given.
    bool copyWindowComes(std::chrono::milliseconds within) const {
        return test::waitUntil([&] { return !programWindows({"--name", "^Copy Result$"}).isEmpty(); }, within);
    }
    qint64 pid() const { return pid_; }
    using TavrolinProgram::log;
    // The usage-event lines of one command so far.
    int events(const QString& action) const {
        return static_cast<int>(log().count(QStringLiteral("event action=") + action + ' '));
    }
    QStringList eventLines(const QString& action) const {
        QStringList found;
        for (const QString& line : log().split('\n')) {
            if (line.contains(QStringLiteral("event action=") + action + ' ')) {
                found << line.mid(line.indexOf(QStringLiteral("event action=")));
            }
        }
        return found;
    }
    bool waitForEvents(const QString& action, int count) const {
        return test::waitUntil([&] { return events(action) >= count; }, 20s);
    }
    // The selection buttons' row: our visible window 28 high.
    std::optional<QRect> buttonRow() const {
        for (const QString& window : programWindows()) {
            const QRect rect = test::windowGeometry(window);
            if (!trayIcons_.contains(window) && rect.height() == 28) {
                return rect;
            }
        }
        return std::nullopt;
    }
    // The copy window, when it is up.
    std::optional<QString> copyWindow() const {
        const QStringList found = programWindows({"--name", "^Copy Result$"});
        return found.isEmpty() ? std::nullopt : std::optional<QString>(found.first());
    }
    std::atomic<int> editRequests{0};
    std::atomic<int> editDelayMs{0};
    std::atomic<int> writeRequests{0};
    std::atomic<bool> holdWrites{false};

private:
    bool ready_ = false;
    QStringList trayIcons_;  // our windows once started
};

// Control+Shift and the key, as the user presses them.
inline void press(const char* key) {
    tool("xdotool", {"key", "--clearmodifiers", QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key))});
}

// One browser and one program for a whole suite.
template <test::TestBrowser::Kind kind>
class BrowserSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!test::TestBrowser::program(kind)) {
            return;
        }
        program_ = new Program();
        browser_ = new test::TestBrowser(kind);
    }
    static void TearDownTestSuite() {
        delete browser_;
        browser_ = nullptr;
        delete program_;
        program_ = nullptr;
    }
    void SetUp() override {
        if (!test::TestBrowser::program(kind)) {
            GTEST_SKIP() << test::TestBrowser::name(kind) << " is not installed (make test installs it)";
        }
        ASSERT_TRUE(program_->isReady()) << program_->log().toStdString();
        ASSERT_TRUE(browser_->isReady()) << browser_->error().toStdString();
    }

    // The page has a <textarea>'s or an <input>'s text at once; Firefox's accessible tree a moment
    // later, a run of text at a time (an emoji, in a font of its own, apart from the words around
    // it). A user presses the shortcut over a field they see whole; so does the test.
    static void waitUntilAccessible(const QString& text, const std::string& what) {
        if (kind != test::TestBrowser::Kind::firefox) {
            return;
        }
        EXPECT_TRUE(test::waitUntil(
            [&] {
                for (QString seen : test::accessibleTextBoxContents(browser_->pid())) {
                    if (seen.remove(QChar(0xFEFF)) == text) {
                        return true;
                    }
                }
                return false;
            },
            5s))
            << what << ": the accessible tree never showed " << text.toStdString();
    }

    static inline Program* program_ = nullptr;
    static inline test::TestBrowser* browser_ = nullptr;
};

}  // namespace tavrolin::browser_desktop
