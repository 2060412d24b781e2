// Write Message from the key press to the translated field: the application's delegate, built
// as the program builds it, with its shortcuts registered, translates one English sentence in
// the foreign test application's line edit into Spanish on this machine (Apertium). The first
// press after start-up (pipeline cold) is reported as the counter cold_ms; the measured
// iterations run with the pipeline warm. The three steps of the command are measured apart over
// the same accessor and translation client: reading the field, translating, replacing.
// Runs inside the desktop session (`make bench`) against the test build's foreign application.
// BM_WriteMessageKeyToFirefoxPage does the same in the textarea of the tests' page in Firefox
// ESR (when installed), whose accessibility writes are answered as done and change nothing: the
// field is read back and the text pasted. The page reports its textarea's text to the benchmark
// on its own input events; it is not polled during a run.
// BM_GuiStallOfFirefoxPastesAmongManyProcesses (only with TAVROLIN_BENCH_EXTRA_PROCESSES=<n>,
// say 5000) starts that many more `sleep` processes and reports the GUI thread's longest stall
// (the largest gap between the ticks of a 1 ms timer) from the key press to the run's end, after
// one warm-up run in the test application; the first run is the program's first paste into
// Firefox, the look at its processes included.
#include "bench_delegate.h"
#include "bench_support.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/server_backed_translation_client.h"
#include "platform/desktop_backend.h"
#include "platform/front_application.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "repeated_benchmark.h"
#include "shell/app_delegate.h"
#include "support/test_browser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <signal.h>
#include <unistd.h>

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

