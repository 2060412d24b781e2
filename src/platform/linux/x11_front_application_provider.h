#pragma once

#include "platform/front_application.h"

#include <memory>

namespace tavrolin {

// The X11 implementation: the window named by the root's _NET_ACTIVE_WINDOW, trusted only while
// a window manager answers _NET_SUPPORTING_WM_CHECK (a stale value outlives a window manager);
// without a window manager, the top-level window that holds the input focus.
// The process is the window's X client's as the X server knows it (X-Resource), _NET_WM_PID
// only where the server cannot tell; a remote client, or a claim the server contradicts, makes
// the program unknown (FrontApplication::processUnknown). Without a display it answers absent. defaultFrontApplicationProvider() is the process's one instance.
std::shared_ptr<FrontApplicationProviding> makeX11FrontApplicationProvider();

}  // namespace tavrolin
