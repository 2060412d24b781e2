#pragma once

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>

namespace tavrolin {

// The text read from the front window: what the Rewrite Message command sends as context.
struct ActiveWindowTextSnapshot {
    // The recognised blocks' texts in recognition order, joined with "\n"; empty when nothing
    // was recognised.
    QString text;
    // The captured window's rectangle on the screen (logical pixels, y downward).
    QRectF windowBounds;
    // The window's process; absent when the whole display was captured.
    std::optional<std::int32_t> ownerPID;

    bool operator==(const ActiveWindowTextSnapshot&) const = default;
};

// Reads the text of the front window. Implemented by window translation (capture and text
// recognition) and by the onboarding (a fixed demonstration text). Failures are exceptions,
// CaptureWorkflowError for the cases a user can act on; callers pass them on unchanged.
class ActiveWindowTextProviding {
public:
    virtual ~ActiveWindowTextProviding() = default;
    virtual QCoro::Task<ActiveWindowTextSnapshot> readActiveWindowText() = 0;
    // Starts loading, off the calling thread, what a read needs, for a read that comes soon;
    // returns at once. A reader with nothing to load does nothing.
    virtual void prepare() {}
};

}  // namespace tavrolin
