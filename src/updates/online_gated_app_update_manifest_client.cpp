#include "updates/online_gated_app_update_manifest_client.h"

namespace tavrolin {

QCoro::Task<AppUpdateManifest> OnlineGatedAppUpdateManifestClient::latestManifest() {
    requireOnlineFeatures(*onlineFeaturePolicy);
    const std::shared_ptr<AppUpdateManifestClient> inner = client;
    co_return co_await inner->latestManifest();
}

}  // namespace tavrolin
