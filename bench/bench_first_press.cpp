// The first command after the program starts against a later one, as the user feels it: the
// program is started afresh for each series, and the presses come from the keyboard (xdotool,
// each chord held 0.1 s).
//   window translation: Control+Shift+T over the pattern program's English interface window
//     (1280x800), native language Spanish, online features off (Apertium English to Spanish);
//     the press to the log's usage-event line of the shown overlay, for presses 1 to 5.
//   rewrite: Control+Shift+R in the test application's line edit, beside a text field of
//     English, online features on against a local server; the press to the arrival of the
//     request, which leaves once the field and the window's text are read, for presses 1 to 5.
// Usage: bench_first_press [--rounds N] [PROGRAM...]. Each PROGRAM is a tavrolin executable (this
// build's when none is named); the rounds go through the programs in turn, so that the builds of
// one series share the machine's load alike. Run it in a desktop session, under `taskset -c 0,1`
// for a two-core machine.
#include "program_run.h"
#include "support/fakes/local_http_server.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

using namespace tavrolin;
using namespace std::chrono_literals;
using bench::Clock;
using bench::milliseconds;
using bench::pause;
using bench::pressChord;
using bench::pressKey;
using bench::ProgramRun;
using bench::waitUntil;

namespace {

constexpr int presses = 5;

// A test program that prints a line once ready and answers commands on its input.
class Helper {
public:
    Helper(const QString& path, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(path, arguments);
    }
    ~Helper() {
        process_.write("quit\n");
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }
    // The first line of output that starts with `word`.
    QByteArray line(const QByteArray& word) {
        QByteArray found;
        waitUntil(
            [&] {
                while (process_.canReadLine()) {
                    const QByteArray next = process_.readLine().trimmed();
                    if (next.startsWith(word)) {
                        found = next;
                        return true;
                    }
                }
                return process_.state() == QProcess::NotRunning;
            },
            10s);
        return found;
    }
    QByteArray command(const QByteArray& text, const QByteArray& answer) {
        process_.write(text + '\n');
        return line(answer);
    }

private:
    QProcess process_;
};

// The log's split of a window translation: recognising (the start to the chosen translation) and
// translating and drawing (from there to the shown overlay).
struct Split {
    std::optional<double> recognising;
    std::optional<double> translating;
};

// Presses 1 to `presses` of window translation after a fresh start; empty when one failed.
std::vector<double> windowTranslations(const QString& executable, std::vector<Split>& splits) {
    Helper pattern(QStringLiteral(TAVROLIN_PATTERN_PROGRAM),
                   {"--size", "1280", "800", "--pos", "0", "0", "--ui-text", "1280", "800"});
    if (pattern.line("window ").isEmpty()) {
        std::fprintf(stderr, "the pattern program did not show its window\n");
        return {};
    }
    ProgramRun program(executable, false, QUrl(QStringLiteral("http://127.0.0.1:9/")));
    if (!program.ready()) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(executable));
        return {};
    }
    const QByteArray shown = "event action=capture_and_translate_active_window trigger=hotkey";
    std::vector<double> times;
    for (int press = 0; press < presses; ++press) {
        pattern.command("activate", "activated");
        pause(300ms);
        const int before = program.count(shown);
        const auto start = Clock::now();
        pressChord(QStringLiteral("ctrl+shift+t"));
        if (!waitUntil([&] { return program.count(shown) > before; }, 60s)) {
            std::fprintf(stderr, "window translation %d: no overlay\n", press + 1);
            program.printLogTail();
            return {};
        }
        times.push_back(milliseconds(Clock::now() - start));
        const QByteArray started = "workflow start action=capture_and_translate_active_window";
        const QByteArray chosen = "translation: ";
        splits.push_back({program.logged(started, chosen), program.logged(chosen, shown)});
        pause(300ms);
        pressKey(QStringLiteral("Escape"));
        pause(500ms);
    }
    return times;
}

