// The HTTP module's client on Qt's event loop, against servers on 127.0.0.1: what its socket and
// timer glue must carry (a large upload and a slow answer), a transfer that ends early, and one
// abandoned while a name server keeps it waiting.
#include "platform/http_client.h"

#include "support/async.h"
#include "support/fakes/raw_tcp_server.h"
#include "support/module_http_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

HttpExchangeRequest get(const QUrl& url) {
    HttpExchangeRequest request;
    request.url = url;
    request.idle = 2s;
    request.whole = 5s;
    return request;
}

// Set in the copy of the test program that runs in namespaces of its own.
constexpr char silentNameServerVariable[] = "TAVROLIN_TEST_SILENT_NAME_SERVER";

// In a network and mount namespace of this process's own: the loopback up, a UDP socket on
// 127.0.0.1:53 that reads nothing and answers nothing, and a resolv.conf naming it alone (bound
// over /etc/resolv.conf, which the system's resolver reads at its first lookup). Answers the
// socket, or -1 with the reason.
int silenceNameServer(std::string& error) {
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback{};
    std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(control, SIOCGIFFLAGS, &loopback) != 0 ||
        (loopback.ifr_flags |= IFF_UP, ::ioctl(control, SIOCSIFFLAGS, &loopback) != 0)) {
        error = std::string("the loopback stays down: ") + std::strerror(errno);
        ::close(control);
        return -1;
    }
    ::close(control);
    const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = std::string("no socket on 127.0.0.1:53: ") + std::strerror(errno);
        return -1;
    }
    static QTemporaryFile configuration;
    if (!configuration.open() || configuration.write("nameserver 127.0.0.1\noptions timeout:5 attempts:1\n") < 0 ||
        !configuration.flush() ||
        ::mount(QFile::encodeName(configuration.fileName()).constData(), "/etc/resolv.conf", nullptr, MS_BIND,
                nullptr) != 0) {
        error = std::string("resolv.conf not replaced: ") + std::strerror(errno);
        return -1;
    }
    return silent;
}

}  // namespace

// Runs inside the namespaces the test below makes, as a copy of this program.
TEST(HttpClientEventLoop, InsideNamespacesOfItsOwnAnExchangeAbandonedDuringItsLookupLeavesTheEventLoopFree) {
    if (!qEnvironmentVariableIsSet(silentNameServerVariable)) {
        GTEST_SKIP() << "run by AnExchangeAbandonedWhileItsNameServerIsSilentLeavesTheEventLoopFree";
    }
    std::string error;
    const int silent = silenceNameServer(error);
    ASSERT_GE(silent, 0) << error;
    const auto client = test::moduleHttpClient();
    // The test's client opens the module on its thread: opened before the clock starts.
    test::await(client->exchange(HttpExchangeRequest{}));
    HttpExchangeRequest request = get(QUrl(QStringLiteral("http://server.silent-name.test/api/text-writes")));
    request.whole = 300ms;

    // A 10 ms timer on the GUI thread, from the request until well after it was abandoned.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticker.start(10);
    const auto started = std::chrono::steady_clock::now();
    const HttpExchangeAnswer answer = test::await(client->exchange(request));
    const auto ended = std::chrono::steady_clock::now();
    QTest::qWait(500);
    ticker.stop();
    ::close(silent);

    EXPECT_EQ(answer.failure, HttpFailure::timedOut) << answer.failureDetail.toStdString();
    EXPECT_LT(ended - started, 1500ms);
    // Waiting for the lookup would hold the loop the rest of the name server's 5 s; a loaded
    // two-core machine delays a timer by up to a few hundred milliseconds (350 ms seen).
    EXPECT_LT(longestGap, 1000) << "the event loop waited for the name lookup";
}

