#pragma once

#include "core/defaults_store.h"

#include <QString>

#include <vector>

namespace tavrolin {

// Counts successful results and decides when the next automatic "share with a friend" prompt
// is due. All state lives in the defaults store and survives restarts. Main thread only.
class SharePromptStore final {
public:
    static inline const QString disabledForeverKey = QStringLiteral("sharePromptDisabledForever");
    static inline const QString totalSuccessCountKey = QStringLiteral("sharePromptTotalSuccessCount");
    static inline const QString indexKey = QStringLiteral("sharePromptIndex");
    static inline const QString nextAtKey = QStringLiteral("sharePromptNextAt");

    // Spacing, in successes, between prompts; the last entry repeats.
    static std::vector<int> defaultSchedule() { return {20, 10, 10}; }

    SharePromptStore(std::vector<int> schedule, DefaultsStore& defaults);

    // Counts one success; answers true when an automatic prompt is due now (and moves the
    // schedule on). Once the user chose never to be asked, nothing is counted.
    bool recordSuccess();
    // Moves the due point one schedule step past the current count.
    void advanceSchedule();

    bool isDisabledForever() const;
    void disableForever();

    qint64 totalSuccessCount() const;
    qint64 nextPromptAt() const;

private:
    // The schedule entry for a stored position: past the end the last entry, a negative
    // position (never written by us) the first, an empty schedule 10.
    qint64 step(qint64 index) const;
    // The stored position, read as 0 when it is negative.
    qint64 index() const;

    std::vector<int> schedule_;
    DefaultsStore& defaults_;
};

}  // namespace tavrolin
