#pragma once

#include "core/online_feature_policy.h"
#include "language/text_editing_client.h"

#include <memory>

namespace tavrolin {

// Edit Message keeps working offline: while online features are on the request goes to the
// server client, while they are off to the offline spelling editor. The switch is read once
// per call. There is no fallback: a server failure reaches the caller as it is.
// Copies share the clients and the switch.
struct HybridTextEditingClient final : TextEditingClient {
    HybridTextEditingClient(std::shared_ptr<TextEditingClient> onlineClient,
                            std::shared_ptr<TextEditingClient> offlineClient,
                            std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy)
        : onlineClient(std::move(onlineClient)),
          offlineClient(std::move(offlineClient)),
          onlineFeaturePolicy(std::move(onlineFeaturePolicy)) {}

    QCoro::Task<QString> edit(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) override;

    std::shared_ptr<TextEditingClient> onlineClient;
    std::shared_ptr<TextEditingClient> offlineClient;
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy;
};

}  // namespace tavrolin
