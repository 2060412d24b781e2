#include "commands/command_host.h"

#include "language/focused_text_replacement_fallback.h"

namespace tavrolin {

namespace {

QString joined(const QString& description, const std::optional<QString>& suggestion) {
    return suggestion ? description + QStringLiteral("\n\n") + *suggestion : description;
}

}  // namespace

QString commandErrorMessage(const std::exception& error) {
    if (const auto* workflow = dynamic_cast<const CaptureWorkflowError*>(&error)) {
        return joined(workflow->errorDescription(), workflow->recoverySuggestion());
    }
    if (const auto* fallback = dynamic_cast<const FocusedTextReplacementFallback*>(&error)) {
        return joined(fallback->errorDescription(), fallback->recoverySuggestion());
    }
    return QString::fromUtf8(error.what());
}

QString commandErrorMessage(const std::exception_ptr& error) {
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const std::exception& e) {
        return commandErrorMessage(e);
    } catch (...) {
    }
    return QStringLiteral("An unknown error occurred.");
}

}  // namespace tavrolin
