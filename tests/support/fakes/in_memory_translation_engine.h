#pragma once

#include "platform/on_device_translation_engine.h"

#include <QHash>
#include <QList>

#include <functional>

namespace tavrolin::test {

// An on-device engine in memory: statuses per "source>target", and a responder the test
// scripts (by default: "<target>:<text>" for every request, in order). Records every call.
class InMemoryTranslationEngine final : public OnDeviceTranslationEngine {
public:
    struct TranslateCall {
        QString source;
        QString target;
        std::vector<OnDeviceTranslationRequest> requests;
    };
    using Responder = std::function<std::vector<OnDeviceTranslationResponse>(const TranslateCall&)>;

    void setStatus(const QString& source, const QString& target, OnDeviceTranslationStatus status) {
        statuses.insert(source + u'>' + target, status);
    }

    QCoro::Task<OnDeviceTranslationStatus> status(QString source, QString target) override {
        statusCalls.append({source, target});
        co_return statuses.value(source + u'>' + target, OnDeviceTranslationStatus::unsupported);
    }

    QCoro::Task<std::vector<OnDeviceTranslationResponse>> translate(
        QString source, QString target, std::vector<OnDeviceTranslationRequest> requests) override {
        translateCalls.append({source, target, requests});
        co_return responder(translateCalls.back());
    }

    QHash<QString, OnDeviceTranslationStatus> statuses;
    QList<std::pair<QString, QString>> statusCalls;
    QList<TranslateCall> translateCalls;
    Responder responder = [](const TranslateCall& call) {
        std::vector<OnDeviceTranslationResponse> out;
        for (const auto& request : call.requests) {
            out.push_back({request.clientIdentifier, call.target + u':' + request.sourceText});
        }
        return out;
    };
};

}  // namespace tavrolin::test
