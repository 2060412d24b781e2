#pragma once

#include "platform/window_list.h"

#include <optional>
#include <vector>

namespace tavrolin::test {

// A window list the test writes directly (front to back).
class FakeWindowList final : public WindowListProviding {
public:
    std::vector<WindowListEntry> windows;
    int reads = 0;

    std::vector<WindowListEntry> onScreenWindows() override {
        ++reads;
        return windows;
    }
};

// An ordinary application window: every field present, on layer 0, opaque and on screen.
inline WindowListEntry listedWindow(std::uint32_t number, std::int32_t pid, QRectF bounds,
                                    QString title = QStringLiteral("Document"),
                                    QString owner = QStringLiteral("Editor")) {
    WindowListEntry entry;
    entry.windowNumber = number;
    entry.ownerPID = pid;
    entry.ownerName = std::move(owner);
    entry.name = std::move(title);
    entry.bounds = bounds;
    entry.isOnscreen = true;
    entry.alpha = 1.0;
    entry.layer = 0;
    return entry;
}

}  // namespace tavrolin::test
