#pragma once

#include <QtGlobal>

#include <functional>

namespace tavrolin {

// Keeps a window that is not mapped yet out of the taskbar and the pager and on every desktop,
// as the overlays and popups expect (the desktop's is markAsOverlayWindow() of its back end).
// Empty: the window gets no such hints.
using OverlayWindowMarking = std::function<void(quint64 window)>;

}  // namespace tavrolin
