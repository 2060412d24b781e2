// Write Message in LibreOffice Writer: in a document of one typed paragraph, and in the middle
// paragraph of a document of three, from the key press until the command's run has ended (its
// result written and read back), with the application's delegate built as the program builds it,
// offline (Apertium between Spanish and English). One office runs both documents, with a
// spreadsheet open beside them as a user's office often has: the office's own search for its
// focused object walks every cell of an open sheet, so a read that asks it costs seconds.
// The office runs with a profile of its own (a first start builds it), its window is found by
// its title. The shortcut is held for 0.1 s, as a person holds it, or tapped (pressed and released
// at once, as a fast typist does; its failures are counted, not ended on). Each press starts from a text
// put into the paragraph through accessibility, and the text the run left is read back the same
// way. The first press of each document (start-up costs included) is reported as the counter
// cold_ms. Skipped when LibreOffice Writer is not installed (`make bench` installs it); runs
// inside the desktop session.
#include "bench_delegate.h"
#include "bench_support.h"
#include "focused_text/focused_text_field_accessor.h"
#include "platform/accessibility_calls.h"
#include "platform/desktop_backend.h"
#include "platform/front_application.h"
#include "repeated_benchmark.h"
#include "shell/app_delegate.h"
#include "support/session/tavrolin_process_home.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>
#include <memory>

namespace {

using namespace tavrolin;
using tavrolin::bench::finish;
using tavrolin::bench::spinUntil;

QString tool(const QStringList& arguments) {
    return test::toolOutput(QStringLiteral("xdotool"), arguments);
}

std::unique_ptr<AppDelegate>& delegateHolder() {
    static std::unique_ptr<AppDelegate> shared;
    return shared;
}

AppDelegate& delegate() {
    std::unique_ptr<AppDelegate>& shared = delegateHolder();
    if (!shared) {
        shared = bench::makeOfflineDelegate(AppLanguage::spanish, AppLanguage::english);
    }
    return *shared;
}

// The office, with a spreadsheet open.
struct Office {
    QTemporaryDir profile;
    QString program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    QProcess first;
    qint64 pid = 0;
    bool ready = false;

    Office() {
        delegate();
        if (program.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            return;
        }
        first.start(program, arguments(QStringLiteral("calc")));
        if (!first.waitForStarted(5000)) {
            return;
        }
        const QString sheet = openedWindow({}, 90000);
        if (sheet.isEmpty()) {
            return;
        }
        pid = tool({"getwindowpid", sheet}).toLongLong();
        // The first synthetic key of the session makes the X server announce a new keyboard,
        // and the delegate grabs its shortcuts again: that happens here, not in the first press.
        tool({"key", "shift"});
        spinUntil([] { return false; }, 500);
        ready = pid > 0;
    }
    ~Office() {
        if (pid > 0) {
            test::toolOutput(QStringLiteral("kill"), {"-9", QString::number(pid)});
        }
        first.kill();
        first.waitForFinished(3000);
    }

