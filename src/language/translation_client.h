#pragma once

#include "core/app_language.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>

namespace tavrolin {

// One text of a batch; the response to it carries the same id. Ids are meant to be unique
// within a batch. The text is passed on unchanged (not trimmed).
struct TranslationRequest {
    QString id;
    QString text;
    AppLanguage sourceLanguage = AppLanguage::automatic;

    bool operator==(const TranslationRequest&) const = default;
};

struct TranslationResponse {
    QString id;
    QString text;

    bool operator==(const TranslationResponse&) const = default;
};

enum class TranslationPairAvailability {
    installed,    // the pair can be translated now
    supported,    // the pair can be translated once its language data is installed
    unsupported,  // this client cannot translate the pair
};

// The one seam through which the program translates text. Implementations are called from any
// coroutine; failures are exceptions.
//
// The two operations named translate are overloads: an implementation that overrides one of
// them writes `using TranslationClient::translate;` so the other stays visible.
class TranslationClient {
public:
    virtual ~TranslationClient() = default;

    // Never fails.
    virtual QCoro::Task<TranslationPairAvailability> availability(AppLanguage source, AppLanguage target) = 0;

    // One result per input text, in input order.
    virtual QCoro::Task<QStringList> translate(QStringList texts, AppLanguage source, AppLanguage target) = 0;

    // A hint that the pair will probably be translated soon: what the client would translate it
    // with may start loading, without waiting for it. Never fails; a client with nothing to load
    // does nothing. Call it on the thread that translates.
    virtual void prepare(AppLanguage source, AppLanguage target) {
        (void)source;
        (void)target;
    }

    // One response per request, in request order. The default groups the requests by source
    // language (in order of first appearance) and translates each group with one call of the
    // text-list operation, one group after another; the first failure fails the whole batch
    // and nothing is returned. A request whose group came back short keeps its own text.
    virtual QCoro::Task<QList<TranslationResponse>> translate(QList<TranslationRequest> requests, AppLanguage target);
};

}  // namespace tavrolin
