// The focused-field commands of the real executable under the desktop session: shortcuts
// pressed through XTest over the foreign test application's fields, the engines of this
// machine (Apertium, Hunspell, Tesseract) and the server played by a local HTTP server.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/apps/text_fields_app.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/session/accessible_texts.h"
#include "support/session/tavrolin_process_home.h"
#include "support/session/user_keyboard.h"
#include "tavrolin_program_test.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

using test::accessibleTexts;

class TavrolinWorkflowsDesktopTest : public test::TavrolinProgramTest {
protected:
    void SetUp() override {
        const auto record = [this](const char* path, std::function<QJsonObject(const QJsonObject&)> answer) {
            server_.server().Post(
                path, [this, path, answer](const httplib::Request& request, httplib::Response& response) {
                    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
                    {
                        std::lock_guard lock(mutex_);
                        requests_.append({QString::fromLatin1(path), body});
                    }
                    if (serverDelay_.count() > 0) {
                        std::this_thread::sleep_for(serverDelay_);
                    }
                    if (rawAnswer_) {
                        response.set_content(*rawAnswer_, "application/json");
                        return;
                    }
                    response.set_content(QJsonDocument(answer(body)).toJson().toStdString(), "application/json");
                });
        };
        record("/api/text-translations", [](const QJsonObject& body) {
            QJsonArray translations;
            for (const QJsonValue item : body.value("items").toArray()) {
                translations.append(QJsonObject{
                    {"id", item["id"]},
                    {"text", "[" + body.value("targetLanguage").toString() + "] " + item["text"].toString()}});
            }
            return QJsonObject{{"translations", translations}};
        });
        record("/api/text-edits", [](const QJsonObject& body) {
            return QJsonObject{{"text", body.value("text").toString() + " (edited)"}};
        });
        record("/api/text-writes", [](const QJsonObject&) {
            return QJsonObject{{"text", "Dear team, see you Thursday."}};
        });
        record("/api/text-prompt", [](const QJsonObject& body) {
            return QJsonObject{{"text", "Act as an editor: " + body.value("text").toString()}};
        });
        server_.server().Post("/api/events",
                              [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
        TavrolinProgramTest::SetUp();
    }

    void TearDown() override {
        app_.reset();
        TavrolinProgramTest::TearDown();
    }

    // Native English and second language Spanish, unless said otherwise.
    void writeSettings(bool online, AppLanguage second = AppLanguage::spanish,
                       AppLanguage native = AppLanguage::english) {
        writeProgramSettings([&](AppSettings& settings) {
            settings.onlineFeaturesEnabled = online;
            settings.targetLanguage = native;
            settings.messageTargetLanguage = second;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
        });
    }

    // Starts the program and the test application with `field` holding `text`, focused and in
    // front.
    // `accessible` false: the GTK application without its accessibility bridge, which shows
    // nothing to accessibility; its fields are read and written through the clipboard alone.
    void start(const QString& field, const QString& text, bool accessible = true) {
        startProgram(programEnvironment({{"TAVROLIN_TELEMETRY_ENDPOINT", "/api/events"},
                                         {"TAVROLIN_TEXT_TRANSLATION_ENDPOINT", "/api/text-translations"},
                                         {"TAVROLIN_TEXT_EDITING_ENDPOINT", "/api/text-edits"},
                                         {"TAVROLIN_TEXT_WRITING_ENDPOINT", "/api/text-writes"},
                                         {"TAVROLIN_TEXT_PROMPT_ENDPOINT", "/api/text-prompt"}}));
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::waitUntil([&] { return logged("launch version="); }, 15s)) << log().toStdString();
        // The tray icon comes up just before the shortcuts are registered.
        ASSERT_TRUE(test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s)) << "no tray icon";
        pause(300ms);

        if (accessible) {
            app_ = std::make_unique<test::TextFieldsApp>();
        } else {
            qputenv("NO_AT_BRIDGE", "1");
            app_ = std::make_unique<test::TextFieldsApp>(QStringLiteral("tavrolin_test_gtk_text_fields"));
            qunsetenv("NO_AT_BRIDGE");
        }
        ASSERT_TRUE(app_->isReady());
        describeFieldsWith(
            [this, field] { return app_ ? field + QStringLiteral(": ") + app_->text(field) : QString(); });
        ASSERT_TRUE(app_->setText(field, text));
        ASSERT_TRUE(app_->focus(field));
        ASSERT_TRUE(test::waitUntil([&] {
            return run("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(app_->pid());
        })) << "test application not in front";
    }

    // The user goes on typing in another program, a letter every 200 ms, while Write Message ends
    // in the copy window (the field keeps at most 30 characters). Their keys are up most of the
    // time: the window comes without the keyboard all the same, so every letter lands in their
    // program and none in front of the offered result. `firstLetterAfterTheWindow`: the user only
    // went to the other program, and types once the copy window is up.
    void lettersTypedInAnotherProgramAsTheCopyWindowComesStayThere(const std::function<bool(char)>& type,
                                                                   bool firstLetterAfterTheWindow = false) {
        writeSettings(true, AppLanguage::german);
        serverDelay_ = 3s;
        const QString text = QStringLiteral("Good morning team, how are you");
        start("line", text);
        ASSERT_TRUE(app_->command(QStringLiteral("maxlength line 30")).value("ok").toBool());
        test::TextFieldsApp other(QStringLiteral("tavrolin_test_gtk_text_fields"));
        ASSERT_TRUE(other.isReady());
        ASSERT_TRUE(bringToFront(app_->pid()));
        press("w");
        ASSERT_TRUE(test::waitUntil([&] { return !requests().isEmpty(); }, 30s)) << log().toStdString();
        ASSERT_TRUE(bringToFront(other.pid())) << "the other program did not come to the front";
        ASSERT_TRUE(other.focus("line"));
        if (firstLetterAfterTheWindow) {
            ASSERT_TRUE(test::waitUntil(
                [&] {
                    return !programWindows({"--name", "^Copy Result$"}).isEmpty();
                },
                20s))
                << log().toStdString();
            pause(300ms);  // a window manager's activation would have come by now
        }

        const QString offered = QStringLiteral("[de] ") + text;
        // The copy window's text box, found by what it offers.
        const auto copyWindowTexts = [&] { return test::accessibleTextBoxContents(pid_).filter(offered); };
        const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
        QString typed;
        qsizetype typedWhenShown = -1;
        while (typed.size() < alphabet.size() && (typedWhenShown < 0 || typed.size() < typedWhenShown + 6)) {
            const QChar letter = alphabet[typed.size()];
            ASSERT_TRUE(type(letter.toLatin1()));
            typed += letter;
            pause(200ms);
            if (typedWhenShown < 0 && !programWindows({"--name", "^Copy Result$"}).isEmpty()) {
                typedWhenShown = typed.size();
            }
        }
        ASSERT_GT(typedWhenShown, firstLetterAfterTheWindow ? 0 : 1)
            << "the copy window did not come while the user typed\n"
            << log().toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return other.text("line") == typed; }, 5s))
            << other.text("line").toStdString() << " typed " << typed.toStdString() << ", window up after "
            << typedWhenShown;
        EXPECT_EQ(copyWindowTexts(), QStringList{offered});
        EXPECT_EQ(fieldText(), text);
    }

    static bool typeThroughXTest(char letter) {
        return QProcess::execute("xdotool", {"type", QString(QLatin1Char(letter))}) == 0;
    }

    static void pause(std::chrono::milliseconds duration) {
        QElapsedTimer timer;
        timer.start();
        test::waitUntil([&] { return timer.elapsed() >= duration.count(); }, duration + 1s);
    }

    // Control+Shift and the key, as the user presses them.
    static void press(const char* key) {
        run("xdotool", {"key", "--clearmodifiers", QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key))});
    }

    // The user brings a program forward as a click on its window does: a program's own request
    // to be activated is one the window manager may turn down while another one is in front.
    static bool bringToFront(qint64 pid) {
        const QStringList windows =
            run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)}).split('\n', Qt::SkipEmptyParts);
        if (!windows.isEmpty()) {
            run("xdotool", {"windowactivate", "--sync", windows.first()});
        }
        return test::waitUntil([&] {
            return run("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(pid);
        });
    }

    bool logged(const QString& fragment) const { return log().contains(fragment); }
    // The usage-event lines of one command ("event action=<a> ...").
    QStringList events(const QString& action) const {
        QStringList found;
        for (const QString& line : log().split('\n')) {
            if (line.contains(QStringLiteral("event action=") + action + ' ')) {
                found << line.mid(line.indexOf(QStringLiteral("event action=")));
            }
        }
        return found;
    }
    bool waitForEvent(const QString& action, std::chrono::milliseconds limit = 20s) const {
        return test::waitUntil([&] { return !events(action).isEmpty(); }, limit);
    }
    QList<QPair<QString, QJsonObject>> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Whether an alert of ours shows `title`, read from its accessible labels.
    bool alertShows(const QString& title) const {
        return test::waitUntil([&] { return accessibleTexts(pid_).contains(title); }, 10s);
    }
    QString fieldText(const QString& field = QStringLiteral("line")) const { return app_->text(field); }
    bool fieldBecomes(const std::function<bool(const QString&)>& done, const QString& field = QStringLiteral("line")) {
        return test::waitUntil([&] { return done(app_->text(field)); }, 30s);
    }

    std::chrono::milliseconds serverDelay_{0};
    // When set, every text request is answered with this body as it stands.
    std::optional<std::string> rawAnswer_;
    mutable std::mutex mutex_;
    QList<QPair<QString, QJsonObject>> requests_;
    std::unique_ptr<test::TextFieldsApp> app_;
};

