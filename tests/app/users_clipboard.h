#pragma once

// The user's clipboard as another program holds it. A test sets it through xclip, which takes the
// selection and keeps it on offer as a program the user copied in does: this process's own
// clipboard calls can be refused by X on a loaded machine, and the test would then run with
// whatever the clipboard held before.
#include "support/async.h"

#include <QProcess>
#include <QString>

#include <chrono>
#include <optional>

namespace tavrolin::test {

// What another program gets from the clipboard now; absent when its owner refused (xclip fails
// then). This thread's event loop runs meanwhile, for the clipboard may be this process's.
inline std::optional<QString> clipboardAsOthersGetIt() {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"});
    if (!xclip.waitForStarted(5000)) {
        return std::nullopt;
    }
    waitUntil([&] { return xclip.state() == QProcess::NotRunning || xclip.waitForFinished(5); },
              std::chrono::seconds(5));
    if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

// Copies `text` as another program: xclip owns the clipboard afterwards and gives `text` to every
// program that asks. Answers once another program gets it (false when none does within 5 s).
inline bool copyAsAnotherProgram(const QString& text) {
    QProcess xclip;
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.setStandardErrorFile(QProcess::nullDevice());
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard"});
    if (!xclip.waitForStarted(5000)) {
        return false;
    }
    xclip.write(text.toUtf8());
    xclip.closeWriteChannel();
    // It stays in the background to serve the selection; the process started ends at once.
    xclip.waitForFinished(5000);
    return waitUntil([&] { return clipboardAsOthersGetIt() == text; }, std::chrono::seconds(5));
}

}  // namespace tavrolin::test