    QStringList arguments(const QString& kind) const {
        return {QStringLiteral("--") + kind, QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile.path()).toString()};
    }
    static QStringList windows() {
        return tool({"search", "--onlyvisible", "--name", " - LibreOffice "}).split('\n', Qt::SkipEmptyParts);
    }
    // A window of the office that was not among `before`, once it shows; "" when none did.
    static QString openedWindow(const QStringList& before, int timeoutMs) {
        QString found;
        spinUntil(
            [&] {
                for (const QString& window : windows()) {
                    if (!before.contains(window)) {
                        found = window;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }
    // A new text document in front, its paragraphs typed (the caret ends in paragraph `caretIn`).
    QString openDocument(const QStringList& paragraphs, int caretIn) {
        const QStringList before = windows();
        if (!QProcess::startDetached(program, arguments(QStringLiteral("writer")))) {
            return {};
        }
        const QString window = openedWindow(before, 30000);
        if (window.isEmpty()) {
            return {};
        }
        tool({"windowactivate", "--sync", window});
        spinUntil([] { return false; }, 500);
        for (int i = 0; i < paragraphs.size(); ++i) {
            if (i > 0) {
                tool({"key", "Return"});
            }
            tool({"type", "--delay", "5", paragraphs[i]});
        }
        for (int i = int(paragraphs.size()) - 1; i > caretIn; --i) {
            tool({"key", "Up"});
        }
        tool({"key", "End"});
        spinUntil([] { return false; }, 300);
        return window;
    }
};

std::unique_ptr<Office>& officeHolder() {
    static std::unique_ptr<Office> shared;
    return shared;
}

Office& office() {
    std::unique_ptr<Office>& shared = officeHolder();
    if (!shared) {
        shared = std::make_unique<Office>();
    }
    return *shared;
}

// One document, in front, with its paragraph under the caret known.
struct Document {
    std::shared_ptr<AccessibilityCalls> calls = systemAccessibilityCalls();
    QString window;
    AccessibleElementHandle paragraph;
    bool ready = false;

    Document(const QStringList& paragraphs, int caretIn) {
        Office& o = office();
        if (!o.ready) {
            return;
        }
        window = o.openDocument(paragraphs, caretIn);
        if (window.isEmpty()) {
            return;
        }
        FocusResolver& resolver = delegate().services().focusedTextFieldAccessor()->focusResolver();
        for (int look = 0; look < 50 && !paragraph; ++look) {
            paragraph = finish(resolver.focusedElement(resolver.frontWindow())).value_or(nullptr);
            if (!paragraph) {
                spinUntil([] { return false; }, 100);
            }
        }
        ready = paragraph != nullptr;
    }

    bool put(const QString& text) {
        const AccessibleElementHandle element = paragraph;
        const auto write = [element, text](Accessibility& ax) {
            return ax.setValue(element, text) && ax.setSelectedRange(element, AccessibleTextRange{text.size(), 0});
        };
        return finish(ask(*calls, write)).value_or(false);
    }
    std::optional<QString> text() {
        const AccessibleElementHandle element = paragraph;
        const auto read = [element](Accessibility& ax) { return ax.value(element); };
        return finish(ask(*calls, read)).value_or(std::nullopt);
    }

    // Milliseconds from the press of Control+Shift+W until the run has ended with `expected` in
    // the paragraph; negative on failure.
    double press(const QString& start, const QString& expected, bool tapped = false) {
        const auto front = defaultFrontApplicationProvider()->frontApplication();
        if (!front || QString::number(front->windowId) != window) {
            tool({"windowactivate", "--sync", window});
            spinUntil([] { return false; }, 300);
        }
        if (!put(start)) {
            return -1;
        }
        spinUntil([] { return false; }, 100);
        AppDelegate& commands = delegate();
        return bench::timeShortcutRun(
            QStringLiteral("w"), [&] { return commands.isMessageTranslationInProgress(); }, [&] { return text(); },
            expected, tapped);
    }
};

const QString spanish = QStringLiteral("Me gustaría verte mañana en la estación.");

std::unique_ptr<Document>& documentHolder(bool alone) {
    static std::unique_ptr<Document> one;
    static std::unique_ptr<Document> three;
    return alone ? one : three;
}

// The document of one paragraph, or of three with the caret in the middle one, opened once.
Document& document(bool alone) {
    std::unique_ptr<Document>& held = documentHolder(alone);
    if (!held) {
        held = alone ? std::make_unique<Document>(QStringList{spanish}, 0)
                     : std::make_unique<Document>(QStringList{QStringLiteral("El coche es rojo."), spanish,
                                                              QStringLiteral("La casa es grande.")},
                                                  1);
    }
    return *held;
}

void timeWrite(benchmark::State& state, bool alone, std::optional<double>& cold) {
    Document& opened = document(alone);
    if (!opened.ready) {
        state.SkipWithError("needs LibreOffice Writer and Calc, xdotool and the desktop session");
        return;
    }
    tavrolin::bench::timeKeyPresses(
        state, true, cold, [&] { return opened.press(spanish, QStringLiteral("tomorrow")); },
        "the command's result is not in the paragraph");
}

void BM_WriteMessageInOneParagraphWriterDocument(benchmark::State& state) {
    static std::optional<double> cold;
    timeWrite(state, true, cold);
}
TAVROLIN_REPEATED_BENCHMARK(BM_WriteMessageInOneParagraphWriterDocument, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_WriteMessageInAParagraphOfThreeInWriter(benchmark::State& state) {
    static std::optional<double> cold;
    timeWrite(state, false, cold);
}
TAVROLIN_REPEATED_BENCHMARK(BM_WriteMessageInAParagraphOfThreeInWriter, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// Thirty taps in the middle paragraph: the time of each that wrote its result, the number that
// did not (counter failed) and the slowest (counter max_ms).
void BM_TappedWriteMessageInAParagraphOfThreeInWriter(benchmark::State& state) {
    Document& opened = document(false);
    if (!opened.ready) {
        state.SkipWithError("needs LibreOffice Writer and Calc, xdotool and the desktop session");
        return;
    }
    int failed = 0;
    double slowest = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const double ms = opened.press(spanish, QStringLiteral("tomorrow"), true);
        failed += ms < 0 ? 1 : 0;
        const double taken = ms < 0 ? double(timer.nsecsElapsed()) / 1e6 : ms;
        slowest = std::max(slowest, taken);
        state.SetIterationTime(taken / 1000.0);
    }
    state.counters["failed"] = failed;
    state.counters["max_ms"] = slowest;
}
TAVROLIN_REPEATED_BENCHMARK(BM_TappedWriteMessageInAParagraphOfThreeInWriter, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
    return tavrolin::bench::runBenchmarks(argc, argv, [] {
        documentHolder(true).reset();
        documentHolder(false).reset();
        officeHolder().reset();
        delegateHolder().reset();
    });
}
