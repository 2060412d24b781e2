#include "language/server_backed_translation_client.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/recording_translation_clients.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace tavrolin;
using namespace tavrolin::test;
using Availability = TranslationPairAvailability;
using Case = CaptureWorkflowError::Case;

namespace {

constexpr AppLanguage en = AppLanguage::english;
constexpr AppLanguage de = AppLanguage::german;
constexpr AppLanguage fr = AppLanguage::french;
constexpr AppLanguage he = AppLanguage::hebrew;
constexpr AppLanguage es = AppLanguage::spanish;
constexpr AppLanguage automatic = AppLanguage::automatic;

// A client over recording engines, a counted permission switch and a recording start callback.
struct Harness {
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::shared_ptr<RecordingDeviceTranslationClient> device = std::make_shared<RecordingDeviceTranslationClient>(log);
    std::shared_ptr<RecordingServerTranslationClient> server = std::make_shared<RecordingServerTranslationClient>(log);
    std::shared_ptr<std::atomic<bool>> allowed = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<int>> permissionAsks = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::vector<QThread*>> startThreads = std::make_shared<std::vector<QThread*>>();

    explicit Harness(bool serverAllowed = true) { allowed->store(serverAllowed); }

    ServerBackedTranslationClient client(bool withStartCallback = true) const {
        auto allowedFlag = allowed;
        auto asks = permissionAsks;
        auto eventLog = log;
        auto threads = startThreads;
        ServerBackedTranslationClient::StartCallback started;
        if (withStartCallback) {
            started = [eventLog, threads](AppLanguage target) {
                threads->push_back(QThread::currentThread());
                eventLog->add(QStringLiteral("started ") + rawValue(target));
            };
        }
        return ServerBackedTranslationClient(
            device, server,
            [allowedFlag, asks] {
                ++*asks;
                return allowedFlag->load();
            },
            started);
    }

    QList<TranslationResponse> translate(QList<TranslationRequest> requests, AppLanguage target) const {
        auto backed = client();
        return test::await(backed.translate(std::move(requests), target));
    }
};

QList<TranslationRequest> batch(std::initializer_list<std::pair<const char*, AppLanguage>> items) {
    QList<TranslationRequest> requests;
    int id = 0;
    for (const auto& [text, source] : items) {
        requests.append({QString::number(id++), QString::fromUtf8(text), source});
    }
    return requests;
}

QStringList texts(const QList<TranslationResponse>& responses) {
    QStringList result;
    for (const auto& response : responses) {
        result.append(response.text);
    }
    return result;
}

CaptureWorkflowError captureError(const std::function<void()>& action) {
    try {
        action();
    } catch (const CaptureWorkflowError& error) {
        return error;
    }
    ADD_FAILURE() << "no CaptureWorkflowError was thrown";
    return CaptureWorkflowError(Case::captureAlreadyInProgress);
}

std::exception_ptr serverFailure() {
    return std::make_exception_ptr(CaptureWorkflowError(Case::textTranslationRequestFailed));
}

}  // namespace

// One row per line of the routing table, for a source S that differs from the target T.
TEST(ServerBackedRouting, EveryRowOfTheRoutingTable) {
    struct Row {
        const char* name;
        bool allowed;
        AppLanguage source;
        AppLanguage target;
        std::optional<Availability> onDevice;  // none: the device must not be asked
        const char* expected;                  // "server", "local" or "refused"
    };
    const std::vector<Row> rows = {
        {"off, Hebrew target", false, en, he, std::nullopt, "refused"},
        {"off, Hebrew source", false, he, fr, std::nullopt, "refused"},
        {"on, Hebrew target", true, en, he, std::nullopt, "server"},
        {"on, Hebrew source", true, he, en, std::nullopt, "server"},
        {"on, installed", true, en, fr, Availability::installed, "local"},
        {"on, supported", true, en, fr, Availability::supported, "server"},
        {"on, unsupported", true, en, fr, Availability::unsupported, "server"},
        {"on, supported, automatic target", true, en, automatic, Availability::supported, "local"},
        {"on, unsupported, automatic target", true, en, automatic, Availability::unsupported, "local"},
        {"off, installed", false, en, fr, Availability::installed, "local"},
        {"off, supported", false, en, fr, Availability::supported, "local"},
        {"off, unsupported", false, en, fr, Availability::unsupported, "local"},
        {"on, automatic source", true, automatic, fr, Availability::unsupported, "server"},
        {"off, automatic source", false, automatic, fr, Availability::unsupported, "local"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.allowed);
        h.device->setAvailability(row.source, row.target, row.onDevice.value_or(Availability::installed));
        const auto requests = batch({{"one", row.source}, {"two", row.source}});
        const QString pair = pairName(row.source, row.target);
        if (QString(row.expected) == "refused") {
            const auto error = captureError([&] { h.translate(requests, row.target); });
            EXPECT_EQ(error.errorCase(), Case::onlineFeaturesDisabled);
            EXPECT_TRUE(h.log->events().isEmpty()) << h.log->events().join("; ").toStdString();
            continue;
        }
        const auto responses = h.translate(requests, row.target);
        EXPECT_EQ(h.log->matching("availability").size(), row.onDevice ? 1 : 0);
        if (QString(row.expected) == "server") {
            EXPECT_EQ(texts(responses), QStringList({"one (" + pair + " server)", "two (" + pair + " server)"}));
            EXPECT_EQ(h.log->matching("translate").size(), 0);
            EXPECT_EQ(h.log->matching("started"), QStringList({"started " + rawValue(row.target)}));
        } else {
            EXPECT_EQ(texts(responses), QStringList({"one (" + pair + " device)", "two (" + pair + " device)"}));
            EXPECT_EQ(h.server->calls(), 0);
            EXPECT_TRUE(h.log->matching("started").isEmpty());
        }
    }
}

