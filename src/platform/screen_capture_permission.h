#pragma once

#include <memory>

namespace tavrolin {

// Permission to read other windows' pixels.
class ScreenCapturePermission {
public:
    virtual ~ScreenCapturePermission() = default;
    // Whether captures are allowed now; never asks the user.
    virtual bool preflight() = 0;
    // Asks for the permission when the system has a way to; true when it was granted (which may
    // take effect only after a restart of the program).
    virtual bool request() = 0;
};

}  // namespace tavrolin
