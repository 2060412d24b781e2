#pragma once

#include "core/app_language.h"

#include <QCoroTask>
#include <QString>

namespace tavrolin {

// Cleans up a dictated text in its own language.
class TextImproveClient {
public:
    virtual ~TextImproveClient() = default;
    virtual QCoro::Task<QString> improve(QString text, AppLanguage language) = 0;
};

}  // namespace tavrolin
