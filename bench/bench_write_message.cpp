// Write Message from the key press to the translated field: the application's delegate, built
// as the program builds it, with its shortcuts registered, translates one English sentence in
// the foreign test application's line edit into Spanish on this machine (Apertium). The first
// press after start-up (pipeline cold) is reported as the counter cold_ms; the measured
// iterations run with the pipeline warm. The three steps of the command are measured apart over
// the same accessor and translation client: reading the field, translating, replacing.
// Runs inside the desktop session (`make bench`) against the test build's foreign application.
// BM_WriteMessageKeyToFirefoxPage does the same in a textarea of a local page in Firefox ESR
// (when installed), whose accessibility writes are answered as done and change nothing: the
// field is read back and the text pasted. The page puts its textarea's text in its title, which
// is where the translation is read from.
#include "core/app_settings_store.h"
#include "core/standard_defaults.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/server_backed_translation_client.h"
#include "platform/front_application.h"
#include "platform/linux/x11_desktop.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "shell/app_delegate.h"

#include "bench_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace tavrolin;
using tavrolin::bench::FieldsApp;
using tavrolin::bench::finish;
using tavrolin::bench::spinUntil;

const QString sentence = QStringLiteral("I would like to meet you tomorrow at the station.");

// The delegate over this session's settings (native English, second language Spanish, online
// features off), with its shortcuts registered, and the test application in front.
struct Session {
    std::unique_ptr<AppDelegate> delegate;
    FieldsApp app;
    XTestSyntheticInput keys;
    bool ready = false;

    Session() {
        AppSettingsStore store(standardDefaults());
        AppSettings settings = store.settings();
        settings.targetLanguage = AppLanguage::english;
        settings.messageTargetLanguage = AppLanguage::spanish;
        settings.onlineFeaturesEnabled = false;
        settings.telemetryEnabled = false;
        settings.selectionPopupEnabled = false;
        settings.launchAtLoginEnabled = false;
        store.persist(settings);
        delegate = std::make_unique<AppDelegate>();
        delegate->configureSettings();
        if (!app.ready() || !keys.isAvailable()) {
            return;
        }
        app.setText("line", sentence);
        app.command("focus line");
        auto front = defaultFrontApplicationProvider();
        ready = spinUntil(
            [&] {
                const auto f = front->frontApplication();
                return f && f->processId == app.pid();
            },
            5000);
    }

    // Milliseconds from the key press until the field holds the translation; negative on failure.
    double pressAndWait() {
        app.setText("line", sentence);
        QElapsedTimer timer;
        timer.start();
        keys.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W);
        const bool changed = spinUntil([&] { return app.text("line").contains(QStringLiteral("mañana")); }, 30000);
        const double elapsed = double(timer.nsecsElapsed()) / 1e6;
        // The run ends after the field changed; the next press must not find it busy.
        spinUntil([&] { return !delegate->isMessageTranslationInProgress(); }, 10000);
        return changed ? elapsed : -1;
    }
};

Session& session() {
    static Session shared;
    return shared;
}

// Firefox ESR on a profile of its own showing one page: a textarea that holds the sentence with
// the caret at its end. The page's title is "v:" and the textarea's text after every edit; a
// changed text is put back after 300 ms, with the title "ready".
struct FirefoxPage {
    QTemporaryDir folder;
    QProcess firefox;
    std::optional<std::uint32_t> window;
    bool ready = false;

    FirefoxPage() {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
        if (program.isEmpty() || !folder.isValid()) {
            return;
        }
        const QString js = QString::fromLatin1(javaScriptString(sentence));
        write(QStringLiteral("page.html"),
              QStringLiteral("<!doctype html><meta charset=utf-8><title>ready</title>"
                             "<textarea id=t rows=4 cols=60></textarea><script>"
                             "const s=%1;const t=document.getElementById('t');"
                             "function reset(){t.value=s;t.focus();t.setSelectionRange(s.length,s.length);"
                             "document.title='ready';}"
                             "t.addEventListener('input',()=>{document.title='v:'+t.value;"
                             "if(t.value!==s)setTimeout(reset,300);});reset();</script>")
                  .arg(js));
        const char* prefs[] = {
            "browser.shell.checkDefaultBrowser\", false",
            "browser.startup.homepage_override.mstone\", \"ignore\"",
            "startup.homepage_welcome_url\", \"\"",
            "browser.aboutwelcome.enabled\", false",
            "datareporting.policy.dataSubmissionEnabled\", false",
            "toolkit.telemetry.reportingpolicy.firstRun\", false",
            "browser.sessionstore.resume_from_crash\", false",
        };
        QString userJs;
        for (const char* pref : prefs) {
            userJs += QStringLiteral("user_pref(\"%1);\n").arg(QLatin1String(pref));
        }
        write(QStringLiteral("profile/user.js"), userJs);
        firefox.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        firefox.start(program, {"--no-remote", "--new-instance", "--profile", folder.filePath("profile"),
                                QUrl::fromLocalFile(folder.filePath("page.html")).toString()});
        ready = firefox.waitForStarted(5000) &&
                spinUntil([&] { return titleNow().value_or(QString()).startsWith(QStringLiteral("ready")); }, 60000);
    }
    ~FirefoxPage() {
        if (firefox.state() != QProcess::NotRunning) {
            firefox.terminate();
            if (!firefox.waitForFinished(5000)) {
                firefox.kill();
                firefox.waitForFinished(2000);
            }
        }
    }

