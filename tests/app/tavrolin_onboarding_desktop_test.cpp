// The onboarding window in the real executable: the first-run pages at the first launch, the
// tutorial from the tray menu with its practices driven by the real global shortcuts, and the
// shortcuts going back to their commands once the tutorial is closed. Read as a screen reader
// reads it.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "onboarding/onboarding_view_model.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/session/program_output.h"
#include "support/session/tavrolin_process_home.h"
#include "tavrolin_program_test.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <atspi/atspi.h>
#include <gtest/gtest.h>
#include <mutex>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::programOutput(program, arguments);
}

void pause(std::chrono::milliseconds duration) {
    test::waitUntil([] { return false; }, duration);
}

// The names of every showing accessible object of the application: a label's name is its text.
void collectNames(AtspiAccessible* node, QStringList& names, int depth) {
    if (depth > 40) {
        return;
    }
    if (gchar* name = atspi_accessible_get_name(node, nullptr)) {
        if (*name) {
            names.append(QString::fromUtf8(name));
        }
        g_free(name);
    }
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        if (!child) {
            continue;
        }
        AtspiStateSet* states = atspi_accessible_get_state_set(child);
        const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        if (states) {
            g_object_unref(states);
        }
        if (showing) {
            collectNames(child, names, depth + 1);
        }
        g_object_unref(child);
    }
}

QStringList accessibleNames(qint64 pid) {
    static const bool initialised = (atspi_init(), true);
    Q_UNUSED(initialised);
    QStringList names;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const int count = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!application) {
            continue;
        }
        if (atspi_accessible_get_process_id(application, nullptr) == static_cast<guint>(pid)) {
            collectNames(application, names, 0);
        }
        g_object_unref(application);
    }
    g_object_unref(desktop);
    return names;
}

class TavrolinOnboardingProcessTest : public test::TavrolinProgramTest {
protected:
    void SetUp() override {
        server_.server().Post("/api/text-edits", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            edits_.append(QString::fromStdString(request.body));
            if (failEdits_) {
                response.status = 500;
                return;
            }
            response.set_content(R"({"text":"Edited by the server."})", "application/json");
        });
        TavrolinProgramTest::SetUp();
    }

    void writeSettings() {
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = true;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
            settings.targetLanguage = AppLanguage::russian;
            settings.messageTargetLanguage = AppLanguage::english;
        });
    }

    void start() {
        startProgram(programEnvironment({{"TAVROLIN_TEXT_EDITING_ENDPOINT", "/api/text-edits"}}));
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::waitUntil([&] { return !trayIcons().isEmpty(); }, 15s)) << "no tray icon";
    }

    void stop() { stopProgram(); }
    QStringList windows(const QStringList& filter) const { return programWindows(filter); }
    QString window(const QString& title) const { return windows({"--name", "^" + title + "$"}).value(0); }
    QStringList names() const { return accessibleNames(process_.processId()); }
    bool showing(const QString& text) const { return names().contains(text); }
    QStringList edits() const {
        std::lock_guard lock(mutex_);
        return edits_;
    }
    static void key(const QString& name) {
        run("xdotool", {"key", "--clearmodifiers", name});
        pause(150ms);
    }

    mutable std::mutex mutex_;
    QStringList edits_;
    bool failEdits_ = false;
};

TEST_F(TavrolinOnboardingProcessTest, TheFirstLaunchShowsTwoPagesThatReturnFinishesAndRemembers) {
    {
        QFile empty(home_.defaultsFile());
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        empty.write("{}");
    }
    start();
    ASSERT_TRUE(test::waitUntil([&] { return !window("Welcome to Tavrolin").isEmpty(); }, 10s))
        << "no onboarding window";
    const QString id = window("Welcome to Tavrolin");
    const QString geometry = run("xdotool", {"getwindowgeometry", "--shell", id});
    EXPECT_TRUE(geometry.contains("WIDTH=860")) << geometry.toStdString();
    EXPECT_TRUE(geometry.contains("HEIGHT=620")) << geometry.toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return showing("Step 1 of 2"); }, 10s)) << names().join('|').toStdString();

    run("xdotool", {"windowactivate", "--sync", id});
    pause(300ms);
    key("Return");
    ASSERT_TRUE(test::waitUntil([&] { return showing("Step 2 of 2"); }, 5s)) << names().join('|').toStdString();
    EXPECT_TRUE(showing("Start Using Tavrolin"));
    key("Return");
    ASSERT_TRUE(test::waitUntil([&] { return window("Welcome to Tavrolin").isEmpty(); }, 5s)) << "the window stayed";
    ASSERT_TRUE(test::waitUntil(
        [&] { return JsonFileDefaultsStore(home_.defaultsFile()).integer("onboardingCompletedVersion", 0) == 1; }, 5s));
    stop();

    start();
    pause(1500ms);
    EXPECT_TRUE(window("Welcome to Tavrolin").isEmpty()) << "the onboarding opened again";
}