// Presses 1 to `presses` of Rewrite after a fresh start, to the request's arrival; empty when
// one failed.
std::vector<double> rewrites(const QString& executable) {
    test::LocalHttpServer server;
    std::atomic<std::int64_t> arrived{0};
    const QByteArray answer = R"({"text": "Dear team, see you on Thursday."})";
    server.server().Post("/api/text-writes", [&](const httplib::Request&, httplib::Response& response) {
        arrived = Clock::now().time_since_epoch().count();
        response.set_content(answer.toStdString(), "application/json");
    });
    server.server().Post("/api/events",
                         [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    server.start();
    ProgramRun program(executable, true, server.url(QStringLiteral("/api/text-writes")));
    if (!program.ready()) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(executable));
        return {};
    }
    Helper fields(QStringLiteral(TAVROLIN_FIELDS_PROGRAM), {});
    if (fields.line("{").isEmpty()) {
        std::fprintf(stderr, "the text fields program did not start\n");
        return {};
    }
    const auto set = [&](const char* field, const QString& text) {
        fields.command(QByteArray("set ") + field + ' ' + text.toUtf8().toBase64(), "{");
    };
    set("text", QStringLiteral("The quarterly budget review is on Thursday at ten in the large meeting room."));
    std::vector<double> times;
    for (int press = 0; press < presses; ++press) {
        set("line", QStringLiteral("meeting moved"));
        fields.command("focus line", "{");
        pause(500ms);
        arrived = 0;
        const auto start = Clock::now();
        pressChord(QStringLiteral("ctrl+shift+r"));
        if (!waitUntil([&] { return arrived.load() != 0; }, 60s)) {
            std::fprintf(stderr, "rewrite %d: no request\n", press + 1);
            program.printLogTail();
            return {};
        }
        times.push_back(milliseconds(Clock::duration(arrived.load()) - start.time_since_epoch()));
        const bool written = waitUntil(
            [&] {
                const QJsonObject reply = QJsonDocument::fromJson(fields.command("get line", "{")).object();
                return reply.value("text").toString().startsWith(QStringLiteral("Dear team"));
            },
            20s);
        if (!written) {
            std::fprintf(stderr, "rewrite %d: the field was not written\n", press + 1);
            program.printLogTail();
            return {};
        }
    }
    return times;
}

void printSplit(const std::vector<Split>& splits) {
    if (splits.size() != presses) {
        return;
    }
    for (int press : {0, presses - 1}) {
        std::printf("    press %d by the log: recognising %.0f ms, translating and drawing %.0f ms\n", press + 1,
                    splits[press].recognising.value_or(-1), splits[press].translating.value_or(-1));
    }
}

void print(const char* what, const QString& executable, int round, const std::vector<double>& times) {
    if (times.size() != presses) {
        std::printf("%-18s round %d  %s: failed\n", what, round, qPrintable(executable));
        return;
    }
    std::printf("%-18s round %d  %s: first %.0f ms, fifth %.0f ms (first/fifth %.2f); presses", what, round,
                qPrintable(executable), times.front(), times.back(), times.front() / times.back());
    for (double time : times) {
        std::printf(" %.0f", time);
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    int rounds = 1;
    QStringList programs;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--rounds") && i + 1 < arguments.size()) {
            rounds = std::max(1, arguments[++i].toInt());
        } else {
            programs.append(QFileInfo(arguments[i]).absoluteFilePath());
        }
    }
    if (programs.isEmpty()) {
        programs.append(QStringLiteral(TAVROLIN_EXECUTABLE));
    }
    bool complete = true;
    for (int round = 1; round <= rounds; ++round) {
        for (const QString& program : programs) {
            std::vector<Split> splits;
            const std::vector<double> translations = windowTranslations(program, splits);
            print("window translation", program, round, translations);
            printSplit(splits);
            const std::vector<double> rewriteTimes = rewrites(program);
            print("rewrite request", program, round, rewriteTimes);
            complete = complete && translations.size() == presses && rewriteTimes.size() == presses;
        }
    }
    return complete ? 0 : 1;
}
