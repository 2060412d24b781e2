#pragma once

// What the benchmarks that drive a built program (the real executable, started afresh) share:
// waiting on the event loop, pressing keys as the user does, and one run of the program with its
// settings and its log in a private home.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/session/tavrolin_process_home.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>

namespace tavrolin::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

inline void pause(std::chrono::milliseconds time) {
    waitUntil([] { return false; }, time);
}

// Control+Shift and a key, held 0.1 s as a person holds them.
inline void pressChord(const QString& chord) {
    QProcess::startDetached(QStringLiteral("xdotool"), {"keydown", chord, "sleep", "0.1", "keyup", chord});
}

inline void pressKey(const QString& key) {
    QProcess::execute(QStringLiteral("xdotool"), {"key", key});
}

// The split of one run on the focused field, as its `focused field steps` log line gives it.
struct FieldSteps {
    double fieldMs = -1;
    double writeMs = -1;
    double checkMs = -1;
};

// One program's private home and run: settings written before it starts (native Spanish, messages
// in English), its log in a file.
class ProgramRun {
public:
    ProgramRun(const QString& executable, bool online, const QUrl& server) {
        JsonFileDefaultsStore defaults(home_.defaultsFile());
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.targetLanguage = AppLanguage::spanish;
        settings.messageTargetLanguage = AppLanguage::english;
        settings.onlineFeaturesEnabled = online;
        settings.telemetryEnabled = false;
        settings.selectionPopupEnabled = false;
        settings.launchAtLoginEnabled = false;
        settings.overlayMinimumDisplayDuration = 0;
        store.persist(settings);
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
        defaults.setBool(QStringLiteral("sharePromptDisabledForever"), true);
        defaults.flush();  // the store writes on a thread of its own: the program must find the file written

        process_.setProcessEnvironment(home_.environment(server));
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(executable, {});
        // The shortcuts are registered just after the launch line.
        ready_ = waitUntil([&] { return count("launch version=") > 0; }, 30s);
        pause(700ms);
    }
    ~ProgramRun() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    bool ready() const { return ready_ && process_.state() == QProcess::Running; }
    QByteArray log() const {
        QFile file(home_.filePath("state/tavrolin/tavrolin.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    int count(const QByteArray& part) const { return int(log().count(part)); }
    // The milliseconds from the last line holding `from` to the last holding `to` after it, by
    // the log's own times; absent when either is missing.
    std::optional<double> logged(const QByteArray& from, const QByteArray& to) const {
        const QList<QByteArray> lines = log().split('\n');
        std::optional<QDateTime> start;
        std::optional<QDateTime> end;
        for (const QByteArray& line : lines) {
            const QDateTime time =
                QDateTime::fromString(QString::fromLatin1(line.left(line.indexOf(' '))), Qt::ISODateWithMs);
            if (line.contains(from)) {
                start = time;
                end.reset();
            } else if (start && line.contains(to)) {
                end = time;
            }
        }
        return start && end ? std::optional<double>(double(start->msecsTo(*end))) : std::nullopt;
    }
    // The last run's split on the focused field; -1 where the log has none.
    FieldSteps lastFieldSteps() const {
        const QList<QByteArray> lines = log().split('\n');
        FieldSteps steps;
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (!it->contains("focused field steps ")) {
                continue;
            }
            const QString line = QString::fromLatin1(*it);
            const auto value = [&line](const char* key) {
                const QRegularExpressionMatch match =
                    QRegularExpression(QLatin1String(key) + QStringLiteral("=(\\d+)")).match(line);
                return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
            };
            steps = FieldSteps{value("field_ms"), value("write_ms"), value("check_ms")};
            break;
        }
        return steps;
    }
    void printLogTail() const {
        const QList<QByteArray> lines = log().split('\n');
        for (qsizetype i = std::max<qsizetype>(0, lines.size() - 12); i < lines.size(); ++i) {
            std::fprintf(stderr, "  log: %s\n", lines[i].constData());
        }
    }

private:
    test::TavrolinProcessHome home_;
    QProcess process_;
    bool ready_ = false;
};

}  // namespace tavrolin::bench
