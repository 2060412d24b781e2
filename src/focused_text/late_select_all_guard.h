#pragma once

#include "core/lifetime_token.h"
#include "focused_text/accessible_field_read.h"
#include "focused_text/focus_resolver.h"
#include "focused_text/selection_put_back.h"
#include "platform/accessibility_calls.h"
#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/user_key_activity.h"

#include <QElapsedTimer>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace tavrolin {

// Whether a field's selection covers its whole text, as accessibility reports both. A trailing
// line break, which some rich-text fields report and their select-all leaves out, is no part
// that counts. An empty text is covered by any selection.
bool selectionCoversText(const QString& text, const std::optional<AccessibleTextRange>& range);
// The same for a field read with its selection: false when either is missing.
bool selectsWholeText(const ReportedFieldText& read);

// A select-all sent for a paste that did not go (the field did not show it in time) may still
// reach its program: a page busy in a script handles the key whenever its script ends, seconds
// or minutes later, and then the whole text stands selected, for the user's next key to replace.
// The field is looked at for as long as that key may still come; when its text is as it was and
// all of it selected, the selection goes back to what the user had (a put-back the field does not
// show is made again half a second later, up to maximumPutBacks times, also behind a window of
// ours, the last one, its window in front, moving on to the caret at the end where the user's
// place does not show). Looking stops at that, at
// any other change of the field (the user's own, or the select-all overtaken by later keys), once
// another element of the window has the focus, at any press of the user's in the field's window (a
// key of any kind, chords included, or a pointer button: what the field shows is then theirs,
// their keys landing behind ours), or at stop(). While another program's window is in front the
// field is left alone and looked at again when the user comes back to it, so that a select-all
// that landed meanwhile does not wait there for their first key; a window of ours, such as the
// copy window, does not count. Commands go on meanwhile: each look is one bounded accessibility
// read.
class LateSelectAllGuard {
public:
    static constexpr std::chrono::milliseconds watchPoll{100};
    // How many put-backs of a late select-all may fail before the field is left to the user.
    static constexpr int maximumPutBacks = 12;
    static constexpr std::chrono::milliseconds putBackRetryDelay{500};
    // How long after a watch began a put-back that showed is made again where the whole text
    // stands selected again, nothing pressed in the field's window since.
    static constexpr std::chrono::milliseconds watchAfterPutBack{8000};
    // Watches a field whose selection was just put back where the user had it, read `now`:
    // put back again where its program selects its whole text again on its own.
    void watchPutBack(FrontApplication window, AccessibleElementHandle element, const ReportedFieldText& now) {
        watch(std::move(window), std::move(element), now);
    }

    // All must outlive this. `keyActivity` none: only the field and the focus end a watch;
    // `clock` none: the monotonic clock times it.
    LateSelectAllGuard(AccessibilityCalls& accessibility, Scheduler& scheduler, FocusResolver& focus,
                       UserKeyActivity* keyActivity = nullptr, const Clock* clock = nullptr);
    ~LateSelectAllGuard();
    LateSelectAllGuard(const LateSelectAllGuard&) = delete;
    LateSelectAllGuard& operator=(const LateSelectAllGuard&) = delete;

    // Watches `element` of `window`, read as `before` (its text and selection) when the
    // select-all went (ending any watch before it); nothing without a text and a selection.
    void watch(FrontApplication window, AccessibleElementHandle element, const ReportedFieldText& before);
    // A put-back of `selection` (counted in `seenText`) that did not show, the field read `now`
    // with its whole text selected: made again once the field's window is in front, under the
    // same watch (nothing when its whole text is not selected).
    void watchFailedPutBack(FrontApplication window, AccessibleElementHandle element, const ReportedFieldText& now,
                            QString seenText, TextRange selection);
    // A later command sends keys to `window` now: its own select-all there is not undone.
    void stopIn(quint64 window);
    void stop();
    bool watching() const { return watch_ != nullptr; }

private:
    struct Watch {
        FrontApplication window;
        AccessibleElementHandle element;
        QString text;
        AccessibleTextRange before;
        // The same, as the user sees them: what goes back.
        QString seenText;
        std::optional<TextRange> seenBefore;
        std::unique_ptr<ScheduledCall> call;
        std::chrono::milliseconds startedAt{0};
        UserPressesInWindow presses;
        // Put-backs of the whole text found selected that did not show: the next is made only
        // once the field's window is in front, and not before `putBackAfter`.
        int putBacksFailed = 0;
        std::chrono::milliseconds putBackAfter{0};
    };
    void schedule();
    QCoro::Task<void> look(std::weak_ptr<Watch> watch);
    // Why the select-all can no longer come to a field the user still has as it was: they went
    // to another window or element. Absent while it still can.
    // Whether another program's window is in front of the field's, counting the presses there as
    // not the field's.
    bool awayFromField(Watch& watch);
    QCoro::Task<std::optional<QString>> userMovedOn(std::shared_ptr<Watch> watch);
    std::chrono::milliseconds now() const;

    AccessibilityCalls& accessibility_;
    Scheduler& scheduler_;
    FocusResolver& focus_;
    UserKeyActivity* keyActivity_;
    const Clock* clock_;
    QElapsedTimer monotonic_;
    std::shared_ptr<Watch> watch_;
    LifetimeToken<LateSelectAllGuard> lifetime_{this};
};

}  // namespace tavrolin
