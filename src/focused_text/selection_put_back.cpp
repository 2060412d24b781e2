#include "focused_text/selection_put_back.h"

#include "core/app_log.h"
#include "focused_text/accessible_field_read.h"
#include "focused_text/accessible_text_cleaning.h"
#include "focused_text/focused_text_field_accessor.h"
#include "focused_text/late_select_all_guard.h"
#include "platform/scheduler_sleep.h"

#include <algorithm>
#include <vector>

namespace tavrolin {

namespace {

struct SeenRead {
    ReportedFieldText reported;
    std::optional<SeenAccessibleText> seen;
    // The selection as the user sees it; absent when the program tells none.
    std::optional<TextRange> selection;
};

QCoro::Task<SeenRead> readSeen(AccessibilityCalls& calls, AccessibleElementHandle element) {
    const auto read = [element](Accessibility& ax) { return readReportedFieldText(ax, element, true); };
    // Awaited into a variable of its own: g++ 12 destroys a co_await result twice inside a braced
    // initializer or a conditional expression.
    SeenRead now;
    ReportedFieldText reported = co_await ask(calls, read, ReportedFieldText{}, reportedFieldTextBound);
    now.reported = std::move(reported);
    if (now.reported.value) {
        now.seen.emplace(*now.reported.value, now.reported.objects, now.reported.unpublishedObjects);
        if (const std::optional<AccessibleTextRange>& range = now.reported.selectedRange) {
            now.selection = now.seen->seenRange(TextRange{range->location, range->length});
        }
    }
    co_return now;
}

}  // namespace

QString describePutBack(PutBackOutcome outcome) {
    switch (outcome) {
    case PutBackOutcome::placed:
        return QStringLiteral("placed");
    case PutBackOutcome::collapsed:
        return QStringLiteral("collapsed");
    case PutBackOutcome::unconfirmed:
        return QStringLiteral("unconfirmed");
    case PutBackOutcome::notPlaced:
        break;
    }
    return QStringLiteral("not_placed");
}

namespace {

// A program busy elsewhere may leave a read unanswered, or answer it with no text: that is no
// answer while the field held text (`withText`), and the read is made again.
QCoro::Task<SeenRead> readSeenAgain(AccessibilityCalls& calls, Scheduler& scheduler, AccessibleElementHandle element,
                                    bool withText) {
    for (int attempt = 1;; ++attempt) {
        SeenRead now = co_await readSeen(calls, element);
        const bool answered = now.seen && (!withText || !now.seen->text().isEmpty());
        if (answered || attempt == putBackReadAttempts) {
            co_return now;
        }
        co_await sleepFor(scheduler, putBackReadRetry);
    }
}

enum class Shown {
    asked,
    other,      // another selection, or none could be made
    unchanged,  // none, or the one before
};

// Selects `range` of the seen text of `element`; what the field then shows.
QCoro::Task<Shown> place(AccessibilityCalls& calls, Scheduler& scheduler, AccessibleElementHandle element,
                         TextRange range, bool backward, bool withText) {
    const SeenRead now = co_await readSeenAgain(calls, scheduler, element, withText);
    if (!now.seen) {
        co_return Shown::other;
    }
    const std::optional<SeenAccessibleText::Place> start = now.seen->reportedPlace(range.location);
    const std::optional<SeenAccessibleText::Place> end = now.seen->reportedPlace(range.location + range.length);
    // One object's own text takes a selection: one that runs across objects cannot be made.
    if (!start || !end || start->path != end->path || end->offset < start->offset) {
        co_return Shown::other;
    }
    const std::vector<qsizetype> path = start->path;
    const AccessibleTextRange reported{start->offset, end->offset - start->offset, backward && range.length > 0};
    const auto select = [element, path, reported](Accessibility& ax) {
        return path.empty() ? ax.setSelectedRange(element, reported)
                            : ax.setSelectedRangeInEmbedded(element, path, reported);
    };
    if (!co_await ask(calls, select)) {
        co_return Shown::other;
    }
    // A read left unanswered meanwhile is one look fewer, not a failure.
    std::optional<TextRange> shown;
    for (std::chrono::milliseconds waited{0};; waited += putBackShowPoll) {
        const SeenRead after = co_await readSeen(calls, element);
        shown = after.selection;
        if (shown == range) {
            co_return Shown::asked;
        }
        if (waited >= putBackShowBound) {
            break;
        }
        co_await sleepFor(scheduler, putBackShowPoll);
    }
    const auto describe = [](const std::optional<TextRange>& r) {
        return r ? QStringLiteral("%1+%2").arg(r->location).arg(r->length) : QStringLiteral("none");
    };
    AppLog::app().info(QStringLiteral("focused field put back step not shown asked=%1 shown=%2 before=%3")
                           .arg(describe(range), describe(shown), describe(now.selection)));
    co_return (!shown || shown == now.selection) ? Shown::unchanged : Shown::other;
}

}  // namespace

QCoro::Task<PutBackOutcome> putSelectionBackInField(AccessibilityCalls& calls, Scheduler& scheduler,
                                                    AccessibleElementHandle element, QString text, TextRange selection,
                                                    bool mayAskAgain, bool backward) {
    const bool withText = !text.isEmpty();
    const SeenRead now = co_await readSeenAgain(calls, scheduler, element, withText);
    if (!now.seen) {
        co_return PutBackOutcome::notPlaced;
    }
    const QString seen = now.seen->text();
    const TextRange atEnd{seen.size(), 0};
    std::vector<TextRange> places;
    if (FocusedTextFieldAccessor::fieldHoldsText(seen, text) && isValidRange(selection, seen.size())) {
        // Where the user had it, else collapsed to where it ended, else to the end of the text.
        places = {selection, TextRange{selection.location + selection.length, 0}, atEnd};
    } else if (!seen.isEmpty() && selectsWholeText(now.reported) && selection != TextRange{0, seen.size()}) {
        // The field is no longer what the selection was counted in: what the user does there now
        // stands, but a whole text selected is ours to undo.
        places = {atEnd};
    }
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (i > 0 && std::find(places.begin(), places.begin() + static_cast<std::ptrdiff_t>(i), places[i]) !=
                         places.begin() + static_cast<std::ptrdiff_t>(i)) {
            continue;  // tried already
        }
        // The user's own selection goes back the way they made it.
        const Shown shown = co_await place(calls, scheduler, element, places[i], i == 0 && backward, withText);
        if (shown == Shown::asked) {
            co_return places[i] == selection ? PutBackOutcome::placed : PutBackOutcome::collapsed;
        }
        if (shown == Shown::unchanged && mayAskAgain) {
            co_return PutBackOutcome::unconfirmed;
        }
    }
    co_return PutBackOutcome::notPlaced;
}

}  // namespace tavrolin
