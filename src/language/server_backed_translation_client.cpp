#include "language/server_backed_translation_client.h"

#include "core/capture_workflow_error.h"
#include "language/url_session_server_translation_client.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>

#include <exception>
#include <optional>
#include <utility>

namespace tavrolin {

namespace {

bool involvesHebrew(AppLanguage source, AppLanguage target) {
    return source == AppLanguage::hebrew || target == AppLanguage::hebrew;
}

// The source languages of the requests without repetition, in order of first appearance.
QList<AppLanguage> orderedSourceLanguages(const QList<TranslationRequest>& requests) {
    QList<AppLanguage> sources;
    for (const TranslationRequest& request : requests) {
        if (!sources.contains(request.sourceLanguage)) {
            sources.append(request.sourceLanguage);
        }
    }
    return sources;
}

QList<TranslationRequest> requestsFrom(const QList<TranslationRequest>& requests, AppLanguage source) {
    QList<TranslationRequest> result;
    for (const TranslationRequest& request : requests) {
        if (request.sourceLanguage == source) {
            result.append(request);
        }
    }
    return result;
}

QStringList textsOf(const QList<TranslationRequest>& requests) {
    QStringList texts;
    texts.reserve(requests.size());
    for (const TranslationRequest& request : requests) {
        texts.append(request.text);
    }
    return texts;
}

// Stores the i-th result under the i-th request's id; a short result list leaves the
// request's own text.
void storeByPosition(QHash<QString, QString>& results, const QList<TranslationRequest>& requests,
                     const QStringList& translated) {
    for (qsizetype i = 0; i < requests.size(); ++i) {
        results.insert(requests[i].id, i < translated.size() ? translated[i] : requests[i].text);
    }
}

QList<TranslationResponse> responsesFor(const QList<TranslationRequest>& requests,
                                        const QHash<QString, QString>& results) {
    QList<TranslationResponse> responses;
    responses.reserve(requests.size());
    for (const TranslationRequest& request : requests) {
        responses.append({request.id, results.value(request.id, request.text)});
    }
    return responses;
}

// Runs the callback on the main thread and returns once it has run.
void callOnMainThread(const ServerBackedTranslationClient::StartCallback& callback, AppLanguage target) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() == application->thread()) {
        callback(target);
        return;
    }
    QMetaObject::invokeMethod(
        application, [&callback, target] { callback(target); }, Qt::BlockingQueuedConnection);
}

// After a server failure: the server's share translated on the device, source by source.
// None when a source cannot be translated on the device at all (the caller then reports the
// server's own error); serverTranslationUnavailable when one could be after a download.
QCoro::Task<std::optional<QList<TranslationResponse>>> translateLocallyAfterServerFailure(
    std::shared_ptr<TranslationClient> localClient, QList<TranslationRequest> serverList, AppLanguage target) {
    QHash<QString, QString> results;
    for (const AppLanguage source : orderedSourceLanguages(serverList)) {
        const TranslationPairAvailability availability = co_await localClient->availability(source, target);
        switch (availability) {
        case TranslationPairAvailability::installed: {
            const QList<TranslationRequest> group = requestsFrom(serverList, source);
            QStringList groupTexts = textsOf(group);
            const QStringList translated = co_await localClient->translate(std::move(groupTexts), source, target);
            storeByPosition(results, group, translated);
            break;
        }
        case TranslationPairAvailability::supported:
            throw CaptureWorkflowError::serverTranslationUnavailable(displayName(source), displayName(target));
        case TranslationPairAvailability::unsupported:
            co_return std::nullopt;
        }
    }
    co_return responsesFor(serverList, results);
}

}  // namespace

ServerBackedTranslationClient::ServerBackedTranslationClient(std::shared_ptr<TranslationClient> localClient,
                                                             std::shared_ptr<ServerTranslationClient> serverClient,
                                                             PermissionCallback isServerTranslationAllowed,
                                                             StartCallback onServerTranslationStarted)
    : localClient_(std::move(localClient)),
      serverClient_(serverClient
                        ? std::move(serverClient)
                        : std::make_shared<URLSessionServerTranslationClient>(
                              ServerTranslationConfiguration::resolved(),
                              std::make_shared<ServerRequestTransport>(ServerSessionConfiguration::translation()))),
      isServerTranslationAllowed_(std::move(isServerTranslationAllowed)),
      onServerTranslationStarted_(std::move(onServerTranslationStarted)) {}

