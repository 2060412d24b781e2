#include "language/hybrid_text_editing_client.h"

namespace tavrolin {

QCoro::Task<QString> HybridTextEditingClient::edit(QString text, AppLanguage sourceLanguage,
                                                   AppLanguage targetLanguage) {
    // Keep the chosen client alive for the whole call, whatever happens to this wrapper.
    const std::shared_ptr<TextEditingClient> client =
        onlineFeaturePolicy->isOnlineFeaturesEnabled() ? onlineClient : offlineClient;
    co_return co_await client->edit(std::move(text), sourceLanguage, targetLanguage);
}

}  // namespace tavrolin
