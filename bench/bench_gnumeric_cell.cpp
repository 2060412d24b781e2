// Write Message on a selected Gnumeric cell, as the user feels it: from the key press (xdotool,
// the chord held 0.1 s) to the command's usage-event line in the log, offline (Apertium from
// Spanish to English), with the log's `focused field steps` split of each run (the field's read,
// the write and its check). Gnumeric publishes no accessible text for its cells: the cell is read
// and written by keystrokes and the clipboard. Each press starts from the Spanish text typed into
// the cell (the cell then selected, not edited) and the clipboard owned by another program (this
// one); after the run the cell is copied here and must hold the English result.
// Usage: bench_gnumeric_cell [--rounds N] [--presses N] [PROGRAM...]. Each PROGRAM is a tavrolin
// executable (this build's when none is named); the rounds go through the programs in turn, each
// started afresh with its own Gnumeric, so that the builds of one series share the machine's load
// alike. The first press of each round (start-up costs included) is reported apart. Runs inside
// the desktop session; skipped when Gnumeric is not installed (`make test` installs it).
#include "program_run.h"
#include "support/session/tavrolin_process_home.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tavrolin;
using namespace std::chrono_literals;
using bench::pause;
using bench::waitUntil;

namespace {

const QString spanish = QStringLiteral("Me gusta el coche rojo de mi hermano.");
const QString expected = QStringLiteral("red");

QString tool(const QStringList& arguments) {
    return test::toolOutput(QStringLiteral("xdotool"), arguments);
}

// Gnumeric with a sheet of one cell, in front, that cell selected.
class Gnumeric {
public:
    Gnumeric() {
        const QString file = dir_.filePath(QStringLiteral("note.csv"));
        QFile sheet(file);
        if (!dir_.isValid() || !sheet.open(QIODevice::WriteOnly)) {
            return;
        }
        sheet.write(spanish.toUtf8());
        sheet.close();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("gnumeric"), {file});
        if (!process_.waitForStarted(5000)) {
            return;
        }
        waitUntil(
            [&] {
                window_ =
                    tool({"search", "--onlyvisible", "--pid", QString::number(process_.processId()), "--name", "note"})
                        .section('\n', 0, 0);
                return !window_.isEmpty();
            },
            30s);
        ready_ = !window_.isEmpty() && activate();
        pause(1500ms);  // the sheet is laid out after its window shows
    }
    ~Gnumeric() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    bool ready() const { return ready_; }
    bool activate() {
        return waitUntil(
            [&] {
                tool({"windowactivate", window_});
                return waitUntil([&] { return tool({"getactivewindow"}) == window_; }, 1s);
            },
            15s);
    }
    // The Spanish text typed into the first cell, which is left selected; the clipboard this
    // program's own.
    void reset() {
        activate();
        tool({"key", "--clearmodifiers", "ctrl+Home"});
        tool({"type", "--delay", "5", spanish});
        tool({"key", "Return", "ctrl+Home"});
        QGuiApplication::clipboard()->setText(QStringLiteral("the user's copy"));
        pause(300ms);
    }
    // What the first cell holds, copied.
    QString cell() {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("before the copy"));
        pause(100ms);
        tool({"key", "--clearmodifiers", "ctrl+c"});
        QString text;
        waitUntil(
            [&] {
                text = clipboard->text();
                return text != QLatin1String("before the copy");
            },
            3s);
        tool({"key", "Escape"});  // the copied cell's mark off
        return text;
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString window_;
    bool ready_ = false;
};

struct Press {
    double ms = -1;
    bench::FieldSteps steps;
};

// The first press and `presses` more of one program, each in a fresh round; empty when one failed.
std::vector<Press> writes(const QString& executable, int presses) {
    bench::ProgramRun program(executable, false, QUrl(QStringLiteral("http://127.0.0.1:9/")));
    Gnumeric gnumeric;
    if (!program.ready() || !gnumeric.ready()) {
        std::fprintf(stderr, "%s or Gnumeric did not start\n", qPrintable(executable));
        return {};
    }
    const QByteArray ended = "event action=translate_message trigger=hotkey";
    std::vector<Press> done;
    for (int press = 0; press <= presses; ++press) {
        gnumeric.reset();
        const int before = program.count(ended);
        const auto start = bench::Clock::now();
        bench::pressChord(QStringLiteral("ctrl+shift+w"));
        if (!waitUntil([&] { return program.count(ended) > before; }, 30s)) {
            std::fprintf(stderr, "press %d: the command did not end\n", press + 1);
            program.printLogTail();
            return {};
        }
        const double ms = bench::milliseconds(bench::Clock::now() - start);
        pause(300ms);
        const QString cell = gnumeric.cell();
        if (!cell.contains(expected)) {
            std::fprintf(stderr, "press %d: the cell holds \"%s\"\n", press + 1, qPrintable(cell));
            program.printLogTail();
            return {};
        }
        done.push_back(Press{ms, program.lastFieldSteps()});
    }
    return done;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void print(const QString& executable, int round, const std::vector<Press>& presses) {
    if (presses.empty()) {
        std::printf("round %d  %s: failed\n", round, qPrintable(executable));
        return;
    }
    std::vector<double> ms;
    std::vector<double> field;
    std::vector<double> check;
    for (auto it = presses.begin() + 1; it != presses.end(); ++it) {
        ms.push_back(it->ms);
        field.push_back(it->steps.fieldMs);
        check.push_back(it->steps.checkMs);
    }
    std::printf("round %d  %s: first %.0f ms; median %.0f ms (read %.0f ms, check %.0f ms); presses", round,
                qPrintable(executable), presses.front().ms, median(ms), median(field), median(check));
    for (double time : ms) {
        std::printf(" %.0f", time);
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    int rounds = 1;
    int presses = 5;
    QStringList programs;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--rounds") && i + 1 < arguments.size()) {
            rounds = std::max(1, arguments[++i].toInt());
        } else if (arguments[i] == QLatin1String("--presses") && i + 1 < arguments.size()) {
            presses = std::max(1, arguments[++i].toInt());
        } else {
            programs.append(QFileInfo(arguments[i]).absoluteFilePath());
        }
    }
    if (QStandardPaths::findExecutable(QStringLiteral("gnumeric")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        std::printf("skipped: needs Gnumeric and xdotool\n");
        return 0;
    }
    if (programs.isEmpty()) {
        programs.append(QStringLiteral(TAVROLIN_EXECUTABLE));
    }
    bool complete = true;
    for (int round = 1; round <= rounds; ++round) {
        for (const QString& program : programs) {
            const std::vector<Press> done = writes(program, presses);
            print(program, round, done);
            complete = complete && !done.empty();
        }
    }
    return complete ? 0 : 1;
}
