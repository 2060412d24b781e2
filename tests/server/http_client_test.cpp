// The HTTP module's client on Qt's event loop, against servers on 127.0.0.1: what its socket and
// timer glue must carry (a large upload and a slow answer), and a transfer that ends early.
#include "platform/http_client.h"

#include "support/async.h"
#include "support/fakes/raw_tcp_server.h"
#include "support/module_http_client.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

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

}  // namespace

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
