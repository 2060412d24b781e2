#pragma once

#include "language/server_translation_client.h"
#include "language/translation_client.h"

#include <functional>
#include <memory>

namespace tavrolin {

// The translation client the whole application uses. Per source language of a batch it
// chooses the device (when the pair is installed there) or the server (while server
// translation is allowed); Hebrew, on either side, always goes to the server and is refused
// while the server may not be used. When the server fails it tries to finish the server's
// share on the device before giving up. Before each server batch it calls
// `onServerTranslationStarted` once, on the main thread, so the interface can say so.
//
// `isServerTranslationAllowed` may be called from any thread and is asked afresh at every
// decision; its answer is never cached. Copies share the two engines and the callbacks.
class ServerBackedTranslationClient final : public TranslationClient {
public:
    using PermissionCallback = std::function<bool()>;
    using StartCallback = std::function<void(AppLanguage target)>;

    // Without a server client, one is made over the configured translation endpoint with its
    // own session (20 s / 45 s, waiting for connectivity, 2 connections per host).
    ServerBackedTranslationClient(std::shared_ptr<TranslationClient> localClient,
                                  std::shared_ptr<ServerTranslationClient> serverClient,
                                  PermissionCallback isServerTranslationAllowed,
                                  StartCallback onServerTranslationStarted = {});

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage source, AppLanguage target) override;
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage source, AppLanguage target) override;
    QCoro::Task<QList<TranslationResponse>> translate(QList<TranslationRequest> requests, AppLanguage target) override;
    // The device prepares the pair; the server has nothing to load.
    void prepare(AppLanguage source, AppLanguage target) override;

    const std::shared_ptr<TranslationClient>& localClient() const { return localClient_; }
    const std::shared_ptr<ServerTranslationClient>& serverClient() const { return serverClient_; }

private:
    std::shared_ptr<TranslationClient> localClient_;
    std::shared_ptr<ServerTranslationClient> serverClient_;
    PermissionCallback isServerTranslationAllowed_;
    StartCallback onServerTranslationStarted_;
};

}  // namespace tavrolin
