#pragma once

#include "core/app_language.h"

#include <QCoroTask>
#include <QString>

namespace tavrolin {

// Corrects a text (Edit Message). Implemented by the server client, the offline spelling
// editor and the hybrid that chooses between them. Failures are CaptureWorkflowError.
class TextEditingClient {
public:
    virtual ~TextEditingClient() = default;
    virtual QCoro::Task<QString> edit(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) = 0;
};

}  // namespace tavrolin
