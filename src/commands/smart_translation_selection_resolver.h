#pragma once

#include "language/focused_text_field_accessing.h"

#include <QString>

#include <exception>
#include <optional>

namespace tavrolin {

// What the Translate command's look at the focused selection found.
struct SmartTranslationSelectionProbeOutcome {
    enum class Kind {
        // A non-empty selection was read on attempt `attempts`.
        selectionFound,
        // No selection after `attempts` reads.
        selectionNotFound,
        // A read failed for another reason (`errorCode`).
        selectionProbeFailed,
        // Nothing was read: this process may not read other applications' fields.
        accessibilityDenied,
    };
    Kind kind = Kind::selectionNotFound;
    int attempts = 0;
    QString errorCode;

    static SmartTranslationSelectionProbeOutcome found(int attempts) { return {Kind::selectionFound, attempts, {}}; }
    static SmartTranslationSelectionProbeOutcome notFound(int attempts) {
        return {Kind::selectionNotFound, attempts, {}};
    }
    static SmartTranslationSelectionProbeOutcome failed(QString errorCode, int attempts) {
        return {Kind::selectionProbeFailed, attempts, std::move(errorCode)};
    }
    static SmartTranslationSelectionProbeOutcome denied() { return {Kind::accessibilityDenied, 0, {}}; }

    bool operator==(const SmartTranslationSelectionProbeOutcome&) const = default;
};

struct SmartTranslationSelectionProbeResult {
    // Only with selectionFound.
    std::optional<FocusedTextFieldSnapshot> snapshot;
    SmartTranslationSelectionProbeOutcome outcome;
};

// Classifies a failed read of the selection and words the routing line.
struct SmartTranslationSelectionResolver {
    // The read failures that mean "nothing selected yet" and are worth another read.
    static bool isRetried(const std::exception_ptr& error);
    static SmartTranslationSelectionProbeOutcome outcome(const std::exception_ptr& error, int attempts);

    struct Route {
        QString decision;
        QString detail;
        bool operator==(const Route&) const = default;
    };
    // The decision and detail of the routing line of an outcome.
    static Route route(const SmartTranslationSelectionProbeOutcome& outcome);
};

}  // namespace tavrolin
