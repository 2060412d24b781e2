#pragma once

#include "updates/app_update_manifest.h"

#include <QCoroTask>

namespace tavrolin {

// Where the update check gets the release manifest from. Implementations throw on failure:
// the transport's URLError, a bad-server-response URLError, a JsonDecodingError, or (behind
// the online-features gate) the workflow error for disabled online features.
class AppUpdateManifestClient {
public:
    virtual ~AppUpdateManifestClient() = default;
    virtual QCoro::Task<AppUpdateManifest> latestManifest() = 0;
};

}  // namespace tavrolin
