#include "language/online_gated_clients.h"

#include "core/capture_workflow_error.h"

namespace tavrolin {

namespace {

// Reads the switch once; off: the call is refused before anything else happens.
void requireOnlineFeatures(const OnlineFeaturePolicy& policy) {
    if (!policy.isOnlineFeaturesEnabled()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::onlineFeaturesDisabled);
    }
}

}  // namespace

QCoro::Task<QString> OnlineGatedTextWritingClient::write(QString fieldText, QString windowText,
                                                         AppLanguage targetLanguage) {
    requireOnlineFeatures(*onlineFeaturePolicy);
    const std::shared_ptr<TextWritingClient> inner = client;
    co_return co_await inner->write(std::move(fieldText), std::move(windowText), targetLanguage);
}

QCoro::Task<QString> OnlineGatedTextImproveClient::improve(QString text, AppLanguage language) {
    requireOnlineFeatures(*onlineFeaturePolicy);
    const std::shared_ptr<TextImproveClient> inner = client;
    co_return co_await inner->improve(std::move(text), language);
}

QCoro::Task<QString> OnlineGatedTextPromptClient::createPrompt(QString text, TextPromptLanguage language) {
    requireOnlineFeatures(*onlineFeaturePolicy);
    const std::shared_ptr<TextPromptClient> inner = client;
    co_return co_await inner->createPrompt(std::move(text), language);
}

QCoro::Task<AppUpdateManifest> OnlineGatedAppUpdateManifestClient::latestManifest() {
    requireOnlineFeatures(*onlineFeaturePolicy);
    const std::shared_ptr<AppUpdateManifestClient> inner = client;
    co_return co_await inner->latestManifest();
}

}  // namespace tavrolin
