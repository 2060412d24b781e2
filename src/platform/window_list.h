#pragma once

#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// One top-level window as the desktop's window list describes it. Every field is optional:
// another process sets these properties (or fails to), and the rules that pick the front
// window decide what a missing value means.
struct WindowListEntry {
    std::optional<std::uint32_t> windowNumber;
    std::optional<std::int32_t> ownerPID;
    // The owning application's name (its window class, else its process name).
    std::optional<QString> ownerName;
    // The window's title.
    std::optional<QString> name;
    // Top-left origin, logical pixels (X's device pixels over the screen's pixel ratio),
    // window-manager frame included.
    std::optional<QRectF> bounds;
    std::optional<bool> isOnscreen;
    // 0 (transparent) to 1 (opaque).
    std::optional<double> alpha;
    // 0 for ordinary application windows (normal, dialog, utility, toolbar, menu); non-zero for
    // docks, desktops, notifications, tooltips, pop-ups and splash screens.
    std::optional<int> layer;

    bool operator==(const WindowListEntry&) const = default;
};

// The on-screen windows of the desktop, front to back, desktop elements (wallpaper, desktop
// icons) left out. A list that cannot be read is empty.
class WindowListProviding {
public:
    virtual ~WindowListProviding() = default;
    virtual std::vector<WindowListEntry> onScreenWindows() = 0;
};

}  // namespace tavrolin
