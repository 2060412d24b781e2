#include "shell/tavrolin.h"

#include "core/app_log.h"
#include "core/app_metadata.h"
#include "core/standard_defaults.h"
#include "platform/desktop_backend.h"
#include "server/server_request_transport.h"
#include "shell/application_delegate.h"
#include "shell/instance_activation.h"
#include "shell/single_instance_lock.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrolin {

namespace {

// Held until the process ends; the system releases the lock with the process.
std::unique_ptr<SingleInstanceLock> singleInstanceLock;

// SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C, kill) end the event loop like "Quit" does, so the
// delegate's termination step runs. The handler only writes a byte; the loop reads it.
int signalSockets[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[1], &byte, 1);
}

std::unique_ptr<QSocketNotifier> watchTerminationSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) {
        return nullptr;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    auto notifier = std::make_unique<QSocketNotifier>(signalSockets[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalSockets[0], &byte, 1);
        AppLog::app().info(QStringLiteral("termination requested by signal"));
        QCoreApplication::quit();
    });
    return notifier;
}

}  // namespace

int Tavrolin::main(int argc, char** argv) {
    // The desktop's journal takes the log from its first line.
    const SystemJournal journal = systemJournal();
    AppLog::useSystemJournal(journal.sink, journal.isRunning);

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
        // The log may be as unreachable as the lock (a home that cannot be written): whoever
        // started the program learns what could not be made and where.
        std::fprintf(stderr, "Tavrolin cannot start: %s\n", error.description().toLocal8Bit().constData());
        return 1;
    }

    QApplication application(argc, argv);
    // Every server request goes through the process's one HTTP client (its library is opened by
    // the first request).
    ServerRequestTransport::useHttpClient(systemHttpClient());
    QApplication::setApplicationName(AppMetadata::appName);
    QApplication::setApplicationVersion(AppMetadata::appVersion());
    QGuiApplication::setDesktopFileName(AppMetadata::bundleIdentifier);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(AppMetadata::alertIcon());

    std::unique_ptr<ApplicationDelegate> delegate = makeApplicationDelegate();
    InstanceActivationServer activation(
        instanceActivationSocketPath(qEnvironmentVariable("XDG_RUNTIME_DIR"), singleInstanceLock->lockFile()));
    QObject::connect(&activation, &InstanceActivationServer::activationRequested, &application, [&delegate] {
        AppLog::app().info(QStringLiteral("activation requested by another launch"));
        delegate->activateFromAnotherLaunch();
    });
    activation.listen();
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &application,
                     [&delegate] { delegate->applicationWillTerminate(); });

    const auto signalWatcher = watchTerminationSignals();
    delegate->applicationDidFinishLaunching();
    const int status = QApplication::exec();
    delegate.reset();
    // The settings and state written last (the last update check's date) reach the disk before
    // the process ends.
    standardDefaults().flush();
    return status;
}

}  // namespace tavrolin
