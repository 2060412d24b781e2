// Write Message, Edit Message and Flip Language in GTK 4: in gnome-text-editor's text view and in
// a single-line entry (GtkEntry, of the test build's GTK 4 program): from the key press until the
// command's run has ended (its result written and read back), with the application's delegate
// built as the program builds it, offline (Apertium between Spanish and English, Hunspell's
// English dictionary). The editor itself rather than a test program of our own for the text
// view: what these commands wait for there is GTK 4's accessibility (it takes the focus off its
// field while the shortcut's grab lasts and reports it back only by an event) and the editor's
// own tree (libadwaita, a hundred objects deep in panels), which only the real program has.
// The editor runs as a process of its own (--standalone: not handed to one already running)
// without the documents of earlier runs (--ignore-session); it needs no more than the session's
// accessibility bus, switched on (GTK 4 speaks AT-SPI by default). A GTK 4 entry answers reads
// of its whole text in a way of its own, which the entry's presses go through.
// The shortcut is held for 0.1 s, as a person holds it (GTK 4 gives its field the focus back
// only once the keys are up). Each press starts from a text put into the field through
// accessibility, and the text the run left is read back the same way once the run has ended.
// The first press of each command (start-up costs included) is reported as the counter cold_ms.
// The editor's presses are skipped when it is not installed (`make bench` installs it); runs
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
#include <QWidget>

#include <benchmark/benchmark.h>
#include <memory>

namespace {

using namespace tavrolin;
using tavrolin::bench::finish;
using tavrolin::bench::spinUntil;

// The delegate over this session's settings (native Spanish, messages in English, online
// features off), with its shortcuts registered: one for every field, since a second one could not
// grab the same shortcuts.
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

// Where the commands are pressed: the editor's text view, or the GTK 4 program's entry.
enum class Field { editorText, entry };

// The field's program started, in front, with its field known.
struct EditorSession {
    std::shared_ptr<AccessibilityCalls> calls = systemAccessibilityCalls();
    QProcess editor;
    std::unique_ptr<bench::FieldsApp> app;
    QWidget otherWindow;
    AccessibleElementHandle field;
    quint64 window = 0;
    bool ready = false;

    explicit EditorSession(Field which) {
        delegate();
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            return;
        }
        qint64 pid = 0;
        if (which == Field::editorText) {
            const QString program = QStandardPaths::findExecutable(QStringLiteral("gnome-text-editor"));
            if (program.isEmpty()) {
                return;
            }
            editor.start(program, {QStringLiteral("--standalone"), QStringLiteral("--ignore-session")});
            if (!editor.waitForStarted(5000)) {
                return;
            }
            pid = editor.processId();
        } else {
            app = std::make_unique<bench::FieldsApp>(QStringLiteral("tavrolin_test_gtk4_text_fields"));
            if (!app->ready() || !app->command(QStringLiteral("focus line")).value("ok").toBool()) {
                return;
            }
            pid = app->pid();
        }
        const auto front = defaultFrontApplicationProvider();
        const auto ownWindow = [&]() -> quint64 {
            const auto f = front->frontApplication();
            return f && f->processId == pid ? f->windowId : 0;
        };
        if (!spinUntil([&] { return ownWindow() != 0; }, 15000)) {
            return;
        }
        window = ownWindow();
        // GTK 4 reports which widget has the focus only when that changes: the window gives the
        // focus to one of ours and takes it back, and its field is then the desktop's focused
        // element (looked for up to 5 s, a busy machine's program may take its time).
        otherWindow.setWindowTitle(QStringLiteral("bench_gtk4_editor"));
        otherWindow.resize(200, 100);
        otherWindow.show();
        spinUntil([&] { return otherWindow.isVisible(); }, 5000);
        activate(otherWindow.winId());
        spinUntil([&] { return ownWindow() == 0; }, 5000);
        activate(window);
        spinUntil([&] { return ownWindow() == window; }, 5000);
        FocusResolver& resolver = delegate().services().focusedTextFieldAccessor()->focusResolver();
        for (int look = 0; look < 50 && !field; ++look) {
            field = finish(resolver.focusedElement(resolver.frontWindow())).value_or(nullptr);
            if (!field) {
                spinUntil([] { return false; }, 100);
            }
        }
        // The first synthetic key of the session makes the X server announce a new keyboard,
        // and the delegate grabs its shortcuts again: that happens here, not in the first press.
        test::toolOutput(QStringLiteral("xdotool"), {"key", "shift"});
        spinUntil([] { return false; }, 500);
        ready = field != nullptr;
    }
    ~EditorSession() {
        if (editor.state() != QProcess::NotRunning) {
            editor.terminate();
            if (!editor.waitForFinished(3000)) {
                editor.kill();
                editor.waitForFinished(1000);
            }
        }
    }

    static void activate(quint64 window) {
        test::toolOutput(QStringLiteral("xdotool"), {"windowactivate", "--sync", QString::number(window)});
    }

