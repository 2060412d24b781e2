#include "language/online_gated_clients.h"

namespace tavrolin {

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

}  // namespace tavrolin