const QString english = QStringLiteral("I would like to meet you tomorrow at the station.");

TEST_F(TavrolinWorkflowsDesktopTest, WriteMessageOfflineTranslatesTheFieldOnThisMachine) {
    writeSettings(false);
    start("line", english);
    press("w");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text.contains(QStringLiteral("mañana")); }))
        << fieldText().toStdString() << log().toStdString();
    ASSERT_TRUE(waitForEvent("translate_message"));
    EXPECT_TRUE(events("translate_message").first().contains("trigger=hotkey hotkey=Control+Shift+W"));
    EXPECT_TRUE(events("translate_message").first().contains("success=true"));
    EXPECT_TRUE(requests().isEmpty()) << "offline, nothing reaches the server";
}

TEST_F(TavrolinWorkflowsDesktopTest, WriteMessageOnlineUsesTheServerForAPairThisMachineLacks) {
    writeSettings(true, AppLanguage::japanese);
    start("line", english);
    press("w");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text == "[ja] " + english; }))
        << fieldText().toStdString() << log().toStdString();
    ASSERT_EQ(requests().size(), 1);
    EXPECT_EQ(requests()[0].first, "/api/text-translations");
}

// A line edit that keeps at most 30 characters takes a longer write cut and answers it as done:
// the field keeps the user's text (never a cut copy of the result), the whole result is offered
// in the copy window, and the run says it failed.
TEST_F(TavrolinWorkflowsDesktopTest, AFieldThatCutsTheResultKeepsTheUsersTextAndOffersTheResultWhole) {
    writeSettings(true, AppLanguage::german);
    const QString text = QStringLiteral("Good morning team, how are you");
    start("line", text);
    ASSERT_TRUE(app_->command(QStringLiteral("maxlength line 30")).value("ok").toBool());
    press("w");
    ASSERT_TRUE(waitForEvent("translate_message")) << log().toStdString();
    EXPECT_TRUE(events("translate_message").first().contains("success=false"))
        << events("translate_message").first().toStdString();
    EXPECT_EQ(fieldText(), text) << log().toStdString();
    const QString offered = QStringLiteral("[de] ") + text;
    EXPECT_TRUE(test::waitUntil([&] { return test::accessibleTextBoxContents(pid_).contains(offered); }, 10s))
        << test::accessibleTextBoxContents(pid_).join(" | ").toStdString();
}