    // Replaces the editor's text, the caret at its end.
    bool put(const QString& text) {
        const AccessibleElementHandle element = field;
        const auto write = [element, text](Accessibility& ax) {
            return ax.setValue(element, text) && ax.setSelectedRange(element, AccessibleTextRange{text.size(), 0});
        };
        return finish(ask(*calls, write)).value_or(false);
    }
    std::optional<QString> text() {
        const AccessibleElementHandle element = field;
        const auto read = [element](Accessibility& ax) { return ax.value(element); };
        return finish(ask(*calls, read)).value_or(std::nullopt);
    }

    // Milliseconds from the press of Control+Shift+`key` until the command's run has ended with
    // `expected` in the field; negative on failure.
    double press(const QString& key, bool (AppDelegate::*inProgress)() const, const QString& start,
                 const QString& expected) {
        // The other field's window may be in front: this one is brought back first.
        const auto f = defaultFrontApplicationProvider()->frontApplication();
        if (!f || f->windowId != window) {
            activate(window);
            spinUntil([] { return false; }, 300);
        }
        if (!put(start)) {
            return -1;
        }
        // The editor shows the text before the keys come, as it would after the user typed it.
        spinUntil([] { return false; }, 100);
        AppDelegate& commands = delegate();
        return bench::timeShortcutRun(
            key, [&] { return (commands.*inProgress)(); }, [&] { return text(); }, expected);
    }
};

// Built by the first benchmark that needs it and ended in main, before the application object:
// their windows and the delegate cannot outlive QApplication.
std::unique_ptr<EditorSession>& sessionHolder(Field which) {
    static std::unique_ptr<EditorSession> editorText;
    static std::unique_ptr<EditorSession> entry;
    return which == Field::editorText ? editorText : entry;
}

EditorSession& session(Field which) {
    std::unique_ptr<EditorSession>& shared = sessionHolder(which);
    if (!shared) {
        shared = std::make_unique<EditorSession>(which);
    }
    return *shared;
}

// Times one command's presses; the text each starts from, and a word its result holds.
void timeCommand(benchmark::State& state, Field which, std::optional<double>& cold, const QString& key,
                 bool (AppDelegate::*inProgress)() const, const QString& start, const QString& expected) {
    EditorSession& s = session(which);
    if (!s.ready) {
        state.SkipWithError(which == Field::editorText
                                ? "needs gnome-text-editor, xdotool and the desktop session"
                                : "needs the GTK 4 test program, xdotool and the desktop session");
        return;
    }
    tavrolin::bench::timeKeyPresses(
        state, true, cold, [&] { return s.press(key, inProgress, start, expected); },
        "the command's result is not in the field");
}

const QString spanish = QStringLiteral("Me gustaría verte mañana en la estación.");
const QString misspelled = QStringLiteral("I would like to meet you tomorow at the station.");
const QString english = QStringLiteral("I would like to meet you tomorrow at the station.");

void BM_WriteMessageInGtk4Editor(benchmark::State& state) {
    static std::optional<double> cold;
    timeCommand(state, Field::editorText, cold, QStringLiteral("w"), &AppDelegate::isMessageTranslationInProgress,
                spanish, QStringLiteral("tomorrow"));
}
TAVROLIN_REPEATED_BENCHMARK(BM_WriteMessageInGtk4Editor, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_EditMessageInGtk4Editor(benchmark::State& state) {
    static std::optional<double> cold;
    timeCommand(state, Field::editorText, cold, QStringLiteral("e"), &AppDelegate::isTextEditingInProgress, misspelled,
                QStringLiteral("tomorrow"));
}
TAVROLIN_REPEATED_BENCHMARK(BM_EditMessageInGtk4Editor, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_FlipLanguageInGtk4Editor(benchmark::State& state) {
    static std::optional<double> cold;
    timeCommand(state, Field::editorText, cold, QStringLiteral("f"), &AppDelegate::isFlipLanguageInProgress, english,
                QStringLiteral("mañana"));
}
TAVROLIN_REPEATED_BENCHMARK(BM_FlipLanguageInGtk4Editor, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_WriteMessageInGtk4Entry(benchmark::State& state) {
    static std::optional<double> cold;
    timeCommand(state, Field::entry, cold, QStringLiteral("w"), &AppDelegate::isMessageTranslationInProgress, spanish,
                QStringLiteral("tomorrow"));
}
TAVROLIN_REPEATED_BENCHMARK(BM_WriteMessageInGtk4Entry, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_EditMessageInGtk4Entry(benchmark::State& state) {
    static std::optional<double> cold;
    timeCommand(state, Field::entry, cold, QStringLiteral("e"), &AppDelegate::isTextEditingInProgress, misspelled,
                QStringLiteral("tomorrow"));
}
TAVROLIN_REPEATED_BENCHMARK(BM_EditMessageInGtk4Entry, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_FlipLanguageInGtk4Entry(benchmark::State& state) {
    static std::optional<double> cold;
    timeCommand(state, Field::entry, cold, QStringLiteral("f"), &AppDelegate::isFlipLanguageInProgress, english,
                QStringLiteral("mañana"));
}
TAVROLIN_REPEATED_BENCHMARK(BM_FlipLanguageInGtk4Entry, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    return tavrolin::bench::runBenchmarks(argc, argv, [] {
        sessionHolder(Field::editorText).reset();
        sessionHolder(Field::entry).reset();
        delegateHolder().reset();
    });
}
