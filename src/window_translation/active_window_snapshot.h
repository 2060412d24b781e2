#pragma once

#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>

namespace tavrolin {

// The front application's main window as found at one moment.
struct ActiveWindowSnapshot {
    std::uint32_t windowID = 0;
    std::int32_t ownerPID = 0;
    QString ownerName;
    std::optional<QString> title;
    // Top-left origin, logical pixels, frame included. May be the union of the main window and
    // windows stacked on it (a toolbar, a sheet).
    QRectF bounds;

    // Frames compare exactly: two snapshots of a window that moved by a fraction differ.
    bool operator==(const ActiveWindowSnapshot& other) const {
        return windowID == other.windowID && ownerPID == other.ownerPID && ownerName == other.ownerName &&
               title == other.title && bounds.x() == other.bounds.x() && bounds.y() == other.bounds.y() &&
               bounds.width() == other.bounds.width() && bounds.height() == other.bounds.height();
    }
};

// Finds the front window. Synchronous; throws CaptureWorkflowError.
class ActiveWindowDetecting {
public:
    virtual ~ActiveWindowDetecting() = default;
    virtual ActiveWindowSnapshot detectActiveWindow() = 0;
};

}  // namespace tavrolin
