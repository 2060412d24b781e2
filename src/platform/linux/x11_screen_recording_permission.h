#pragma once

#include "platform/screen_recording_permission.h"

namespace tavrolin {

// An X11 client may read the whole screen: there is nothing to ask.
class X11ScreenRecordingPermission final : public ScreenRecordingPermission {
public:
    bool preflight() override { return true; }
    bool request() override { return true; }
};

}  // namespace tavrolin
