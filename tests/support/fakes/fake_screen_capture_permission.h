#pragma once

#include "platform/screen_capture_permission.h"

namespace tavrolin::test {

// A permission that answers as set and counts the questions.
class FakeScreenCapturePermission final : public ScreenCapturePermission {
public:
    bool granted = true;
    // What request() answers; by default it grants and the grant takes effect at once.
    bool grantsOnRequest = true;
    bool grantTakesEffect = true;
    int preflightCount = 0;
    int requestCount = 0;

    bool preflight() override {
        ++preflightCount;
        return granted;
    }
    bool request() override {
        ++requestCount;
        if (grantsOnRequest && grantTakesEffect) {
            granted = true;
        }
        return grantsOnRequest;
    }
};

}  // namespace tavrolin::test
