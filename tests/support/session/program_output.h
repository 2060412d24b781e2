#pragma once

// Runs a helper program of the desktop session (xdotool, pactl, ...) to its end, at most
// `timeoutMs`, and answers its standard output without the surrounding white space.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tavrolin::test {

inline QString programOutput(const QString& program, const QStringList& arguments, int timeoutMs = 5000) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(timeoutMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace tavrolin::test
