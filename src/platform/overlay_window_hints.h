#pragma once

#include <QtGlobal>

namespace tavrolin {

// Keeps a window that is not mapped yet out of the taskbar and the pager and on every desktop,
// as the overlays and popups expect. Does nothing without a desktop that takes such hints.
void markAsOverlayWindow(quint64 window);

}  // namespace tavrolin
