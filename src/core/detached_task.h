#pragma once

#include "core/app_log.h"

#include <QCoroTask>
#include <QString>

namespace tavrolin {

// Lets a task run on without anyone awaiting it. An exception it ends with is written to `log`
// as "<name> ended with an error errorType=... message=..." instead of vanishing with the task.
void startDetached(QCoro::Task<void> task, const Logger& log, QString name);

}  // namespace tavrolin
