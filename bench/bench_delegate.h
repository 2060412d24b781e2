#pragma once

// The application delegate the field-command benchmarks press their shortcuts to.
#include "core/app_settings_store.h"
#include "core/standard_defaults.h"
#include "platform/desktop_backend.h"
#include "server/server_request_transport.h"
#include "shell/app_delegate.h"

#include <memory>

namespace tavrolin::bench {

// A delegate over this session's settings with `native` and `second` as the user's languages and
// online features, usage statistics, the selection buttons and launch at login off, its shortcuts
// registered.
inline std::unique_ptr<AppDelegate> makeOfflineDelegate(AppLanguage native, AppLanguage second) {
    AppSettingsStore store(standardDefaults());
    AppSettings settings = store.settings();
    settings.targetLanguage = native;
    settings.messageTargetLanguage = second;
    settings.onlineFeaturesEnabled = false;
    settings.telemetryEnabled = false;
    settings.selectionPopupEnabled = false;
    settings.launchAtLoginEnabled = false;
    store.persist(settings);
    // The program's start hands its HTTP client to every server transport; so does this one.
    ServerRequestTransport::useHttpClient(systemHttpClient());
    auto delegate = std::make_unique<AppDelegate>();
    delegate->configureSettings();
    return delegate;
}

}  // namespace tavrolin::bench
