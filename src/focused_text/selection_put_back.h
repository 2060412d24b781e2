#pragma once

#include "core/text_units.h"
#include "platform/accessibility_calls.h"
#include "platform/clock.h"

#include <QCoroTask>
#include <QString>

#include <chrono>

namespace tavrolin {

// Puts a field's caret and selection back where the user had them, after a step of ours moved
// them (a select-all for a paste its program refused or never took, a late paste undone, lines
// written and taken back): otherwise the user's next key replaces what stands selected.
//
// `selection` is counted in `text`, the field's text as the user sees it (each embedded object
// with its own words, no U+FEFF after emoji). It is placed where the program counts it: in its
// reported text, inside the object that holds it (a link, a paragraph), and read back. Only a
// selection the field shows as asked counts as placed. Where it shows another, or its program
// refuses, the caret goes to the selection's end, else to the end of the text, each read back the
// same way: the last resort is taken whatever the others did. A program may apply a selection and
// go on reporting the one it had, or none, for a while (Firefox while the copy window is up), or
// accept one and not apply it: with `mayAskAgain` such a field is left as it is (`unconfirmed`),
// for the caller to ask again a moment later rather than move the user's caret on a guess;
// without, it counts as not placed and the next place is tried. A read the program leaves
// unanswered, or answers with no text where it held some, is made again before it counts. A
// field whose text is no longer `text` keeps its caret and selection, unless its whole text stands
// selected, which is then collapsed to its end. Every step is one bounded accessibility call.
enum class PutBackOutcome {
    placed,       // as the user had it, read back so
    collapsed,    // the caret at the selection's end or at the text's end, read back so
    unconfirmed,  // the field showed no change: to be asked again
    notPlaced,    // the field did not answer, or showed no place as asked
};
QCoro::Task<PutBackOutcome> putSelectionBackInField(AccessibilityCalls& accessibility, Scheduler& scheduler,
                                                    AccessibleElementHandle element, QString text, TextRange selection,
                                                    bool mayAskAgain = false, bool backward = false);
QString describePutBack(PutBackOutcome outcome);

// How long a placed selection may take to show.
inline constexpr std::chrono::milliseconds putBackShowBound{500};
inline constexpr std::chrono::milliseconds putBackShowPoll{50};
// How often a read left unanswered (or answered empty) is made, and how far apart.
inline constexpr int putBackReadAttempts = 4;
inline constexpr std::chrono::milliseconds putBackReadRetry{150};

}  // namespace tavrolin