TEST_F(TavrolinOnboardingProcessTest, TheTutorialPractisesWithTheRealShortcutsThenGivesThemBack) {
    writeSettings();
    start();
    // "Show Tutorial…" comes after the seven commands and "Settings…".
    const QString icon = trayIcons().value(0);
    run("xdotool", {"mousemove", "--window", icon, "5", "5"});
    run("xdotool", {"click", "3"});
    ASSERT_TRUE(test::waitUntil([&] { return trayIcons().size() > 1; }, 3s)) << "the tray menu did not open";
    for (int i = 0; i < 9; ++i) {
        key("Down");
    }
    key("Return");
    ASSERT_TRUE(test::waitUntil([&] { return !window("Welcome to Tavrolin").isEmpty(); }, 10s)) << "no tutorial";
    const QString id = window("Welcome to Tavrolin");
    ASSERT_TRUE(test::waitUntil([&] { return showing("Step 1 of 9"); }, 10s)) << names().join('|').toStdString();

    // To the Edit page, the fourth.
    run("xdotool", {"windowactivate", "--sync", id});
    pause(300ms);
    for (int step = 2; step <= 4; ++step) {
        key("Return");
        ASSERT_TRUE(test::waitUntil([&] { return showing(QStringLiteral("Step %1 of 9").arg(step)); }, 5s))
            << names().join('|').toStdString();
    }
    const QString draft = OnboardingViewModel::defaultEditDraft(AppLanguage::english);
    EXPECT_TRUE(showing("Press Control+Shift+E or click Try."));

    key("ctrl+shift+e");
    ASSERT_TRUE(test::waitUntil([&] { return showing("Edited by the server."); }, 10s))
        << names().join('|').toStdString();
    ASSERT_EQ(edits().size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(edits().at(0).toUtf8()).object().value("text").toString(), draft);

    // Another action's shortcut only names the one this page listens for.
    key("ctrl+shift+w");
    ASSERT_TRUE(test::waitUntil([&] { return showing("This step is listening for Control+Shift+E."); }, 5s))
        << names().join('|').toStdString();
    pause(500ms);
    EXPECT_EQ(edits().size(), 1) << "nothing was sent for Control+Shift+W";

    // A failing server only changes the hint line.
    {
        std::lock_guard lock(mutex_);
        failEdits_ = true;
    }
    key("ctrl+shift+e");
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const QStringList shown = names();
            return std::any_of(shown.begin(), shown.end(),
                               [](const QString& n) { return n.startsWith("Could not run the live demo."); });
        },
        10s))
        << names().join('|').toStdString();
    EXPECT_TRUE(showing("Edited by the server.")) << "the earlier result stays";
    EXPECT_TRUE(showing("Step 4 of 9"));

    // The Dictation page opens the real scratchpad.
    for (int step = 5; step <= 8; ++step) {
        key("Return");
        ASSERT_TRUE(test::waitUntil([&] { return showing(QStringLiteral("Step %1 of 9").arg(step)); }, 5s))
            << names().join('|').toStdString();
    }
    key("ctrl+shift+d");
    ASSERT_TRUE(test::waitUntil([&] { return !window("Dictation Scratchpad").isEmpty(); }, 10s)) << "no scratchpad";
    run("xdotool", {"windowactivate", "--sync", window("Dictation Scratchpad")});
    key("alt+F4");
    ASSERT_TRUE(test::waitUntil([&] { return window("Dictation Scratchpad").isEmpty(); }, 5s));

    // Closed without finishing: the shortcut is the command again.
    run("xdotool", {"windowactivate", "--sync", id});
    key("alt+F4");
    ASSERT_TRUE(test::waitUntil([&] { return window("Welcome to Tavrolin").isEmpty(); }, 5s)) << "the tutorial stayed";
    key("ctrl+shift+d");
    ASSERT_TRUE(test::waitUntil([&] { return !window("Dictation Scratchpad").isEmpty(); }, 10s))
        << "the shortcut did not open the scratchpad";
    EXPECT_TRUE(window("Welcome to Tavrolin").isEmpty());
    EXPECT_EQ(process_.state(), QProcess::Running);
}

}  // namespace
}  // namespace tavrolin
