#include "shell/single_instance_lock.h"

#include "shell/instance_activation.h"
#include "support/async.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {
namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

SingleInstanceLockError failureOf(const SingleInstanceLockLocation& location) {
    try {
        SingleInstanceLock::acquire(location);
    } catch (const SingleInstanceLockError& error) {
        return error;
    }
    ADD_FAILURE() << "the lock was taken";
    return SingleInstanceLockError::alreadyRunning();
}

TEST(SingleInstanceLockLocationTest, DataFolderThenHomeThenAPrivateTemporaryFolder) {
    struct Row {
        QString xdg, home, temp;
        QString lockFile;
        bool shared;
    };
    const Row rows[] = {
        {"/data", "/home/u", "/tmp", "/data/Tavrolin/single-instance.lock", false},
        {"/data/", "", "", "/data/Tavrolin/single-instance.lock", false},
        {"relative/data", "/home/u", "/tmp", "/home/u/.local/share/Tavrolin/single-instance.lock", false},
        {"", "/home/u", "/tmp", "/home/u/.local/share/Tavrolin/single-instance.lock", false},
        {"", "", "/var/tmp", "/var/tmp/Tavrolin-1000/single-instance.lock", true},
        {"", "relative-home", "", "/tmp/Tavrolin-1000/single-instance.lock", true},
    };
    for (const auto& row : rows) {
        const auto location = SingleInstanceLockLocation::resolve(row.xdg, row.home, row.temp, 1000);
        EXPECT_EQ(location.lockFile, row.lockFile);
        EXPECT_EQ(location.inSharedTemporaryDirectory, row.shared);
    }
}

TEST(SingleInstanceLockTest, HoldsThePidUntilReleasedAndRefusesASecondHolder) {
    QTemporaryDir dir;
    const SingleInstanceLockLocation location{dir.filePath("a/b/Tavrolin/single-instance.lock"), false};
    // a stale file from a killed instance, longer than the new contents
    QDir().mkpath(dir.filePath("a/b/Tavrolin"));
    writeFile(location.lockFile, "1234567890123\nstale\n");

    auto lock = SingleInstanceLock::acquire(location);
    EXPECT_EQ(contents(location.lockFile), QByteArray::number(::getpid()) + '\n');
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(location.lockFile).constData(), &info), 0);

    const SingleInstanceLockError second = failureOf(location);
    EXPECT_EQ(second.errorCase(), SingleInstanceLockError::Case::alreadyRunning);
    EXPECT_EQ(second.description(), QStringLiteral("Tavrolin is already running."));
    EXPECT_EQ(contents(location.lockFile), QByteArray::number(::getpid()) + '\n') << "a refused start writes nothing";

    lock.reset();
    EXPECT_NO_THROW(SingleInstanceLock::acquire(location));
}

TEST(SingleInstanceLockTest, FileAndFolderArePrivateAndClosedAgainWhenFoundOpen) {
    QTemporaryDir dir;
    const SingleInstanceLockLocation location{dir.filePath("data/Tavrolin/single-instance.lock"), false};
    const auto modeOf = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 0777) : 0xFFFFu;
    };
    auto lock = SingleInstanceLock::acquire(location);
    EXPECT_EQ(modeOf(location.lockFile), 0600u);
    EXPECT_EQ(modeOf(dir.filePath("data/Tavrolin")), 0700u);
    EXPECT_EQ(modeOf(dir.filePath("data")), 0700u);
    lock.reset();

    // As an earlier version, or the user's umask, left them.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("data/Tavrolin")).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(location.lockFile).constData(), 0644), 0);
    lock = SingleInstanceLock::acquire(location);
    EXPECT_EQ(modeOf(location.lockFile), 0600u);
    EXPECT_EQ(modeOf(dir.filePath("data/Tavrolin")), 0700u);
}

TEST(SingleInstanceLockTest, AChildProcessDoesNotInheritTheLock) {
    QTemporaryDir dir;
    const SingleInstanceLockLocation location{dir.filePath("Tavrolin/single-instance.lock"), false};
    auto lock = SingleInstanceLock::acquire(location);

    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(child.processId());
    QStringList open;
    for (const QString& entry : QDir(fdFolder).entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        open << QFile::symLinkTarget(fdFolder + QLatin1Char('/') + entry);
    }
    EXPECT_FALSE(open.isEmpty()) << "the child's descriptors could not be read";
    EXPECT_FALSE(open.contains(QFileInfo(location.lockFile).canonicalFilePath())) << open.join(' ').toStdString();

    // The real consequence: once this holder lets go without unlocking (as a killed process
    // does), the lock is free although the child still runs.
    lock.reset();
    EXPECT_NO_THROW(SingleInstanceLock::acquire(location));
    child.kill();
    child.waitForFinished();
}