TEST_F(TavrolinWorkflowsDesktopTest, FlipLanguageTurnsSpanishIntoEnglishAndBack) {
    writeSettings(false);
    start("text", QStringLiteral("Me gustaría verte mañana en la estación."));
    press("f");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text.contains("tomorrow"); }, "text"))
        << fieldText("text").toStdString() << log().toStdString();
    ASSERT_TRUE(waitForEvent("flip_language"));
    EXPECT_TRUE(events("flip_language").first().contains("source=es target=en success=true"))
        << events("flip_language").first().toStdString();

    ASSERT_TRUE(app_->setText("text", english));
    press("f");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text.contains(QStringLiteral("mañana")); }, "text"))
        << fieldText("text").toStdString();
}

// A message of two lines, a greeting on the first: Write Message and Flip Language translate each
// line as its own and keep the line break, with no blank at the second line's start and its
// capital kept.
TEST_F(TavrolinWorkflowsDesktopTest, AMessageOfTwoLinesKeepsItsLinesInWriteAndFlip) {
    writeSettings(false);
    start("text", QStringLiteral("Hello Anna,\nI have a red car."));
    press("w");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text.contains("coche"); }, "text"))
        << fieldText("text").toStdString() << log().toStdString();
    EXPECT_EQ(fieldText("text"), QStringLiteral("Hola Anna,\nTengo un coche rojo."));

    press("f");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text.contains("car"); }, "text"))
        << fieldText("text").toStdString() << log().toStdString();
    EXPECT_EQ(fieldText("text"), QStringLiteral("Hello Anna,\nHave a red car."));
}

