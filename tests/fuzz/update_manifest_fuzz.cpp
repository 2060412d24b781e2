// The release manifest as the update server sends it (the body of a 2xx answer).
#include "fuzz_support.h"
#include "server/json_decoding_error.h"
#include "updates/app_update_manifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

using namespace tavrolin;

namespace {

QJsonValue optional(const std::optional<QString>& value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

std::optional<QString> encoded(const std::optional<QUrl>& url) {
    return url ? std::optional(url->toString(QUrl::FullyEncoded)) : std::nullopt;
}

// Addresses compare by the text they are opened with: QUrl keeps a "#" inside a fragment
// as written but encodes it on the way out, and then compares the two as different.
bool same(const AppUpdateManifest& a, const AppUpdateManifest& b) {
    return a.version == b.version && a.build == b.build && a.minimumSupportedBuild == b.minimumSupportedBuild &&
           encoded(a.downloadURL) == encoded(b.downloadURL) &&
           encoded(a.releaseNotesURL) == encoded(b.releaseNotesURL) && a.critical == b.critical;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::discardLogLines();
    const QByteArray body = fuzz::InputReader(data, size).rest();
    AppUpdateManifest manifest;
    try {
        manifest = AppUpdateManifest::fromJson(body);
    } catch (const JsonDecodingError& error) {
        fuzz::require(error.what() != nullptr && *error.what() != '\0', "a decoding error without a description");
        return 0;
    }
    fuzz::require(manifest.downloadURL.isValid(), "a manifest with an invalid download address");
    fuzz::require(!manifest.releaseNotesURL || manifest.releaseNotesURL->isValid(),
                  "a manifest with invalid release notes address");

    // The manifest, published again as the server would, decodes to the same manifest.
    const QJsonObject again{
        {QStringLiteral("version"), manifest.version},
        {QStringLiteral("build"), manifest.build},
        {QStringLiteral("minimumSupportedBuild"), optional(manifest.minimumSupportedBuild)},
        {QStringLiteral("downloadUrl"), *encoded(manifest.downloadURL)},
        {QStringLiteral("releaseNotesUrl"), optional(encoded(manifest.releaseNotesURL))},
        {QStringLiteral("critical"), manifest.critical},
    };
    fuzz::require(same(AppUpdateManifest::fromJson(QJsonDocument(again).toJson()), manifest),
                  "the manifest does not survive a round trip");
    return 0;
}