// The GUI thread's longest stall while it runs: the largest gap between the ticks of a 1 ms
// timer (an event loop that turns on time ticks every millisecond or so).
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.nsecsElapsed());
            clock_.restart();
        });
    }
    void start() {
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    void stop() {
        if (timer_.isActive()) {
            timer_.stop();
            longest_ = std::max(longest_, clock_.nsecsElapsed());
        }
    }
    // Milliseconds of the longest stall from start() to stop().
    double longestMs() const { return double(longest_) / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

// Milliseconds from the key press until the page's textarea holds the translation; negative
// on failure. The sentence is put back, with the caret at its end, before each press. `stalls`,
// when given, runs from the key press until the run has ended.
double pressInFirefoxAndWait(Session& s, test::TestBrowser& page, StallMeter* stalls = nullptr) {
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
    if (stalls) {
        stalls->start();
    }
    // The page is not asked for its fields while the program works in it (each answer would make
    // Firefox lay the page out and serialise it amid our keys): it reports its textarea by itself
    // when it changes (reportTextareaChanges), and the run ends at the first report that holds
    // the translation.
    page.forgetTextsSeen();
    s.keys.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W);
    double elapsed = -1;
    spinUntil(
        [&] {
            for (const QString& text : page.textsSeen(Element::textarea)) {
                if (text.contains(QStringLiteral("mañana"))) {
                    elapsed = double(timer.nsecsElapsed()) / 1e6;
                    return true;
                }
            }
            return false;
        },
        30000);
    spinUntil([&] { return !s.delegate->isMessageTranslationInProgress(); }, 10000);
    if (stalls) {
        // The paste's hold is part of the run: the user's clipboard comes back 0.3 s after the
        // fetch.
        QElapsedTimer hold;
        hold.start();
        spinUntil([&] { return hold.elapsed() >= 400; }, 1000);
        stalls->stop();
    }
    return elapsed;
}

// `count` more processes on the machine, `sleep` each, in a process group of their own that
// ends with this object.
class ProcessCrowd {
public:
    explicit ProcessCrowd(int count) {
        shell_.setChildProcessModifier([] { setpgid(0, 0); });
        shell_.start("sh", {"-c", QStringLiteral("for i in $(seq %1); do sleep 600 & done; wait").arg(count)});
        if (!shell_.waitForStarted(5000)) {
            return;
        }
        const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(shell_.processId());
        ready_ = spinUntil(
            [&] {
                QFile file(children);
                return file.open(QIODevice::ReadOnly) && file.readAll().count(' ') >= count;
            },
            120000);
    }
    ~ProcessCrowd() {
        if (shell_.processId() > 0) {
            ::kill(-pid_t(shell_.processId()), SIGKILL);
        }
        shell_.waitForFinished(5000);
    }
    ProcessCrowd(const ProcessCrowd&) = delete;
    ProcessCrowd& operator=(const ProcessCrowd&) = delete;
    bool ready() const { return ready_; }

private:
    QProcess shell_;
    bool ready_ = false;
};

std::unique_ptr<ProcessCrowd>& processCrowd() {
    static std::unique_ptr<ProcessCrowd> crowd;
    return crowd;
}

void BM_WriteMessageKeyToField(benchmark::State& state) {
    static std::optional<double> cold;
    Session& s = session();
    tavrolin::bench::timeKeyPresses(
        state, s.ready, cold, [&s] { return s.pressAndWait(); }, "the field was not translated");
}
TAVROLIN_REPEATED_BENCHMARK(BM_WriteMessageKeyToField, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

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

// Firefox's page, started by the first benchmark that needs it; null when Firefox is missing.
test::TestBrowser* startedFirefoxPage() {
    std::unique_ptr<test::TestBrowser>& page = firefoxPage();
    if (!page && test::TestBrowser::program(test::TestBrowser::Kind::firefox)) {
        page = std::make_unique<test::TestBrowser>(test::TestBrowser::Kind::firefox);
        if (page->isReady() && !page->reportTextareaChanges()) {
            page.reset();
        }
    }
    return page.get();
}

// Last, the Firefox benchmarks: Firefox comes to the front when it starts and stays there. This
// one first, so that its first run is the program's first paste into Firefox.
void BM_GuiStallOfFirefoxPastesAmongManyProcesses(benchmark::State& state) {
    const int extra = qEnvironmentVariableIntValue("TAVROLIN_BENCH_EXTRA_PROCESSES");
    if (extra <= 0) {
        state.SkipWithError("set TAVROLIN_BENCH_EXTRA_PROCESSES=<count> (say 5000) to run it");
        return;
    }
    Session& s = session();
    // The command's own first run (its engines cold) is not what is measured: one run in the
    // test application first, before Firefox comes to the front.
    if (s.ready && !firefoxPage()) {
        s.pressAndWait();
    }
    test::TestBrowser* p = startedFirefoxPage();
    if (!s.ready || !p || !p->isReady()) {
        state.SkipWithError("needs the test application, Firefox, XTest and the desktop session");
        return;
    }
    if (!processCrowd()) {
        processCrowd() = std::make_unique<ProcessCrowd>(extra);
    }
    if (!processCrowd()->ready()) {
        state.SkipWithError("the extra processes did not start");
        return;
    }
    StallMeter stalls;
    double longest = 0;
    std::optional<double> first;
    for (auto _ : state) {
        const double ms = pressInFirefoxAndWait(s, *p, &stalls);
        stalls.stop();
        const double stall = stalls.longestMs();
        if (ms < 0) {
            state.SkipWithError("the page's field was not translated");
            return;
        }
        first = first.value_or(stall);
        longest = std::max(longest, stall);
        state.SetIterationTime(stall / 1000.0);
    }
    state.counters["extra_processes"] = extra;
    state.counters["first_paste_stall_ms"] = first.value_or(0);
    state.counters["longest_stall_ms"] = longest;
}
BENCHMARK(BM_GuiStallOfFirefoxPastesAmongManyProcesses)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_WriteMessageKeyToFirefoxPage(benchmark::State& state) {
    static std::optional<double> cold;
    Session& s = session();
    test::TestBrowser* p = startedFirefoxPage();
    tavrolin::bench::timeKeyPresses(
        state, s.ready && p && p->isReady(), cold, [&s, p] { return pressInFirefoxAndWait(s, *p); },
        "the page's field was not translated");
}
TAVROLIN_REPEATED_BENCHMARK(BM_WriteMessageKeyToFirefoxPage, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    return tavrolin::bench::runBenchmarks(argc, argv, [] {
        sessionHolder().reset();
        firefoxPage().reset();
        processCrowd().reset();
    });
}
