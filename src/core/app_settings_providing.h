#pragma once

#include "core/app_settings.h"

namespace tavrolin {

// The read-only view of the current settings that services hold. Read `settings()` at the
// start of each operation, so a replaced value takes effect at the next one.
class AppSettingsProviding {
public:
    virtual ~AppSettingsProviding() = default;
    virtual AppSettings settings() const = 0;
};

}  // namespace tavrolin
