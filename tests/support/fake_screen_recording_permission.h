#pragma once

#include "platform/screen_recording_permission.h"

namespace tavrolin::test {

// Screen-recording access as the test sets it; `grantedAfterRequest` is what a request does.
class FakeScreenRecordingPermission final : public ScreenRecordingPermission {
public:
    bool granted = true;
    // What the user answers, and whether the answer takes effect before a restart.
    bool userGrants = true;
    bool takesEffectAtOnce = true;
    int requests = 0;

    bool preflight() override { return granted; }
    bool request() override {
        ++requests;
        if (userGrants && takesEffectAtOnce) {
            granted = true;
        }
        return userGrants;
    }
};

}  // namespace tavrolin::test
