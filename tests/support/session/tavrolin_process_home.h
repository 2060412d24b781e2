#pragma once

// A private home for one run of the real executable: the path of the built program, its XDG
// folders in a temporary directory, and an environment in which no request leaves the machine.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <sys/prctl.h>

namespace tavrolin::test {

// Runs a desktop tool (xdotool and the like) to its end and answers what it printed, trimmed.
// A window search by xdotool walks the whole window tree and dies of the X error it gets when a
// window goes away during the walk (a browser makes and drops windows all the time; about one
// search in two beside a program that does so without pause): such a run found nothing, it
// did not see the windows, and the search is made again.
inline QString toolOutput(const QString& program, const QStringList& arguments) {
    const bool search = program == QLatin1String("xdotool") && arguments.contains(QLatin1String("search"));
    for (int run = 1;; ++run) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(5000);
        const bool walkBroken = search && process.readAllStandardError().contains("X Error of failed request");
        if (!walkBroken || run == 50) {
            return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
        }
    }
}

class TavrolinProcessHome {
public:
    TavrolinProcessHome() {
        for (const char* folder : {"config/tavrolin", "data", "state", "runtime"}) {
            QDir().mkpath(home_.filePath(QString::fromLatin1(folder)));
        }
        QFile::setPermissions(home_.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool isValid() const { return home_.isValid(); }
    QString path() const { return home_.path(); }
    QString filePath(const QString& name) const { return home_.filePath(name); }
    static QString executable() {
        return qEnvironmentVariable("TAVROLIN_BUILD_DIR") + QStringLiteral("/src/app/tavrolin");
    }
    // The program ends with the test process: a test that dies (a failed Qt assertion aborts it)
    // must not leave the program running, holding the test runner's output open.
    static void endWithTest(QProcess& process) {
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    QString defaultsFile() const { return home_.filePath("config/tavrolin/defaults.json"); }

    // The session's environment with this home's folders, the log in a file, and every server
    // endpoint pointing at `server` (a path that answers nothing unless the test serves it).
    QProcessEnvironment environment(const QUrl& server) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home_.filePath("config"));
        environment.insert("XDG_DATA_HOME", home_.filePath("data"));
        environment.insert("XDG_STATE_HOME", home_.filePath("state"));
        environment.insert("XDG_RUNTIME_DIR", home_.filePath("runtime"));
        environment.insert("TAVROLIN_LOG_BACKEND", "file");
        for (const char* name :
             {"TAVROLIN_TELEMETRY_ENDPOINT", "TAVROLIN_TEXT_TRANSLATION_ENDPOINT", "TAVROLIN_TEXT_EDITING_ENDPOINT",
              "TAVROLIN_TEXT_IMPROVE_ENDPOINT", "TAVROLIN_TEXT_PROMPT_ENDPOINT", "TAVROLIN_TEXT_WRITING_ENDPOINT",
              "TAVROLIN_UPDATE_CHECK_ENDPOINT"}) {
            environment.insert(name, server.toString());
        }
        return environment;
    }

private:
    QTemporaryDir home_;
};

}  // namespace tavrolin::test