TEST_F(TavrolinWorkflowsDesktopTest, EditMessageCorrectsSpellingOfflineInTheSecondLanguage) {
    writeSettings(false, AppLanguage::english, AppLanguage::spanish);
    start("line", QStringLiteral("We cannot accomodate this mesage."));
    press("e");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text == "We cannot accommodate this message."; }))
        << fieldText().toStdString() << log().toStdString();
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(TavrolinWorkflowsDesktopTest, EditMessageOnlineAndCreatePromptUseTheServer) {
    writeSettings(true);
    start("line", QStringLiteral("see you soon"));
    press("e");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text == "see you soon (edited)"; }))
        << fieldText().toStdString() << log().toStdString();
    ASSERT_TRUE(waitForEvent("edit_text"));
    press("p");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text == "Act as an editor: see you soon (edited)"; }))
        << fieldText().toStdString() << log().toStdString();
}

TEST_F(TavrolinWorkflowsDesktopTest, RewriteSendsTheTextReadFromTheFrontWindow) {
    writeSettings(true);
    start("line", QStringLiteral("meeting moved"));
    ASSERT_TRUE(app_->setText("text", QStringLiteral("QUARTERLY BUDGET REVIEW ON THURSDAY")));
    ASSERT_TRUE(app_->focus("line"));
    press("r");
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text == "Dear team, see you Thursday."; }))
        << fieldText().toStdString() << log().toStdString();
    ASSERT_EQ(requests().size(), 1);
    const QJsonObject body = requests()[0].second;
    EXPECT_EQ(body.value("fieldText").toString(), "meeting moved");
    const QString windowText = body.value("windowText").toString();
    EXPECT_TRUE(windowText.contains("BUDGET")) << windowText.toStdString();
    EXPECT_FALSE(windowText.contains("Writing")) << "our loading card is not part of the window";
}