TEST(ServerBackedRouting, MixedBatchTranslatesOnTheDeviceFirstThenOneServerBatch) {
    Harness h;
    h.device->setAvailability(en, fr, Availability::installed);
    h.device->setAvailability(de, fr, Availability::supported);
    const auto responses = h.translate(batch({{"a", de}, {"b", en}, {"c", fr}, {"d", de}, {"e", en}}), fr);
    EXPECT_EQ(texts(responses),
              QStringList({"a (de>fr server)", "b (en>fr device)", "c", "d (de>fr server)", "e (en>fr device)"}));
    EXPECT_EQ(h.log->events(), QStringList({"availability de>fr", "availability en>fr", "translate en>fr [b|e]",
                                            "started fr", "server fr [0:de|3:de]"}));
    for (qsizetype i = 0; i < responses.size(); ++i) {
        EXPECT_EQ(responses[i].id, QString::number(i));
    }
}

TEST(ServerBackedRouting, PassThroughAndEmptyBatches) {
    {
        Harness h;
        EXPECT_TRUE(h.translate({}, fr).isEmpty());
        EXPECT_EQ(*h.permissionAsks, 0);
        EXPECT_TRUE(h.log->events().isEmpty());
    }
    {
        // Source equal to the target: untouched, asked of nobody, even beside server work.
        Harness h;
        const auto responses = h.translate(batch({{"  bonjour ", fr}, {"hallo", de}}), fr);
        EXPECT_EQ(texts(responses), QStringList({"  bonjour ", "hallo (de>fr server)"}));
        EXPECT_EQ(h.log->matching("server"), QStringList({"server fr [1:de]"}));
        EXPECT_TRUE(h.log->matching("availability fr").isEmpty());
    }
    {
        Harness h(false);
        EXPECT_EQ(texts(h.translate(batch({{"same", en}}), en)), QStringList({"same"}));
        EXPECT_TRUE(h.log->events().isEmpty());
    }
}

TEST(ServerBackedRouting, HebrewIsRefusedOfflineBeforeAnythingIsTranslated) {
    Harness h(false);
    h.device->setAvailability(en, fr, Availability::installed);
    const auto error = captureError([&] { h.translate(batch({{"fine", en}, {"shalom", he}}), fr); });
    EXPECT_EQ(error.errorCase(), Case::onlineFeaturesDisabled);
    EXPECT_TRUE(h.log->events().isEmpty());
    // Online, Hebrew goes to the server even when the device has the pair installed.
    Harness online;
    online.device->setAvailability(en, he, Availability::installed);
    EXPECT_EQ(texts(online.translate(batch({{"hi", en}}), he)), QStringList({"hi (en>he server)"}));
    EXPECT_TRUE(online.log->matching("availability").isEmpty());
}

TEST(ServerBackedRouting, ThePermissionIsAskedAtEveryDecision) {
    // The switch goes off while the batch is being routed: the source decided later goes to the device.
    Harness h;
    h.device->setAvailability(en, fr, Availability::supported);
    h.device->setAvailability(de, fr, Availability::supported);
    h.device->afterAvailability([allowed = h.allowed](AppLanguage source, AppLanguage) {
        if (source == de) {
            allowed->store(false);
        }
    });
    const auto responses = h.translate(batch({{"a", en}, {"b", de}}), fr);
    EXPECT_EQ(texts(responses), QStringList({"a (en>fr server)", "b (de>fr device)"}));
    EXPECT_EQ(h.log->matching("server"), QStringList({"server fr [0:en]"}));
}

