#pragma once

#include "core/lifetime_token.h"
#include "focused_text/accessible_field_read.h"
#include "platform/accessibility_calls.h"
#include "platform/clock.h"

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
// reach its program: a page busy in a script handles the key seconds later, and then the whole
// text stands selected, for the user's next key to replace. The field is looked at for a while;
// when its text is as it was and all of it selected, the selection goes back to what the user
// had. Looking stops at that, at any other change of the field (the user's own, or the
// select-all overtaken by later keys), at `watchBound`, or at stop(). Commands go on meanwhile:
// each look is one bounded accessibility read.
class LateSelectAllGuard {
public:
    static constexpr std::chrono::milliseconds watchBound{15000};
    static constexpr std::chrono::milliseconds watchPoll{100};

    // Both must outlive this.
    LateSelectAllGuard(AccessibilityCalls& accessibility, Scheduler& scheduler);
    ~LateSelectAllGuard();
    LateSelectAllGuard(const LateSelectAllGuard&) = delete;
    LateSelectAllGuard& operator=(const LateSelectAllGuard&) = delete;

    // Watches `element` of `window`, whose reported text was `text` and selection `before` when
    // the select-all went (ending any watch before it).
    void watch(quint64 window, AccessibleElementHandle element, QString text, AccessibleTextRange before);
    // A later command sends keys to `window` now: its own select-all there is not undone.
    void stopIn(quint64 window);
    void stop();
    bool watching() const { return watch_ != nullptr; }

private:
    struct Watch {
        quint64 window = 0;
        AccessibleElementHandle element;
        QString text;
        AccessibleTextRange before;
        std::unique_ptr<ScheduledCall> call;
        std::chrono::milliseconds waited{0};
    };
    void schedule();
    QCoro::Task<void> look(std::weak_ptr<Watch> watch);

    AccessibilityCalls& accessibility_;
    Scheduler& scheduler_;
    std::shared_ptr<Watch> watch_;
    LifetimeToken<LateSelectAllGuard> lifetime_{this};
};

}  // namespace tavrolin
