// Cost of one server translation batch through the real client and transport against the
// local test server: request building, the HTTP exchange on 127.0.0.1, decoding and checks.
#include "core/app_log.h"
#include "language/url_session_server_translation_client.h"
#include "platform/desktop_backend.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace tavrolin;

QList<TranslationRequest> batch(int size) {
    QList<TranslationRequest> requests;
    const AppLanguage sources[] = {AppLanguage::english, AppLanguage::german, AppLanguage::automatic};
    for (int i = 0; i < size; ++i) {
        requests.append({QString::number(i),
                         QStringLiteral("Sentence number %1 of the window, with some ordinary words in it.").arg(i),
                         sources[i % 3]});
    }
    return requests;
}

// The server answers every item in reverse order, as a server may.
std::string answerFor(int size) {
    QJsonArray translations;
    for (int i = size - 1; i >= 0; --i) {
        translations.append(QJsonObject{
            {"id", QString::number(i)},
            {"text", QStringLiteral("Satz Nummer %1 des Fensters, mit einigen gewöhnlichen Wörtern.").arg(i)}});
    }
    return QJsonDocument(QJsonObject{{"translations", translations}}).toJson(QJsonDocument::Compact).toStdString();
}

void BM_EncodeBatch(benchmark::State& state) {
    const auto requests = batch(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(URLSessionServerTranslationClient::encodeRequestBody(requests, AppLanguage::french));
        benchmark::DoNotOptimize(URLSessionServerTranslationClient::detail(requests, AppLanguage::french));
    }
}
BENCHMARK(BM_EncodeBatch)->Arg(1)->Arg(500)->Unit(benchmark::kMicrosecond);

void BM_ServerTranslationRoundTrip(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    test::LocalHttpServer server;
    const std::string answer = answerFor(size);
    server.server().Post("/api/text-translations", [&answer](const httplib::Request&, httplib::Response& response) {
        response.set_content(answer, "application/json");
    });
    server.server().set_tcp_nodelay(true);  // the test server would otherwise add Nagle delays
    server.keepConnectionsAlive();          // as a real server does: the client reuses its connection
    server.start();
    ServerTranslationConfiguration configuration;
    configuration.endpointURL = server.url(QStringLiteral("/api/text-translations"));
    URLSessionServerTranslationClient client(
        configuration, std::make_shared<ServerRequestTransport>(ServerSessionConfiguration::translation()));
    const auto requests = batch(size);
    for (auto _ : state) {
        const auto responses = test::await(client.translate(requests, AppLanguage::german));
        if (responses.size() != size) {
            state.SkipWithError("wrong number of translations");
            break;
        }
    }
    state.counters["items/s"] =
        benchmark::Counter(static_cast<double>(size) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ServerTranslationRoundTrip)->Arg(1)->Arg(500)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // Log lines are part of every request: keep writing them, but out of the user's folders.
    QTemporaryDir logFolder;
    AppLog::setSink(std::make_shared<RotatingFileLogSink>(logFolder.filePath(QStringLiteral("bench.log"))));
    ServerRequestTransport::useHttpClient(systemHttpClient());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
