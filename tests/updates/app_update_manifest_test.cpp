#include "updates/app_update_manifest.h"

#include "server/json_decoding_error.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace tavrolin {
namespace {

AppUpdateManifest decode(const std::string& json) {
    return AppUpdateManifest::fromJson(QByteArray::fromStdString(json));
}

TEST(AppUpdateManifestDecoding, FullManifestFillsEveryField) {
    const auto manifest = decode(R"({"version":"1.4.0","build":"57","minimumSupportedBuild":"40",
        "downloadUrl":"https://example.test/Tavrolin-1.4.0.tar.gz",
        "releaseNotesUrl":"https://example.test/notes/1.4.0","critical":true,"channel":"stable"})");
    EXPECT_EQ(manifest.version, "1.4.0");
    EXPECT_EQ(manifest.build, "57");
    EXPECT_EQ(manifest.minimumSupportedBuild, std::optional<QString>("40"));
    EXPECT_EQ(manifest.downloadURL, QUrl("https://example.test/Tavrolin-1.4.0.tar.gz"));
    EXPECT_EQ(manifest.releaseNotesURL, std::optional<QUrl>(QUrl("https://example.test/notes/1.4.0")));
    EXPECT_TRUE(manifest.critical);
}

TEST(AppUpdateManifestDecoding, OptionalKeysAbsentOrNullGiveAbsentFieldsAndNotCritical) {
    for (const std::string json : {
             R"({"version":"1.4.0","build":"57","downloadUrl":"https://example.test/d"})",
             R"({"version":"1.4.0","build":"57","downloadUrl":"https://example.test/d",
                 "minimumSupportedBuild":null,"releaseNotesUrl":null,"critical":null})",
         }) {
        SCOPED_TRACE(json);
        const auto manifest = decode(json);
        EXPECT_EQ(manifest.minimumSupportedBuild, std::nullopt);
        EXPECT_EQ(manifest.releaseNotesURL, std::nullopt);
        EXPECT_FALSE(manifest.critical);
    }
}

TEST(AppUpdateManifestDecoding, EqualityCoversEveryField) {
    const std::string base = R"({"version":"1","build":"2","downloadUrl":"https://example.test/d")";
    const auto plain = decode(base + "}");
    EXPECT_EQ(plain, decode(base + "}"));
    EXPECT_NE(plain, decode(base + R"(,"critical":true})"));
    EXPECT_NE(plain, decode(base + R"(,"minimumSupportedBuild":"1"})"));
    EXPECT_NE(plain, decode(base + R"(,"releaseNotesUrl":"https://example.test/n"})"));
}

struct RejectedManifest {
    const char* name;
    std::string json;
    JsonDecodingError::Kind kind;
    QString key;
};

class AppUpdateManifestRejection : public ::testing::TestWithParam<RejectedManifest> {};

TEST_P(AppUpdateManifestRejection, FailsTheWholeManifest) {
    const auto& c = GetParam();
    try {
        decode(c.json);
        FAIL() << "decoded although it should not";
    } catch (const JsonDecodingError& error) {
        EXPECT_EQ(error.kind(), c.kind) << error.what();
        EXPECT_EQ(error.key(), c.key) << error.what();
    }
}

using K = JsonDecodingError::Kind;
const std::string kDl = R"("downloadUrl":"https://example.test/d")";

INSTANTIATE_TEST_SUITE_P(
    Cases, AppUpdateManifestRejection,
    ::testing::Values(
        RejectedManifest{"BuildAsNumber", R"({"version":"1.4.0","build":57,)" + kDl + "}", K::typeMismatch, "build"},
        RejectedManifest{"VersionAsNumber", R"({"version":1.4,"build":"57",)" + kDl + "}", K::typeMismatch, "version"},
        RejectedManifest{"MissingBuild", R"({"version":"1.4.0",)" + kDl + "}", K::keyNotFound, "build"},
        RejectedManifest{"NullVersion", R"({"version":null,"build":"57",)" + kDl + "}", K::valueNotFound, "version"},
        RejectedManifest{"MissingDownload", R"({"version":"1","build":"2"})", K::keyNotFound, "downloadUrl"},
        RejectedManifest{"KeysAreCaseSensitive",
                         R"({"version":"1","build":"2","downloadURL":"https://example.test/d"})", K::keyNotFound,
                         "downloadUrl"},
        RejectedManifest{"DownloadNotAUrl", R"({"version":"1","build":"2","downloadUrl":"https://exa mple.test/d"})",
                         K::dataCorrupted, "downloadUrl"},
        RejectedManifest{"DownloadEmpty", R"({"version":"1","build":"2","downloadUrl":""})", K::dataCorrupted,
                         "downloadUrl"},
        RejectedManifest{"OptionalNotesUrlRejected",
                         R"({"version":"1","build":"2",)" + kDl + R"(,"releaseNotesUrl":"http://[::1"})",
                         K::dataCorrupted, "releaseNotesUrl"},
        RejectedManifest{"OptionalNotesUrlWrongType",
                         R"({"version":"1","build":"2",)" + kDl + R"(,"releaseNotesUrl":7})", K::typeMismatch,
                         "releaseNotesUrl"},
        RejectedManifest{"MinimumBuildAsNumber",
                         R"({"version":"1","build":"2",)" + kDl + R"(,"minimumSupportedBuild":40})", K::typeMismatch,
                         "minimumSupportedBuild"},
        RejectedManifest{"CriticalAsString", R"({"version":"1","build":"2",)" + kDl + R"(,"critical":"true"})",
                         K::typeMismatch, "critical"},
        RejectedManifest{"CriticalAsNumber", R"({"version":"1","build":"2",)" + kDl + R"(,"critical":1})",
                         K::typeMismatch, "critical"},
        RejectedManifest{"TopLevelArray", R"([{"version":"1","build":"2"}])", K::typeMismatch, ""},
        RejectedManifest{"EmptyBody", "", K::dataCorrupted, ""},
        RejectedManifest{"NotJson", "<html>oops</html>", K::dataCorrupted, ""},
        RejectedManifest{"TruncatedJson", R"({"version":"1","build")", K::dataCorrupted, ""},
        RejectedManifest{"InvalidUtf8", "{\"version\":\"1\xff\",\"build\":\"2\"," + kDl + "}", K::dataCorrupted, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavrolin
