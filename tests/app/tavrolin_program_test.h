#pragma once

// The fixture of the end-to-end tests: the built program started in a private home, its server
// endpoints pointing at a local HTTP server the test answers from, and stopped as a logout
// stops it, so that its shortcuts are given back before the next test grabs them.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/session/tavrolin_process_home.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <chrono>
#include <functional>

#include <gtest/gtest.h>

namespace tavrolin::test {

class TavrolinProgramTest : public ::testing::Test {
protected:
    // A derived SetUp answers its server's routes first, then calls this.
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        ASSERT_TRUE(QFile::exists(TavrolinProcessHome::executable()))
            << TavrolinProcessHome::executable().toStdString();
        server_.start();
    }
    void TearDown() override { stopProgram(); }

    // The home's environment, every endpoint at a path of the local server that answers nothing;
    // `endpoints` names the variables whose path the test serves.
    QProcessEnvironment programEnvironment(const QList<std::pair<const char*, QString>>& endpoints = {}) const {
        QProcessEnvironment environment = home_.environment(server_.url(QStringLiteral("/unused")));
        for (const auto& [name, path] : endpoints) {
            environment.insert(QString::fromLatin1(name), server_.url(path).toString());
        }
        return environment;
    }

    void startProgram(const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        TavrolinProcessHome::endWithTest(process_);
        process_.start(TavrolinProcessHome::executable(), {});
        ASSERT_TRUE(process_.waitForStarted(5000));
        pid_ = process_.processId();
    }

    // Quits as a logout does; kills what does not end.
    void stopProgram() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(10000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }

    // The settings of the next start, with launch at login off and the onboarding done, so
    // that no window but the tray icon appears.
    void writeProgramSettings(const std::function<void(AppSettings&)>& change) {
        JsonFileDefaultsStore defaults(home_.defaultsFile());
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        change(settings);
        settings.launchAtLoginEnabled = false;
        ASSERT_FALSE(store.persist(settings).has_value());
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
    }

    QString log() const {
        QFile file(home_.filePath("state/tavrolin/tavrolin.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QStringList logLines() const { return log().split('\n', Qt::SkipEmptyParts); }

    // The program's visible windows, narrowed by xdotool search options.
    QStringList programWindows(const QStringList& filter = {}) const {
        return toolOutput(QStringLiteral("xdotool"),
                          QStringList{"search", "--all", "--onlyvisible", "--pid", QString::number(pid_)} + filter)
            .split('\n', Qt::SkipEmptyParts);
    }
    QStringList trayIcons() const { return programWindows({"--class", "Tavrolin"}); }

    TavrolinProcessHome home_;
    LocalHttpServer server_;
    QProcess process_;
    qint64 pid_ = 0;
};

}  // namespace tavrolin::test