TEST_F(TavrolinWorkflowsDesktopTest, OfflineRewriteAndCreatePromptAskForOnlineFeatures) {
    writeSettings(false);
    start("line", QStringLiteral("meeting moved"));
    press("r");
    EXPECT_TRUE(alertShows("Online Features Disabled"));
    ASSERT_TRUE(waitForEvent("write_text"));
    EXPECT_TRUE(events("write_text").first().contains("error=online_features_disabled"));
    // The alert waits for the user; the next command still reaches its own guard.
    press("p");
    ASSERT_TRUE(waitForEvent("create_prompt"));
    EXPECT_TRUE(events("create_prompt").first().contains("error=online_features_disabled"));
    EXPECT_EQ(fieldText(), "meeting moved");
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(TavrolinWorkflowsDesktopTest, ABadServerAnswerEndsInAnAlertAndLeavesTheFieldAlone) {
    writeSettings(true);
    rawAnswer_ = "<html>Bad gateway</html>";
    start("line", QStringLiteral("see you soon"));
    press("e");
    EXPECT_TRUE(alertShows("Edit Message failed")) << log().toStdString();
    ASSERT_TRUE(waitForEvent("edit_text"));
    EXPECT_TRUE(events("edit_text").first().contains("error=text_editing_invalid_response"))
        << events("edit_text").first().toStdString();
    EXPECT_EQ(fieldText(), "see you soon");
}

TEST_F(TavrolinWorkflowsDesktopTest, AnOverlongTextIsNotTranslated) {
    writeSettings(true);
    start("text", QString(5001, QLatin1Char('a')));
    press("w");
    EXPECT_TRUE(alertShows("Text Too Long")) << log().toStdString();
    EXPECT_EQ(fieldText("text").size(), 5001);
}

TEST_F(TavrolinWorkflowsDesktopTest, AnEmptyFieldCannotBeWritten) {
    writeSettings(false);
    start("search", QString());
    press("w");
    EXPECT_TRUE(alertShows("Cannot Write Message")) << log().toStdString();
    ASSERT_TRUE(waitForEvent("translate_message"));
    EXPECT_TRUE(events("translate_message").first().contains("error=focused_text_field_empty"));
}

TEST_F(TavrolinWorkflowsDesktopTest, CorrectTextOfflineFindsNoLocalEdits) {
    writeSettings(false, AppLanguage::english, AppLanguage::spanish);
    start("line", QStringLiteral("This sentence is spelled correctly."));
    press("e");
    EXPECT_TRUE(alertShows("No Local Edits Found")) << log().toStdString();
    EXPECT_EQ(fieldText(), "This sentence is spelled correctly.");
}

TEST_F(TavrolinWorkflowsDesktopTest, ACommandWhileAnotherRunsIsIgnoredAndTheFirstFinishes) {
    writeSettings(true);
    serverDelay_ = 1500ms;
    start("line", QStringLiteral("see you soon"));
    press("e");
    ASSERT_TRUE(test::waitUntil([&] { return !requests().isEmpty(); }, 10s)) << log().toStdString();
    press("w");
    ASSERT_TRUE(waitForEvent("translate_message", 10s));
    EXPECT_TRUE(events("translate_message").first().contains("error=workflow_already_in_progress"));
    ASSERT_TRUE(fieldBecomes([](const QString& text) { return text == "see you soon (edited)"; }))
        << fieldText().toStdString();
    EXPECT_FALSE(accessibleTexts(pid_).contains("Write Message failed"));
    EXPECT_EQ(requests().size(), 1) << "the refused command asked nothing";
}

TEST_F(TavrolinWorkflowsDesktopTest, SwitchingProgramsWhileTheServerThinksLeavesTheOtherProgramAlone) {
    writeSettings(true);
    serverDelay_ = 1500ms;
    start("line", QStringLiteral("meeting moved"));
    test::TextFieldsApp other(QStringLiteral("tavrolin_test_gtk_text_fields"));
    ASSERT_TRUE(other.isReady());
    const QString note = QStringLiteral("a note of the other program");
    ASSERT_TRUE(other.setText("line", note));
    // Rewrite in `field`; the user goes on in the other program before the answer is back.
    const auto rewriteAndSwitch = [&](const QString& field, qsizetype runs) {
        ASSERT_TRUE(bringToFront(app_->pid()));
        ASSERT_TRUE(app_->focus(field));
        const qsizetype asked = requests().size();
        press("r");
        // Rewrite reads the window's text first: in the sanitizer build, Tesseract's allocations
        // through ASan take 7-10 s of a loaded machine before the request goes out.
        ASSERT_TRUE(test::waitUntil([&] { return requests().size() > asked; }, 30s)) << log().toStdString();
        ASSERT_TRUE(bringToFront(other.pid())) << "the other program did not come to the front";
        ASSERT_TRUE(other.focus("line"));
        ASSERT_TRUE(test::waitUntil([&] { return events("write_text").size() == runs; }, 20s)) << log().toStdString();
        pause(500ms);  // a paste would have been fetched by now
        EXPECT_EQ(other.text("line"), note) << field.toStdString();
    };

    // A field that takes text through accessibility gets the answer without the keyboard.
    rewriteAndSwitch("line", 1);
    if (HasFatalFailure()) {
        return;
    }
    EXPECT_EQ(fieldText(), "Dear team, see you Thursday.") << log().toStdString();
    EXPECT_TRUE(events("write_text").last().contains("success=true")) << events("write_text").last().toStdString();

    // A field that only a paste reaches: the answer goes to the copy window instead.
    ASSERT_TRUE(app_->setText("pad", QStringLiteral("lunch on friday")));
    rewriteAndSwitch("pad", 2);
    if (HasFatalFailure()) {
        return;
    }
    EXPECT_EQ(fieldText("pad"), "lunch on friday");
    EXPECT_TRUE(events("write_text").last().contains("error=failed_to_replace_focused_text_field_text"))
        << events("write_text").last().toStdString();
}

// The letters come from the user's keyboard.
TEST_F(TavrolinWorkflowsDesktopTest, LettersTypedInAnotherProgramAsTheCopyWindowComesStayThere) {
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid()) << "no keyboard device of the display's own";
    lettersTypedInAnotherProgramAsTheCopyWindowComesStayThere([&](char letter) { return keyboard.type(letter); });
}

