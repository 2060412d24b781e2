#include "support/session/private_bus.h"

#include <QElapsedTimer>
#include <QFile>

namespace tavrolin::test {

PrivateBus::PrivateBus(Services services) {
    QStringList arguments{QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                          QStringLiteral("--print-address=1")};
    if (services == Services::none) {
        const QString configPath = configDir_.filePath(QStringLiteral("bus.conf"));
        QFile config(configPath);
        if (!configDir_.isValid() || !config.open(QIODevice::WriteOnly)) {
            return;
        }
        config.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
        config.close();
        arguments[0] = QStringLiteral("--config-file=") + configPath;
    }
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments(arguments);
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