TEST(SingleInstanceLockTest, FailuresNameTheirCaseAndPath) {
    QTemporaryDir dir;
    writeFile(dir.filePath("plain-file"), "x");

    const auto noFolder = failureOf({dir.filePath("plain-file/Tavrolin/single-instance.lock"), false});
    EXPECT_EQ(noFolder.errorCase(), SingleInstanceLockError::Case::failedToCreateDirectory);
    EXPECT_EQ(noFolder.path(), dir.filePath("plain-file/Tavrolin"));
    EXPECT_EQ(noFolder.description(), QStringLiteral("Could not create the lock directory at %1: Not a directory")
                                          .arg(dir.filePath("plain-file/Tavrolin")));
    EXPECT_EQ(noFolder.logDescription(),
              QStringLiteral("failedToCreateDirectory(directoryURL: \"%1\", underlyingError: \"Not a directory\")")
                  .arg(dir.filePath("plain-file/Tavrolin")));

    const auto relative = failureOf({QStringLiteral("relative/single-instance.lock"), false});
    EXPECT_EQ(relative.errorCase(), SingleInstanceLockError::Case::invalidPath);
    EXPECT_EQ(relative.description(), QStringLiteral("The lock file path is invalid: relative/single-instance.lock"));

    QDir().mkpath(dir.filePath("folder-as-lock/single-instance.lock"));
    const auto isFolder = failureOf({dir.filePath("folder-as-lock/single-instance.lock"), false});
    EXPECT_EQ(isFolder.errorCase(), SingleInstanceLockError::Case::failedToOpenFile);
    EXPECT_EQ(isFolder.errorNumber(), EISDIR);
    EXPECT_EQ(isFolder.logDescription(), QStringLiteral("failedToOpenFile(lockFileURL: \"%1\", errno: %2)")
                                             .arg(dir.filePath("folder-as-lock/single-instance.lock"))
                                             .arg(EISDIR));
}

TEST(SingleInstanceLockTest, ALinkInPlaceOfTheLockFileIsNotFollowed) {
    QTemporaryDir dir;
    const QString victim = dir.filePath("someone-elses-file");
    writeFile(victim, "precious contents\n");
    QDir().mkpath(dir.filePath("Tavrolin"));
    ASSERT_TRUE(QFile::link(victim, dir.filePath("Tavrolin/single-instance.lock")));

    const auto error = failureOf({dir.filePath("Tavrolin/single-instance.lock"), false});
    EXPECT_EQ(error.errorCase(), SingleInstanceLockError::Case::failedToOpenFile);
    EXPECT_EQ(error.errorNumber(), ELOOP);
    EXPECT_EQ(contents(victim), QByteArray("precious contents\n")) << "the link's target was truncated";
}

TEST(SingleInstanceLockTest, TemporaryFolderMustBeAPrivateFolderOfThisUser) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Tavrolin-%1").arg(::getuid()));
    const SingleInstanceLockLocation location{folder + QStringLiteral("/single-instance.lock"), true};

    // created private
    {
        auto lock = SingleInstanceLock::acquire(location);
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    // our own folder left open to others is closed again
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    {
        auto lock = SingleInstanceLock::acquire(location);
        struct stat info {};
        ::lstat(QFile::encodeName(folder).constData(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    // a link planted where the folder goes is refused
    QDir(folder).removeRecursively();
    QDir().mkpath(dir.filePath("elsewhere"));
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), folder));
    const auto planted = failureOf(location);
    EXPECT_EQ(planted.errorCase(), SingleInstanceLockError::Case::failedToCreateDirectory);
    EXPECT_EQ(planted.underlyingError(), QStringLiteral("not a directory"));
    EXPECT_FALSE(QFile::exists(dir.filePath("elsewhere/single-instance.lock")));

    // a folder another user made first is refused (only root can fake that here)
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to create a folder owned by another user";
    }
    QFile::remove(folder);
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
    const auto foreign = failureOf(location);
    EXPECT_EQ(foreign.errorCase(), SingleInstanceLockError::Case::failedToCreateDirectory);
    EXPECT_EQ(foreign.underlyingError(), QStringLiteral("owned by another user (uid 65534)"));
}