    // The title of the page's window; the window is the front one named "ready" the first time.
    std::optional<QString> titleNow() {
        const std::vector<WindowListEntry> windows = x11::sharedWindowList()->onScreenWindows();
        for (const WindowListEntry& entry : windows) {
            if (window ? entry.windowNumber == window
                       : entry.name && entry.name->startsWith(QStringLiteral("ready")) && entry.windowNumber) {
                window = entry.windowNumber;
                return entry.name;
            }
        }
        return std::nullopt;
    }

    void write(const QString& name, const QString& text) {
        QDir().mkpath(QFileInfo(folder.filePath(name)).path());
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(text.toUtf8());
        }
    }

    static QByteArray javaScriptString(const QString& text) {
        QByteArray out = "\"";
        for (const QChar c : text) {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += QString(c).toUtf8();
        }
        return out + "\"";
    }
};

// Started by the first Firefox benchmark, ended before the application object goes.
std::unique_ptr<FirefoxPage>& firefoxPage() {
    static std::unique_ptr<FirefoxPage> page;
    return page;
}

// Milliseconds from the key press until the page's textarea holds the translation; negative
// on failure.
double pressInFirefoxAndWait(Session& s, FirefoxPage& page) {
    if (!spinUntil([&] { return page.titleNow().value_or(QString()).startsWith(QStringLiteral("ready")); }, 5000)) {
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    s.keys.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W);
    const bool changed = spinUntil(
        [&] {
            const std::optional<QString> title = page.titleNow();
            return title && title->startsWith(QStringLiteral("v:")) && title->contains(QStringLiteral("mañana"));
        },
        30000);
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    spinUntil([&] { return !s.delegate->isMessageTranslationInProgress(); }, 10000);
    return changed ? elapsed : -1;
}


void BM_WriteMessageKeyToField(benchmark::State& state) {
    static std::optional<double> cold;
    Session& s = session();
    tavrolin::bench::timeKeyPresses(state, s.ready, cold, [&s] { return s.pressAndWait(); }, "the field was not translated");
}
BENCHMARK(BM_WriteMessageKeyToField)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10)
    ->Repetitions(3);

void BM_Step1_ReadField(benchmark::State& state) {
    Session& s = session();
    if (!s.ready) {
        state.SkipWithError("needs the test application and the desktop session");
        return;
    }
    s.app.setText("line", sentence);
    for (auto _ : state) {
        const auto snapshot = finish(s.delegate->focusedTextFieldAccessor()->readFocusedField());
        if (!snapshot || snapshot->fullText != sentence) {
            state.SkipWithError("the field was not read");
            return;
        }
    }
}
BENCHMARK(BM_Step1_ReadField)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_Step2_TranslateEnglishToSpanish(benchmark::State& state) {
    Session& s = session();
    const auto client = s.delegate->translationClient();
    for (auto _ : state) {
        const auto result = finish(client->translate(QStringList{sentence}, AppLanguage::english, AppLanguage::spanish));
        if (!result || result->size() != 1) {
            state.SkipWithError("no translation");
            return;
        }
    }
}
BENCHMARK(BM_Step2_TranslateEnglishToSpanish)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_Step3_ReplaceField(benchmark::State& state) {
    Session& s = session();
    if (!s.ready) {
        state.SkipWithError("needs the test application and the desktop session");
        return;
    }
    const auto accessor = s.delegate->focusedTextFieldAccessor();
    for (auto _ : state) {
        state.PauseTiming();
        s.app.setText("line", sentence);
        const auto snapshot = finish(accessor->readFocusedField());
        state.ResumeTiming();
        if (!snapshot || !finish(accessor->replaceFocusedFieldText(QStringLiteral("Me gustaría verte mañana."), *snapshot))) {
            state.SkipWithError("the field was not replaced");
            return;
        }
    }
}
BENCHMARK(BM_Step3_ReplaceField)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Last: Firefox comes to the front when it starts and stays there.
void BM_WriteMessageKeyToFirefoxPage(benchmark::State& state) {
    static std::optional<double> cold;
    Session& s = session();
    std::unique_ptr<FirefoxPage>& page = firefoxPage();
    if (!page) {
        page = std::make_unique<FirefoxPage>();
    }
    FirefoxPage& p = *page;
    tavrolin::bench::timeKeyPresses(state, s.ready && p.ready, cold, [&s, &p] { return pressInFirefoxAndWait(s, p); },
                                    "the page's field was not translated");
}
BENCHMARK(BM_WriteMessageKeyToFirefoxPage)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10)
    ->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    firefoxPage().reset();
    return 0;
}
