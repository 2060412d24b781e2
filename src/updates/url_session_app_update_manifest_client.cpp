#include "updates/url_session_app_update_manifest_client.h"

#include "core/app_log.h"
#include "core/network_log.h"
#include "core/url_error.h"

#include <exception>

namespace tavrolin {

URLSessionAppUpdateManifestClient::URLSessionAppUpdateManifestClient(AppUpdateConfiguration configuration)
    : URLSessionAppUpdateManifestClient(
          std::move(configuration),
          std::make_shared<ServerRequestTransport>(ServerSessionConfiguration::updateManifest())) {}

URLSessionAppUpdateManifestClient::URLSessionAppUpdateManifestClient(
    AppUpdateConfiguration configuration, std::shared_ptr<ServerRequestTransport> transport)
    : configuration_(std::move(configuration)), transport_(std::move(transport)) {}

QCoro::Task<AppUpdateManifest> URLSessionAppUpdateManifestClient::latestManifest() {
    // Copies: the task may outlive a caller's reference to this client's fields.
    const auto endpoint = configuration_.endpointURL;
    const auto transport = transport_;

    if (!endpoint) {
        AppLog::network().error(QStringLiteral("request missing endpoint operation=") + operationName);
        throw URLError(URLError::badURL);
    }
    NetworkLog::request(operationName, *endpoint, QStringLiteral("method=GET"));

    ServerHTTPRequest request = ServerHTTPRequest::getJSON();
    request.url = *endpoint;
    ServerHTTPResponse response;
    try {
        response = co_await transport->send(std::move(request));
    } catch (const std::exception& error) {
        NetworkLog::failed(operationName, error);
        throw;
    }

    const qint64 bytes = response.body.size();
    NetworkLog::response(operationName, response.statusCode, bytes);
    if (!response.statusCode || *response.statusCode < 200 || *response.statusCode > 299) {
        const QString reason = QStringLiteral("http_status_") +
                               (response.statusCode ? QString::number(*response.statusCode) : QStringLiteral("none"));
        NetworkLog::invalidResponse(operationName, reason, bytes);
        throw URLError(URLError::badServerResponse);
    }

    try {
        co_return AppUpdateManifest::fromJson(response.body);
    } catch (const std::exception& error) {
        NetworkLog::failed(operationName + QStringLiteral("_decode"), error);
        throw;
    }
}

}  // namespace tavrolin
