// The real executable maps the heavy engines only when a command first needs them: none at
// start, Tesseract with the first window translation, PocketSphinx and the sound server's client
// with the first dictation; libcurl only with a server request.
#include "support/apps/text_fields_app.h"
#include "support/async.h"
#include "support/speech_test_audio.h"
#include "tavrolin_program_test.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

class TavrolinEngineLoadingDesktopTest : public test::TavrolinProgramTest {
protected:
    // The file names of the libraries the program has mapped now.
    QSet<QString> mappedLibraries() const {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(pid_));
        QSet<QString> names;
        if (!maps.open(QIODevice::ReadOnly)) {
            return names;
        }
        static const QRegularExpression library(QStringLiteral("/([^/]+\\.so[^/]*)$"));
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const auto match = library.match(QString::fromLocal8Bit(line.trimmed()));
            if (match.hasMatch()) {
                names.insert(match.captured(1));
            }
        }
        return names;
    }
    bool mapped(const QString& prefix) const {
        const QSet<QString> names = mappedLibraries();
        return std::any_of(names.begin(), names.end(), [&](const QString& name) { return name.startsWith(prefix); });
    }
    std::string mappedEngines() const {
        QStringList found;
        for (const QString& name : mappedLibraries()) {
            for (const char* engine : {"libtavrolin-", "libtesseract", "liblept", "libpocketsphinx", "libsphinxbase",
                                       "libpulse", "libzip", "libcurl", "libnghttp2"}) {
                if (name.startsWith(QLatin1String(engine))) {
                    found << name;
                }
            }
        }
        found.sort();
        return found.join(", ").toStdString();
    }
    static void press(const char* key) {
        test::toolOutput("xdotool", {"key", "--clearmodifiers", QStringLiteral("ctrl+shift+%1").arg(key)});
    }
};

TEST_F(TavrolinEngineLoadingDesktopTest, EnginesAreMappedByTheirFirstUseOnly) {
    ASSERT_TRUE(test::makeGrammarSpeechModel(home_.filePath("data"), QStringLiteral("en-US"), {"close the door"}));
    writeProgramSettings([](AppSettings& settings) {
        settings.onlineFeaturesEnabled = false;
        settings.telemetryEnabled = false;
        settings.selectionPopupEnabled = false;
        settings.targetLanguage = AppLanguage::spanish;
        settings.dictationLanguage = AppLanguage::english;
    });
    QProcessEnvironment environment = programEnvironment();
    environment.insert("PULSE_SERVER", "unix:" + qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse/native");
    startProgram(environment);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(test::waitUntil([&] { return !trayIcons().isEmpty(); }, 15s)) << "no tray icon";
    ASSERT_TRUE(test::waitUntil([&] { return log().contains("launch version="); }, 5s));

    // Idle in the tray: no engine a command loads.
    test::waitUntil([] { return false; }, 1s);
    ASSERT_TRUE(mapped("libQt6Widgets")) << "the maps were not read";
    EXPECT_EQ(mappedEngines(), "");

    // Translate with nothing selected reads the front window: text recognition only.
    test::TextFieldsApp app;
    ASSERT_TRUE(app.isReady());
    ASSERT_TRUE(app.setText("text", QStringLiteral("QUARTERLY BUDGET REVIEW ON THURSDAY")));
    ASSERT_TRUE(app.focus("line"));
    ASSERT_TRUE(test::waitUntil([&] {
        return test::toolOutput("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(app.pid());
    }));
    press("t");
    EXPECT_TRUE(test::waitUntil([&] { return mapped("libtesseract"); }, 60s)) << log().toStdString();
    EXPECT_TRUE(
        test::waitUntil([&] { return log().contains("event action=capture_and_translate_active_window"); }, 60s))
        << log().toStdString();
    EXPECT_TRUE(mapped("libtavrolin-ocr.so"));
    EXPECT_FALSE(mapped("libpocketsphinx")) << mappedEngines();
    EXPECT_FALSE(mapped("libpulse")) << mappedEngines();

    // The scratchpad loads its speech model and records: speech recognition and the microphone.
    // The first key may only dismiss the overlay: pressed until the scratchpad is in front.
    const auto scratchpadActive = [] {
        return test::toolOutput("xdotool", {"getactivewindow", "getwindowname"}) == "Dictation Scratchpad";
    };
    for (int attempt = 0; attempt < 3 && !scratchpadActive(); ++attempt) {
        press("d");
        test::waitUntil(scratchpadActive, 3s);
    }
    ASSERT_TRUE(scratchpadActive()) << log().toStdString();
    EXPECT_TRUE(test::waitUntil([&] { return mapped("libpocketsphinx") && mapped("libpulse-simple"); }, 60s))
        << mappedEngines() << "\n"
        << log().toStdString();
    EXPECT_FALSE(mapped("libzip")) << mappedEngines();
}

}  // namespace
}  // namespace tavrolin
