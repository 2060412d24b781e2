#pragma once

// What the benchmarks that drive the foreign test application share: waiting on the event loop,
// running a coroutine to its end, and the application itself (built with the tests).
#include "support/async.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin::bench {

// The main() of a benchmark program: runs the benchmarks the command line names with the
// application (and its event loop) alive, then `beforeExit`, which ends what they kept running
// (a session, a browser, a program) while the application still is.
inline int runBenchmarks(int argc, char** argv, const std::function<void()>& beforeExit = {}) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (beforeExit) {
        beforeExit();
    }
    return 0;
}

// Turns the event loop until `done` or the time is up; answers `done`.
inline bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    return test::waitUntil(done, std::chrono::milliseconds(timeoutMs));
}

// Runs a task to its end on the event loop; none when it failed (the reason goes to stderr) or
// did not end within 30 seconds, so that a stuck run fails its benchmark instead of hanging.
template <typename T>
std::optional<T> finish(QCoro::Task<T> task) {
    auto result = std::make_shared<std::optional<T>>();
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<T> t, std::shared_ptr<std::optional<T>> out, std::shared_ptr<bool> flag) -> QCoro::Task<void> {
        try {
            out->emplace(co_await std::move(t));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "failed: %s\n", error.what());
        }
        *flag = true;
    }(std::move(task), result, done);
    test::waitUntil([&] { return *done; }, std::chrono::seconds(30));
    return *result;
}

// The same for a task without a result: whether it ended without an error.
inline bool finish(QCoro::Task<void> task) {
    auto ended = finish([](QCoro::Task<void> t) -> QCoro::Task<bool> {
        co_await std::move(t);
        co_return true;
    }(std::move(task)));
    return ended.value_or(false);
}

// One press of a shortcut (Control+Shift+`key`), pressed, held and released by a process of its
// own while the event loop here turns, timed from the press to the end of the command it starts
// (`running`); -1 when it did not start and end, or `text` then lacks `expected` (what it holds
// goes to stderr). `tapped`: released at once, as a fast typist's tap is, rather than held 0.1 s.
inline double timeShortcutRun(const QString& key, const std::function<bool()>& running,
                              const std::function<std::optional<QString>()>& text, const QString& expected,
                              bool tapped = false) {
    const QString chord = QStringLiteral("ctrl+shift+") + key;
    QProcess keys;
    QElapsedTimer timer;
    keys.start(QStringLiteral("xdotool"),
               tapped ? QStringList{"key", chord} : QStringList{"keydown", chord, "sleep", "0.1", "keyup", chord});
    timer.start();
    const bool ended = spinUntil(running, 5000) && spinUntil([&] { return !running(); }, 30000);
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    keys.waitForFinished(5000);
    const std::optional<QString> now = text();
    if (!ended || !now || !now->contains(expected)) {
        std::fprintf(stderr, "the field holds: %s\n", now ? qPrintable(*now) : "(nothing readable)");
        return -1;
    }
    return elapsed;
}

// The foreign application with its fields, driven through its stdin commands.
class FieldsApp {
public:
    // One of the test build's foreign programs (they answer the same stdin commands).
    explicit FieldsApp(const QString& program = QStringLiteral("tavrolin_test_app_text_fields"),
                       const QStringList& arguments = {}) {
        const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("../tests/support/" + program);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(path, arguments);
        ready_ = process_.waitForStarted(5000) && reply().value("ready").toBool();
    }
    ~FieldsApp() {
        process_.write("quit\n");
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }
    bool ready() const { return ready_; }
    qint64 pid() const { return process_.processId(); }
    QJsonObject command(const QString& line) {
        process_.write((line + "\n").toUtf8());
        return reply();
    }
    void setText(const QString& field, const QString& text) {
        command("set " + field + " " + QString::fromLatin1(text.toUtf8().toBase64()));
    }
    QString text(const QString& field) { return command("get " + field).value("text").toString(); }

private:
    QJsonObject reply() {
        spinUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; }, 10000);
        return QJsonDocument::fromJson(process_.readLine()).object();
    }
    QProcess process_;
    bool ready_ = false;
};

// Times one shortcut press per iteration: `press` answers the milliseconds from the key press
// until its result showed, or a negative number when it never did. The first press of the run
// (start-up costs included) is reported once as the counter cold_ms.
template <typename Press>
void timeKeyPresses(benchmark::State& state, bool ready, std::optional<double>& cold, Press press,
                    const char* noResult) {
    if (!ready) {
        state.SkipWithError("needs the test application, XTest and the desktop session");
        return;
    }
    if (!cold) {
        cold = press();
    }
    state.counters["cold_ms"] = *cold;
    for (auto _ : state) {
        const double ms = press();
        if (ms < 0) {
            state.SkipWithError(noResult);
            return;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}

}  // namespace tavrolin::bench
