#include "support/private_bus.h"

#include <QElapsedTimer>

namespace tavrolin::test {

PrivateBus::PrivateBus() {
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                          QStringLiteral("--print-address=1")});
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    daemon_.start();
    if (!daemon_.waitForStarted(5000)) {
        return;
    }
    QElapsedTimer timer;
    timer.start();
    while (!daemon_.canReadLine() && timer.elapsed() < 5000) {
        daemon_.waitForReadyRead(100);
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(2000)) {
            daemon_.kill();
            daemon_.waitForFinished(2000);
        }
    }
}

}  // namespace tavrolin::test