TEST(HttpClientEventLoop, AnExchangeAbandonedWhileItsNameServerIsSilentLeavesTheEventLoopFree) {
    if (qEnvironmentVariableIsSet(silentNameServerVariable)) {
        GTEST_SKIP() << "the copy inside the namespaces runs the other half";
    }
    // A copy of this program in a user, mount and network namespace of its own, where it may
    // name its own name server without touching the machine's.
    QProcess copy;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(silentNameServerVariable), QStringLiteral("1"));
    copy.setProcessEnvironment(environment);
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.start(QStringLiteral("unshare"),
               {QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
                QStringLiteral("--net"), QCoreApplication::applicationFilePath(),
                QStringLiteral("--gtest_filter=HttpClientEventLoop."
                               "InsideNamespacesOfItsOwnAnExchangeAbandonedDuringItsLookupLeavesTheEventLoopFree")});
    ASSERT_TRUE(copy.waitForFinished(60000)) << "the copy did not end";
    const QByteArray output = copy.readAll();
    if (output.contains("unshare failed")) {
        GTEST_SKIP() << "no namespaces here: " << output.toStdString();
    }
    EXPECT_EQ(copy.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

TEST(HttpClientEventLoop, ALargeUploadAndAnAnswerInSlowPiecesArriveWhole) {
    // 8 MiB: far more than the sockets' buffers, so the upload waits for the socket many times.
    const QByteArray upload(8 * 1024 * 1024, 'u');
    auto received = std::make_shared<std::atomic<qint64>>(0);
    test::RawTcpServer server([received, size = upload.size()](test::RawConnection& connection) {
        const QByteArray head = connection.readRequest();
        *received += head.size() - head.indexOf("\r\n\r\n") - 4;
        while (*received < size) {
            const QByteArray more = connection.readSome(64 * 1024);
            if (more.isEmpty()) {
                return;
            }
            *received += more.size();
        }
        connection.write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        for (int piece = 0; piece < 5; ++piece) {
            std::this_thread::sleep_for(100ms);
            connection.write("3\r\nab" + QByteArray::number(piece) + "\r\n");
        }
        connection.write("0\r\n\r\n");
    });
    const auto client = test::moduleHttpClient();
    HttpExchangeRequest request = get(server.url("/upload"));
    request.method = "POST";
    request.body = upload;

    // The GUI thread keeps turning meanwhile: a timer on it fires on time throughout.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticker.start(10);
    const HttpExchangeAnswer answer = test::await(client->exchange(request));
    ticker.stop();

    ASSERT_FALSE(answer.failure) << answer.failureDetail.toStdString();
    EXPECT_EQ(answer.statusCode, 200);
    EXPECT_EQ(answer.body, "ab0ab1ab2ab3ab4");
    EXPECT_EQ(received->load(), upload.size());
    EXPECT_LT(longestGap, 250) << "the event loop was held";
}

TEST(HttpClientEventLoop, ATransferEndedMidWayClosesItsConnectionAndLeavesTheClientWorking) {
    auto peerClosed = std::make_shared<std::atomic<bool>>(false);
    std::atomic<int> connection{0};
    test::RawTcpServer server([peerClosed, &connection](test::RawConnection& raw) {
        raw.readRequest();
        if (connection++ == 0) {
            // Half the body, then nothing: the idle limit ends the transfer.
            raw.write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n12345");
            *peerClosed = raw.readSome(1, 3s).isEmpty();
            return;
        }
        raw.write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    });
    const auto client = test::moduleHttpClient();
    HttpExchangeRequest stalled = get(server.url("/stalled"));
    stalled.idle = 300ms;

    const auto started = std::chrono::steady_clock::now();
    const HttpExchangeAnswer ended = test::await(client->exchange(stalled));
    EXPECT_EQ(ended.failure, HttpFailure::timedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peerClosed->load(); }, 3000)) << "the connection was left open";

    const HttpExchangeAnswer next = test::await(client->exchange(get(server.url("/next"))));
    ASSERT_FALSE(next.failure) << next.failureDetail.toStdString();
    EXPECT_EQ(next.body, "{}");
}

TEST(HttpClientEventLoop, AnExchangeWhoseTaskWasDroppedRunsToItsEndAlone) {
    auto answered = std::make_shared<std::atomic<bool>>(false);
    test::RawTcpServer server([answered](test::RawConnection& raw) {
        raw.readRequest();
        std::this_thread::sleep_for(200ms);
        *answered = raw.write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    });
    const auto client = test::moduleHttpClient();
    {
        // Dropped while the server has not answered yet: nobody waits for it any more.
        QCoro::Task<HttpExchangeAnswer> dropped = client->exchange(get(server.url("/dropped")));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered->load(); }, 3000));
    QTest::qWait(100);  // its answer arrives and ends the transfer, resuming no one
    const HttpExchangeAnswer next = test::await(client->exchange(get(server.url("/next"))));
    ASSERT_FALSE(next.failure) << next.failureDetail.toStdString();
    EXPECT_EQ(server.connectionCount(), 2);
}
