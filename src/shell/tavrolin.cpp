#include "shell/tavrolin.h"

#include "core/app_log.h"
#include "core/app_metadata.h"
#include "shell/application_delegate.h"
#include "shell/instance_activation.h"
#include "shell/single_instance_lock.h"

#include <QApplication>
#include <QCoreApplication>

namespace tavrolin {

namespace {

// Held until the process ends; the system releases the lock with the process.
std::unique_ptr<SingleInstanceLock> singleInstanceLock;

}  // namespace

int Tavrolin::main(int argc, char** argv) {
    // The lock comes first, so a second launch ends without touching the display.
    try {
        singleInstanceLock = SingleInstanceLock::acquire();
    } catch (const SingleInstanceLockError& error) {
        if (error.errorCase() == SingleInstanceLockError::Case::alreadyRunning) {
            AppLog::app().info(QStringLiteral("another instance is already running; activating existing app"));
            QCoreApplication application(argc, argv);
            requestInstanceActivation(instanceActivationSocketPath());
            return 0;
        }
        AppLog::app().error(QStringLiteral("failed to acquire single-instance lock: %1").arg(error.logDescription()));
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(AppMetadata::appName);
    QApplication::setApplicationVersion(AppMetadata::appVersion());
    QGuiApplication::setDesktopFileName(AppMetadata::bundleIdentifier);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(AppMetadata::alertIcon());

    std::unique_ptr<ApplicationDelegate> delegate = makeApplicationDelegate();
    InstanceActivationServer activation(
        instanceActivationSocketPath(qEnvironmentVariable("XDG_RUNTIME_DIR"), singleInstanceLock->lockFile()));
    QObject::connect(&activation, &InstanceActivationServer::activationRequested, &application,
                     [&delegate] {
                         AppLog::app().info(QStringLiteral("activation requested by another launch"));
                         delegate->activateFromAnotherLaunch();
                     });
    activation.listen();
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &application,
                     [&delegate] { delegate->applicationWillTerminate(); });

    delegate->applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.reset();
    return status;
}

}  // namespace tavrolin
