#pragma once

#include "core/app_language.h"

#include <QCoroTask>
#include <QString>

namespace tavrolin {

// Writes or rewrites a message from the focused field's text, with the text read from the
// front window as context (Rewrite Message).
class TextWritingClient {
public:
    virtual ~TextWritingClient() = default;
    virtual QCoro::Task<QString> write(QString fieldText, QString windowText, AppLanguage targetLanguage) = 0;
};

}  // namespace tavrolin
