#pragma once

namespace tavrolin {

// Whether this process may read the pixels of other applications' windows.
class ScreenRecordingPermission {
public:
    virtual ~ScreenRecordingPermission() = default;
    // Whether capturing is allowed right now, without asking anyone.
    virtual bool preflight() = 0;
    // Asks for access where the desktop asks the user; answers whether it was granted.
    virtual bool request() = 0;
};

}  // namespace tavrolin
