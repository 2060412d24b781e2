#include "commands/smart_translation_selection_resolver.h"

#include "core/capture_workflow_error.h"

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;
using Outcome = SmartTranslationSelectionProbeOutcome;

std::optional<Case> workflowCase(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CaptureWorkflowError& e) {
        return e.errorCase();
    } catch (...) {
        return std::nullopt;
    }
}

bool meansNoSelection(Case c) {
    return c == Case::noFocusedTextField || c == Case::focusedTextFieldEmpty || c == Case::noTextSelected;
}

QString attemptsDetail(int attempts) {
    return QStringLiteral("attempts=%1").arg(attempts);
}

}  // namespace

bool SmartTranslationSelectionResolver::isRetried(const std::exception_ptr& error) {
    const std::optional<Case> c = workflowCase(error);
    return c && meansNoSelection(*c);
}

Outcome SmartTranslationSelectionResolver::outcome(const std::exception_ptr& error, int attempts) {
    const std::optional<Case> c = workflowCase(error);
    if (c == Case::accessibilityPermissionDenied) {
        return Outcome::denied();
    }
    if (c && meansNoSelection(*c)) {
        return Outcome::notFound(attempts);
    }
    return Outcome::failed(CaptureWorkflowErrorCode::code(error), attempts);
}

SmartTranslationSelectionResolver::Route SmartTranslationSelectionResolver::route(const Outcome& outcome) {
    switch (outcome.kind) {
    case Outcome::Kind::selectionFound:
        return {QStringLiteral("selection_found"), attemptsDetail(outcome.attempts)};
    case Outcome::Kind::selectionNotFound:
        return {QStringLiteral("selection_not_found"), attemptsDetail(outcome.attempts)};
    case Outcome::Kind::selectionProbeFailed:
        return {QStringLiteral("selection_probe_failed"),
                attemptsDetail(outcome.attempts) + QStringLiteral(" errorCode=") + outcome.errorCode};
    case Outcome::Kind::accessibilityDenied:
        break;
    }
    return {QStringLiteral("selection_probe_failed"), QStringLiteral("errorCode=accessibility_permission_denied")};
}

}  // namespace tavrolin
