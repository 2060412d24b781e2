#pragma once

// The online-features gates: each refuses its call with onlineFeaturesDisabled while the
// switch is off (no request, no log line, the inner client is not called) and otherwise passes
// the call and its result or error through unchanged. The switch is read once, at the start of
// every call; copies of a gate share the inner client and the switch.

#include "core/online_feature_policy.h"
#include "language/text_improve_client.h"
#include "language/text_prompt_client.h"
#include "language/text_writing_client.h"

#include <memory>

namespace tavrolin {

struct OnlineGatedTextWritingClient final : TextWritingClient {
    OnlineGatedTextWritingClient(std::shared_ptr<TextWritingClient> client,
                                 std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy)
        : client(std::move(client)), onlineFeaturePolicy(std::move(onlineFeaturePolicy)) {}

    QCoro::Task<QString> write(QString fieldText, QString windowText, AppLanguage targetLanguage) override;

    std::shared_ptr<TextWritingClient> client;
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy;
};

struct OnlineGatedTextImproveClient final : TextImproveClient {
    OnlineGatedTextImproveClient(std::shared_ptr<TextImproveClient> client,
                                 std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy)
        : client(std::move(client)), onlineFeaturePolicy(std::move(onlineFeaturePolicy)) {}

    QCoro::Task<QString> improve(QString text, AppLanguage language) override;

    std::shared_ptr<TextImproveClient> client;
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy;
};

struct OnlineGatedTextPromptClient final : TextPromptClient {
    OnlineGatedTextPromptClient(std::shared_ptr<TextPromptClient> client,
                                std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy)
        : client(std::move(client)), onlineFeaturePolicy(std::move(onlineFeaturePolicy)) {}

    QCoro::Task<QString> createPrompt(QString text, TextPromptLanguage language) override;

    std::shared_ptr<TextPromptClient> client;
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy;
};

}  // namespace tavrolin
