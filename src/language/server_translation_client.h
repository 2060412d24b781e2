#pragma once

#include "language/translation_client.h"

#include <QCoroTask>
#include <QList>

namespace tavrolin {

// Translates a batch of texts, each with its own source language, into one target language
// through the server. One response per request, in request order, matched by id.
class ServerTranslationClient {
public:
    virtual ~ServerTranslationClient() = default;
    // Fails with CaptureWorkflowError textTranslationRequestFailed or
    // textTranslationInvalidResponse.
    virtual QCoro::Task<QList<TranslationResponse>> translate(QList<TranslationRequest> requests,
                                                              AppLanguage target) = 0;
};

}  // namespace tavrolin
