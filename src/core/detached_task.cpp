#include "core/detached_task.h"

#include "core/error_description.h"

#include <exception>

namespace tavrolin {

namespace {

QCoro::Task<void> observe(QCoro::Task<void> task, Logger log, QString name) {
    try {
        co_await std::move(task);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        log.error([&] {
            return QStringLiteral("%1 ended with an error errorType=%2 message=%3")
                .arg(name, errorTypeName(error), errorDescription(error));
        });
    }
}

}  // namespace

void startDetached(QCoro::Task<void> task, const Logger& log, QString name) {
    // The observer catches everything, so dropping its own task loses nothing.
    observe(std::move(task), log, std::move(name));
}

}  // namespace tavrolin