TEST(InstanceActivationTest, SocketLivesInTheRuntimeFolderElseBesideTheLock) {
    EXPECT_EQ(instanceActivationSocketPath(QStringLiteral("/run/user/1000"),
                                           QStringLiteral("/d/Tavrolin/single-instance.lock")),
              QStringLiteral("/run/user/1000/org.tavrolin.Tavrolin.activate"));
    EXPECT_EQ(instanceActivationSocketPath(QString(), QStringLiteral("/d/Tavrolin/single-instance.lock")),
              QStringLiteral("/d/Tavrolin/activate.socket"));
}

TEST(InstanceActivationTest, ARequestReachesTheListeningInstanceAndNothingElseDoes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("activate.socket"));
    EXPECT_FALSE(requestInstanceActivation(path, std::chrono::milliseconds(200))) << "nobody listens yet";

    writeFile(path, "stale socket file of a killed instance");
    InstanceActivationServer server(path);
    ASSERT_TRUE(server.listen());
    int activations = 0;
    QObject::connect(&server, &InstanceActivationServer::activationRequested, [&] { ++activations; });

    QLocalSocket stranger;
    stranger.connectToServer(path);
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write("raise everything please\n");
    stranger.waitForBytesWritten(1000);

    EXPECT_TRUE(requestInstanceActivation(path));
    EXPECT_TRUE(test::waitUntil([&] { return activations > 0; }));
    test::waitUntil([] { return false; }, std::chrono::milliseconds(100));  // nothing more arrives
    EXPECT_EQ(activations, 1);
}

TEST(InstanceActivationTest, AConnectionWithoutAWholeLineIsClosedAfterTwoSeconds) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("activate.socket"));
    InstanceActivationServer server(path);
    ASSERT_TRUE(server.listen());

    QLocalSocket silent;
    QLocalSocket partial;
    for (QLocalSocket* socket : {&silent, &partial}) {
        socket->connectToServer(path);
        ASSERT_TRUE(socket->waitForConnected(1000));
    }
    partial.write("activ");
    partial.flush();
    const auto started = std::chrono::steady_clock::now();
    const auto closed = [](const QLocalSocket& socket) { return socket.state() == QLocalSocket::UnconnectedState; };
    test::waitUntil([&] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_FALSE(closed(silent) || closed(partial)) << "a second launch has two seconds to send its line";
    EXPECT_TRUE(test::waitUntil([&] { return closed(silent) && closed(partial); }, std::chrono::seconds(3)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2800));
}

TEST(InstanceActivationTest, AFloodOfConnectionsHoldsNoMoreThanEightAndALaunchStillGetsThrough) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("activate.socket"));
    InstanceActivationServer server(path, nullptr, std::chrono::milliseconds(300));
    ASSERT_TRUE(server.listen());
    int activations = 0;
    QObject::connect(&server, &InstanceActivationServer::activationRequested, [&] { ++activations; });

    // Silent, half a line, a wrong line, a long line without its end, and now and then a real
    // request, as fast as they can be made.
    const QByteArray sends[] = {QByteArray(), "activ", "deactivate everything\n", QByteArray(64 * 1024, 'a')};
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    int mostOpen = 0;
    for (int i = 0; i < 400; ++i) {
        auto client = std::make_unique<QLocalSocket>();
        client->connectToServer(path);
        ASSERT_TRUE(client->waitForConnected(1000)) << i;
        client->write(i % 50 == 49 ? QByteArray("activate\n") : sends[i % 4]);
        client->flush();
        clients.push_back(std::move(client));
        QCoreApplication::processEvents();
        mostOpen = std::max(mostOpen, server.openConnections());
    }
    EXPECT_LE(mostOpen, 8);
    EXPECT_TRUE(test::waitUntil([&] { return server.openConnections() == 0; }, std::chrono::seconds(2)));

    clients.clear();
    EXPECT_TRUE(requestInstanceActivation(path));
    const int before = activations;
    EXPECT_TRUE(test::waitUntil([&] { return activations > before; }));
}

}  // namespace
}  // namespace tavrolin
