#pragma once

#include "core/online_feature_policy.h"
#include "updates/app_update_manifest_client.h"

#include <memory>

namespace tavrolin {

// The online-features gate of the update check: while the switch is off it refuses with
// onlineFeaturesDisabled (no request, no log line, the inner client is not called); otherwise
// the manifest or the error passes through unchanged. The switch is read at every call.
struct OnlineGatedAppUpdateManifestClient final : AppUpdateManifestClient {
    OnlineGatedAppUpdateManifestClient(std::shared_ptr<AppUpdateManifestClient> client,
                                       std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy)
        : client(std::move(client)), onlineFeaturePolicy(std::move(onlineFeaturePolicy)) {}

    QCoro::Task<AppUpdateManifest> latestManifest() override;

    std::shared_ptr<AppUpdateManifestClient> client;
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy;
};

}  // namespace tavrolin