// The letters come through XTest, as an on-screen keyboard, keyboard sharing or a VNC server types
// them for the user.
TEST_F(TavrolinWorkflowsDesktopTest, LettersTypedThroughXTestInAnotherProgramAsTheCopyWindowComesStayThere) {
    lettersTypedInAnotherProgramAsTheCopyWindowComesStayThere(&typeThroughXTest);
}

TEST_F(TavrolinWorkflowsDesktopTest, TheCopyWindowLeavesTheKeyboardToTheProgramTheUserWentTo) {
    lettersTypedInAnotherProgramAsTheCopyWindowComesStayThere(&typeThroughXTest, true);
}

// A program sends a key without a symbol every 300 ms (a vendor key, a tool keeping the session
// awake), from the display's keyboard and through XTest in turn: it types nothing, so Write
// Message in a field read and written by keystrokes goes through.
TEST_F(TavrolinWorkflowsDesktopTest, AKeyWithoutASymbolSentAgainAndAgainStopsNoKeystrokeWrite) {
    const std::optional<unsigned char> unmapped = test::keycodeWithoutSymbol();
    ASSERT_TRUE(unmapped) << "every key of the keyboard map has a symbol";
    writeSettings(true);
    const QString draft = QStringLiteral("see you thursday");
    start("text", draft, false);
    std::atomic<bool> sending{true};
    std::atomic<int> sent{0};
    std::thread sender([&] {
        test::UserKeyboard display;
        test::UserKeyboard xtest(test::UserKeyboard::Device::xtest);
        for (int i = 0; sending; ++i) {
            if ((i % 2 == 0 ? display : xtest).tap(*unmapped)) {
                ++sent;
            }
            std::this_thread::sleep_for(300ms);
        }
    });
    const auto stop = qScopeGuard([&] {
        sending = false;
        sender.join();
    });
    ASSERT_TRUE(test::waitUntil([&] { return sent >= 2; }, 5s)) << "no key could be sent";
    press("w");
    ASSERT_TRUE(waitForEvent("translate_message", 20s)) << log().toStdString();
    EXPECT_TRUE(logged("focused field read by keyboard")) << log().toStdString();
    EXPECT_TRUE(events("translate_message").last().contains("success=true"))
        << events("translate_message").last().toStdString();
    // Translated on this machine: the field holds the result alone, once.
    EXPECT_TRUE(fieldBecomes(
        [&](const QString& now) { return now.count(QStringLiteral("te ves")) == 1 && !now.contains("see"); }, "text"))
        << fieldText("text").toStdString();
}