TEST(ServerBackedFallback, EveryRowOfTheFallbackTable) {
    struct Row {
        const char* name;
        Availability onDevice;
        bool deviceFails;
        std::optional<Case> expectedError;
    };
    const std::vector<Row> rows = {
        {"installed: translated on the device", Availability::installed, false, std::nullopt},
        {"installed, device fails: the device's error", Availability::installed, true,
         Case::textEditingInvalidResponse},
        {"supported: server translation unavailable", Availability::supported, false,
         Case::serverTranslationUnavailable},
        {"unsupported: the server's own error", Availability::unsupported, false, Case::textTranslationRequestFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        h.server->fail(serverFailure());
        h.device->setAvailability(en, he, row.onDevice);
        if (row.deviceFails) {
            h.device->failTranslationsFrom(
                en, std::make_exception_ptr(CaptureWorkflowError(Case::textEditingInvalidResponse)));
        }
        const auto requests = batch({{"hello", en}, {"bye", en}});
        if (!row.expectedError) {
            EXPECT_EQ(texts(h.translate(requests, he)), QStringList({"hello (en>he device)", "bye (en>he device)"}));
        } else {
            const auto error = captureError([&] { h.translate(requests, he); });
            EXPECT_EQ(error.errorCase(), *row.expectedError);
            if (*row.expectedError == Case::serverTranslationUnavailable) {
                EXPECT_EQ(error.sourceLanguage(), "English");
                EXPECT_EQ(error.targetLanguage(), "Hebrew");
            }
        }
        // Hebrew went to the server without asking the device; the device is asked only in the fallback.
        EXPECT_EQ(h.log->indexOf("started he"), 0);
        EXPECT_EQ(h.log->indexOf("server he"), 1);
        EXPECT_EQ(h.log->matching("started").size(), 1);
    }
}

TEST(ServerBackedFallback, SourcesAreTriedInOrderAndTheFirstBlockingOneDecides) {
    {
        // German can only be downloaded: the call fails, although English was translated.
        Harness h;
        h.server->fail(serverFailure());
        h.device->setAvailability(en, he, Availability::installed);
        h.device->setAvailability(de, he, Availability::supported);
        const auto error = captureError([&] { h.translate(batch({{"a", en}, {"b", de}, {"c", es}}), he); });
        EXPECT_EQ(error.errorCase(), Case::serverTranslationUnavailable);
        EXPECT_EQ(error.sourceLanguage(), "German");
        EXPECT_TRUE(h.log->matching("availability es").isEmpty());  // later sources are not tried
    }
    {
        // The first source cannot be translated on the device at all: the server's error, nothing more tried.
        Harness h;
        h.server->fail(std::make_exception_ptr(CaptureWorkflowError(Case::textTranslationInvalidResponse)));
        h.device->setAvailability(de, he, Availability::installed);
        const auto error = captureError([&] { h.translate(batch({{"a", en}, {"b", de}}), he); });
        EXPECT_EQ(error.errorCase(), Case::textTranslationInvalidResponse);
        EXPECT_TRUE(h.log->matching("translate").isEmpty());
    }
    {
        // A server failure that is not a workflow error reaches the caller as it is.
        Harness h;
        h.server->fail(std::make_exception_ptr(std::runtime_error("socket closed")));
        EXPECT_THROW(h.translate(batch({{"a", en}}), he), std::runtime_error);
    }
}

TEST(ServerBackedFallback, LocalFailuresAreFinal) {
    Harness h;
    h.device->setAvailability(en, fr, Availability::installed);
    h.device->failTranslationsFrom(en, std::make_exception_ptr(std::runtime_error("engine crashed")));
    EXPECT_THROW(h.translate(batch({{"a", en}, {"b", de}}), fr), std::runtime_error);
    EXPECT_EQ(h.server->calls(), 0);
    EXPECT_TRUE(h.log->matching("started").isEmpty());
}

TEST(ServerBackedStartCallback, OnceOnTheMainThreadBeforeTheServerAndNeverWithoutIt) {
    {
        Harness h;
        h.translate(batch({{"a", en}, {"b", de}, {"c", es}}), fr);  // three sources, one server batch
        EXPECT_EQ(h.log->matching("started"), QStringList({"started fr"}));
        EXPECT_LT(h.log->indexOf("started"), h.log->indexOf("server"));
        ASSERT_EQ(h.startThreads->size(), 1u);
        EXPECT_EQ(h.startThreads->front(), QCoreApplication::instance()->thread());
    }
    for (const auto& [name, serverAllowed, target] :
         {std::tuple{"all local", true, fr}, std::tuple{"offline", false, fr},
          std::tuple{"automatic target", true, automatic}}) {
        Harness h(serverAllowed);
        h.device->setAvailability(en, fr, Availability::installed);
        h.translate(batch({{"a", en}, {"b", en}}), target);
        EXPECT_TRUE(h.startThreads->empty()) << name;
        EXPECT_EQ(h.server->calls(), 0) << name;
    }
}

TEST(ServerBackedStartCallback, RunsOnTheMainThreadWhenTheBatchRunsElsewhere) {
    Harness h;
    std::atomic<bool> done = false;
    QList<TranslationResponse> responses;
    QThread* workerThread = nullptr;
    std::thread worker([&] {
        workerThread = QThread::currentThread();
        auto client = h.client();
        responses = test::await(client.translate(batch({{"a", de}}), fr));
        done = true;
    });
    EXPECT_TRUE(test::waitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(texts(responses), QStringList({"a (de>fr server)"}));
    ASSERT_EQ(h.startThreads->size(), 1u);
    EXPECT_EQ(h.startThreads->front(), QCoreApplication::instance()->thread());
    EXPECT_NE(h.startThreads->front(), workerThread);
}

TEST(ServerBackedAvailability, RulesInOrder) {
    struct Row {
        bool allowed;
        AppLanguage source;
        AppLanguage target;
        Availability onDevice;
        Availability expected;
        bool deviceAsked;
    };
    const std::vector<Row> rows = {
        {true, en, he, Availability::unsupported, Availability::installed, false},
        {false, en, he, Availability::installed, Availability::unsupported, false},
        {false, he, en, Availability::installed, Availability::unsupported, false},
        {true, en, fr, Availability::installed, Availability::installed, true},
        {false, en, fr, Availability::installed, Availability::installed, true},
        {true, en, fr, Availability::supported, Availability::installed, true},
        {true, en, fr, Availability::unsupported, Availability::installed, true},
        {true, en, automatic, Availability::supported, Availability::supported, true},
        {false, en, fr, Availability::supported, Availability::supported, true},
        {false, en, fr, Availability::unsupported, Availability::unsupported, true},
    };
    for (const Row& row : rows) {
        Harness h(row.allowed);
        h.device->setAvailability(row.source, row.target, row.onDevice);
        auto client = h.client();
        EXPECT_EQ(test::await(client.availability(row.source, row.target)), row.expected)
            << pairName(row.source, row.target).toStdString() << " allowed=" << row.allowed;
        EXPECT_EQ(h.log->matching("availability").size(), row.deviceAsked ? 1 : 0);
    }
}

TEST(ServerBackedTextList, KeepsOrderAndFillsShortResultsWithTheOriginals) {
    Harness h;
    h.device->setAvailability(en, fr, Availability::installed);
    h.device->truncateResultsTo(1);
    auto client = h.client();
    EXPECT_EQ(test::await(client.translate(QStringList{"first", "second", "third"}, en, fr)),
              QStringList({"first (en>fr device)", "second", "third"}));
    EXPECT_EQ(h.log->matching("translate"), QStringList({"translate en>fr [first|second|third]"}));

    Harness server;
    auto serverClient = server.client();
    EXPECT_EQ(test::await(serverClient.translate(QStringList{"x", "y"}, de, fr)),
              QStringList({"x (de>fr server)", "y (de>fr server)"}));
    EXPECT_EQ(server.log->matching("server"), QStringList({"server fr [0:de|1:de]"}));
}

TEST(ServerBackedConstruction, WithoutAServerClientTheConfiguredEndpointIsUsed) {
    test::LocalHttpServer server;
    server.server().Post("/api/text-translations", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"translations":[{"id":"0","text":"bonjour"}]})", "application/json");
    });
    server.start();
    const QByteArray previous = qgetenv("TAVROLIN_TEXT_TRANSLATION_ENDPOINT");
    qputenv("TAVROLIN_TEXT_TRANSLATION_ENDPOINT", server.url("/api/text-translations").toEncoded());
    auto log = std::make_shared<EventLog>();
    ServerBackedTranslationClient client(std::make_shared<RecordingDeviceTranslationClient>(log), nullptr,
                                         [] { return true; });
    if (previous.isNull()) {
        qunsetenv("TAVROLIN_TEXT_TRANSLATION_ENDPOINT");
    } else {
        qputenv("TAVROLIN_TEXT_TRANSLATION_ENDPOINT", previous);
    }
    EXPECT_EQ(test::await(client.translate(QStringList{"hallo"}, de, fr)), QStringList({"bonjour"}));
    EXPECT_EQ(server.requestCount(), 1);
}
