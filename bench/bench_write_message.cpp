// Write Message from the key press to the translated field: the application's delegate, built
// as the program builds it, with its shortcuts registered, translates one English sentence in
// the foreign test application's line edit into Spanish on this machine (Apertium). The first
// press after start-up (pipeline cold) is reported as the counter cold_ms; the measured
// iterations run with the pipeline warm. The three steps of the command are measured apart over
// the same accessor and translation client: reading the field, translating, replacing.
// Runs inside the desktop session (`make bench`) against the test build's foreign application.
// BM_WriteMessageKeyToFirefoxPage does the same in the textarea of the tests' page in Firefox
// ESR (when installed), whose accessibility writes are answered as done and change nothing: the
// field is read back and the text pasted. The page reports its textarea's text to the benchmark.
#include "bench_delegate.h"
#include "bench_support.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/server_backed_translation_client.h"
#include "platform/desktop_backend.h"
#include "platform/front_application.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "shell/app_delegate.h"
#include "support/test_browser.h"

#include <QApplication>
#include <QElapsedTimer>

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
        delegate = bench::makeOfflineDelegate(AppLanguage::english, AppLanguage::spanish);
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

// Built by the first benchmark that needs it and ended in main, before the application object:
// its windows and the delegate cannot outlive QApplication.
std::unique_ptr<Session>& sessionHolder() {
    static std::unique_ptr<Session> shared;
    return shared;
}

Session& session() {
    std::unique_ptr<Session>& shared = sessionHolder();
    if (!shared) {
        shared = std::make_unique<Session>();
    }
    return *shared;
}

// Firefox ESR on the tests' page, started by the first Firefox benchmark and ended before the
// application object goes.
std::unique_ptr<test::TestBrowser>& firefoxPage() {
    static std::unique_ptr<test::TestBrowser> page;
    return page;
}

// Milliseconds from the key press until the page's textarea holds the translation; negative
// on failure. The sentence is put back, with the caret at its end, before each press.
double pressInFirefoxAndWait(Session& s, test::TestBrowser& page) {
    using Element = test::TestBrowser::Element;
    if (!page.prepare(Element::textarea, sentence, test::TestBrowser::Selection::caretAtEnd)) {
        return -1;
    }
    // Firefox's accessible text follows the page a moment later, and the previous run's paste
    // holds the user's clipboard away for 0.3 s: the press comes once both have settled.
    QElapsedTimer settle;
    settle.start();
    spinUntil([&] { return settle.elapsed() >= 400; }, 1000);
    QElapsedTimer timer;
    timer.start();
    s.keys.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W);
    double elapsed = -1;
    page.waitForText(
        Element::textarea,
        [&](const QString& text) {
            if (text.contains(QStringLiteral("mañana"))) {
                elapsed = double(timer.nsecsElapsed()) / 1e6;
                return true;
            }
            return false;
        },
        std::chrono::seconds(30));
    spinUntil([&] { return !s.delegate->isMessageTranslationInProgress(); }, 10000);
    return elapsed;
}

void BM_WriteMessageKeyToField(benchmark::State& state) {
    static std::optional<double> cold;
    Session& s = session();
    tavrolin::bench::timeKeyPresses(
        state, s.ready, cold, [&s] { return s.pressAndWait(); }, "the field was not translated");
}
BENCHMARK(BM_WriteMessageKeyToField)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10)->Repetitions(3);

void BM_Step1_ReadField(benchmark::State& state) {
    Session& s = session();
    if (!s.ready) {
        state.SkipWithError("needs the test application and the desktop session");
        return;
    }
    s.app.setText("line", sentence);
    for (auto _ : state) {
        const auto snapshot = finish(s.delegate->services().focusedTextFieldAccessor()->readFocusedField());
        if (!snapshot || snapshot->fullText != sentence) {
            state.SkipWithError("the field was not read");
            return;
        }
    }
}
BENCHMARK(BM_Step1_ReadField)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_Step2_TranslateEnglishToSpanish(benchmark::State& state) {
    Session& s = session();
    const auto client = s.delegate->services().translationClient();
    for (auto _ : state) {
        const auto result =
            finish(client->translate(QStringList{sentence}, AppLanguage::english, AppLanguage::spanish));
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
    const auto accessor = s.delegate->services().focusedTextFieldAccessor();
    for (auto _ : state) {
        state.PauseTiming();
        s.app.setText("line", sentence);
        const auto snapshot = finish(accessor->readFocusedField());
        state.ResumeTiming();
        if (!snapshot ||
            !finish(accessor->replaceFocusedFieldText(QStringLiteral("Me gustaría verte mañana."), *snapshot))) {
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
    std::unique_ptr<test::TestBrowser>& page = firefoxPage();
    if (!page && test::TestBrowser::program(test::TestBrowser::Kind::firefox)) {
        page = std::make_unique<test::TestBrowser>(test::TestBrowser::Kind::firefox);
    }
    test::TestBrowser* p = page.get();
    tavrolin::bench::timeKeyPresses(
        state, s.ready && p && p->isReady(), cold, [&s, p] { return pressInFirefoxAndWait(s, *p); },
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
    sessionHolder().reset();
    firefoxPage().reset();
    return 0;
}
