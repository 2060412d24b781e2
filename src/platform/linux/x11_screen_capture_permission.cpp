#include "platform/desktop_backend.h"
#include "platform/screen_capture_permission.h"
namespace tavrolin {

namespace {

// X11 has no per-application capture permission: any client of the display may read it.
class X11ScreenCapturePermission final : public ScreenCapturePermission {
public:
    bool preflight() override { return true; }
    bool request() override { return true; }
};

}  // namespace

std::shared_ptr<ScreenCapturePermission> systemScreenCapturePermission() {
    static const auto permission = std::make_shared<X11ScreenCapturePermission>();
    return permission;
}

}  // namespace tavrolin
