#pragma once

#include "platform/front_application.h"

#include <memory>

namespace tavrolin {

// The X11 implementation: the window named by the root's _NET_ACTIVE_WINDOW, trusted only while
// a window manager answers _NET_SUPPORTING_WM_CHECK (a stale value outlives a window manager);
// without a window manager, the top-level window that holds the input focus.
// The process id comes from _NET_WM_PID, else from the X-Resource extension. Without a display
// it answers absent. defaultFrontApplicationProvider() is the process's one instance.
std::shared_ptr<FrontApplicationProviding> makeX11FrontApplicationProvider();

}  // namespace tavrolin