QCoro::Task<TranslationPairAvailability> ServerBackedTranslationClient::availability(AppLanguage source,
                                                                                     AppLanguage target) {
    const auto local = localClient_;
    const auto allowed = isServerTranslationAllowed_;
    if (!allowed() && involvesHebrew(source, target)) {
        co_return TranslationPairAvailability::unsupported;
    }
    if (allowed() && involvesHebrew(source, target)) {
        co_return TranslationPairAvailability::installed;
    }
    const TranslationPairAvailability onDevice = co_await local->availability(source, target);
    if (onDevice == TranslationPairAvailability::installed) {
        co_return TranslationPairAvailability::installed;
    }
    if (allowed() && target != AppLanguage::automatic) {
        co_return TranslationPairAvailability::installed;
    }
    co_return onDevice;
}

void ServerBackedTranslationClient::prepare(AppLanguage source, AppLanguage target) {
    // Hebrew always goes to the server; any other pair the device has installed it translates.
    if (localClient_ && !involvesHebrew(source, target)) {
        localClient_->prepare(source, target);
    }
}

QCoro::Task<QStringList> ServerBackedTranslationClient::translate(QStringList texts, AppLanguage source,
                                                                  AppLanguage target) {
    QList<TranslationRequest> requests;
    requests.reserve(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        requests.append({QString::number(i), texts[i], source});
    }
    const QList<TranslationResponse> responses = co_await translate(std::move(requests), target);
    QStringList result;
    result.reserve(responses.size());
    for (const TranslationResponse& response : responses) {
        result.append(response.text);
    }
    co_return result;
}

QCoro::Task<QList<TranslationResponse>> ServerBackedTranslationClient::translate(QList<TranslationRequest> requests,
                                                                                 AppLanguage target) {
    if (requests.isEmpty()) {
        co_return QList<TranslationResponse>{};
    }
    // Everything the call needs, held for its whole length even if this client goes away.
    const auto local = localClient_;
    const auto server = serverClient_;
    const auto allowed = isServerTranslationAllowed_;
    const auto started = onServerTranslationStarted_;

    // Hebrew needs the server: refuse before translating anything.
    if (!allowed()) {
        for (const TranslationRequest& request : requests) {
            if (!allowed() && involvesHebrew(request.sourceLanguage, target)) {
                throw CaptureWorkflowError(CaptureWorkflowError::Case::onlineFeaturesDisabled);
            }
        }
    }

    const QList<AppLanguage> sources = orderedSourceLanguages(requests);
    QList<AppLanguage> serverSources;
    for (const AppLanguage source : sources) {
        if (source == target) {
            continue;  // passes through untouched
        }
        if (allowed() && involvesHebrew(source, target)) {
            serverSources.append(source);
            continue;
        }
        const TranslationPairAvailability onDevice = co_await local->availability(source, target);
        if (onDevice != TranslationPairAvailability::installed && target != AppLanguage::automatic && allowed()) {
            serverSources.append(source);
        }
    }

    QHash<QString, QString> results;
    QList<TranslationRequest> serverList;
    for (const TranslationRequest& request : requests) {
        if (request.sourceLanguage == target) {
            results.insert(request.id, request.text);
        } else if (serverSources.contains(request.sourceLanguage)) {
            serverList.append(request);
        }
    }

    // Device lists first, one call per source, in source order. A device failure here is
    // final: the server is not asked to stand in.
    for (const AppLanguage source : sources) {
        if (source == target || serverSources.contains(source)) {
            continue;
        }
        const QList<TranslationRequest> group = requestsFrom(requests, source);
        // Arguments are built before the co_await: temporaries inside it are not reliably
        // destroyed once by this compiler.
        QStringList groupTexts = textsOf(group);
        const QStringList translated = co_await local->translate(std::move(groupTexts), source, target);
        storeByPosition(results, group, translated);
    }

    if (!serverList.isEmpty()) {
        if (started) {
            callOnMainThread(started, target);
        }
        std::exception_ptr serverError;
        try {
            const QList<TranslationResponse> responses = co_await server->translate(serverList, target);
            for (const TranslationResponse& response : responses) {
                results.insert(response.id, response.text);
            }
        } catch (...) {
            serverError = std::current_exception();
        }
        if (serverError) {
            const std::optional<QList<TranslationResponse>> fallback =
                co_await translateLocallyAfterServerFailure(local, serverList, target);
            if (!fallback) {
                std::rethrow_exception(serverError);
            }
            for (const TranslationResponse& response : *fallback) {
                results.insert(response.id, response.text);
            }
        }
    }

    co_return responsesFor(requests, results);
}

}  // namespace tavrolin