// A program without accessible text: its field is read by copying, and nothing shows what the
// user types while the server thinks but a second copy right before the paste. The read leaves
// nothing selected: the user pauses, then types on, and every letter lands after their text.
// What was typed stays, and the result is offered in the copy window.
TEST_F(TavrolinWorkflowsDesktopTest, TextTypedWhileTheServerThinksInAFieldReadByCopyingIsKept) {
    writeSettings(true);
    serverDelay_ = 4000ms;
    const QString draft = QStringLiteral("see you thursday");
    start("text", draft, false);
    press("e");
    ASSERT_TRUE(test::waitUntil([&] { return !requests().isEmpty(); }, 10s)) << log().toStdString();
    ASSERT_TRUE(logged("focused field read by keyboard")) << log().toStdString();
    pause(1500ms);
    const QString typed = QStringLiteral(" at noon");
    run("xdotool", {"type", "--delay", "100", typed});
    ASSERT_TRUE(waitForEvent("edit_text")) << log().toStdString();
    pause(500ms);  // a paste would have been fetched by now
    EXPECT_EQ(fieldText("text"), draft + typed) << log().toStdString();
    EXPECT_TRUE(events("edit_text").last().contains("success=false")) << events("edit_text").last().toStdString();
    const QString offered = draft + QStringLiteral(" (edited)");
    EXPECT_TRUE(test::waitUntil([&] { return test::accessibleTextBoxContents(pid_).contains(offered); }, 5s))
        << test::accessibleTextBoxContents(pid_).join(" | ").toStdString();
}

TEST_F(TavrolinWorkflowsDesktopTest, ACommandFromTheTrayMenuRunsOnTheFocusedField) {
    writeSettings(false);
    start("line", english);
    // The tray's menu opens under the pointer and takes the keyboard; the field keeps its
    // window's focus, which is in front again once the menu closes.
    const QStringList icons = programWindows();
    ASSERT_FALSE(icons.isEmpty());
    run("xdotool", {"mousemove", "--window", icons.first(), "5", "5"});
    run("xdotool", {"click", "3"});
    ASSERT_TRUE(test::waitUntil([&] { return programWindows().size() > icons.size(); }, 5s)) << "no menu";
    // The first enabled items offline: Translate, Edit Message, Write Message (Rewrite Message
    // needs online features and is skipped).
    for (int i = 0; i < 3; ++i) {
        run("xdotool", {"key", "Down"});
    }
    run("xdotool", {"key", "Return"});
    ASSERT_TRUE(waitForEvent("translate_message")) << log().toStdString();
    EXPECT_TRUE(events("translate_message").first().contains("trigger=menu"));
}

// Settings left by hand or by a newer version: both switches off and one value this version
// cannot read. Nothing reaches the server (no update check, no usage event, no text) and
// Rewrite asks for online features.
TEST_F(TavrolinWorkflowsDesktopTest, UnreadableSettingsKeepOnlineFeaturesAndStatisticsOff) {
    const QByteArray stored = R"({
        "onboardingCompletedVersion": 1,
        "appSettings": {
            "captureAndTranslateShortcut": {"key": "T", "command": false, "option": false, "shift": true,
                                            "control": true},
            "onlineFeaturesEnabled": false,
            "telemetryEnabled": false,
            "launchAtLoginEnabled": false,
            "messageTargetLanguage": "sv"
        }
    })";
    QFile file(home_.defaultsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(stored);
    file.close();

    start("line", QStringLiteral("meeting moved"));
    press("r");
    EXPECT_TRUE(alertShows("Online Features Disabled"));
    ASSERT_TRUE(waitForEvent("write_text"));
    EXPECT_TRUE(events("write_text").first().contains("error=online_features_disabled"))
        << events("write_text").first().toStdString();
    EXPECT_EQ(fieldText(), "meeting moved");
    EXPECT_EQ(server_.requestCount(), 0);

    stopProgram();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object().value("appSettings"),
              QJsonDocument::fromJson(stored).object().value("appSettings"))
        << "the stored settings stay as they were until the user saves";
}

}  // namespace
}  // namespace tavrolin
