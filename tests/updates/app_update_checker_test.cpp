#include "updates/app_update_checker.h"

#include "support/async.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

class ScriptedManifestClient final : public AppUpdateManifestClient {
public:
    explicit ScriptedManifestClient(AppUpdateManifest manifest) : manifest_(std::move(manifest)) {}
    QCoro::Task<AppUpdateManifest> latestManifest() override {
        ++calls;
        if (failure) {
            throw std::runtime_error("offline");
        }
        co_return manifest_;
    }
    int calls = 0;
    bool failure = false;

private:
    AppUpdateManifest manifest_;
};

AppUpdateManifest manifest(const QString& version, const QString& build) {
    AppUpdateManifest m;
    m.version = version;
    m.build = build;
    m.downloadURL = QUrl("https://example.test/download");
    return m;
}

std::optional<AppUpdate> check(const AppUpdateManifest& m, std::optional<QString> build, const QString& version) {
    AppUpdateChecker checker(std::make_shared<ScriptedManifestClient>(m), std::move(build), version);
    return test::await(checker.availableUpdate());
}

TEST(AppUpdateChecker, BuildDecidesWhenInstalledBuildIsKnown) {
    // A higher build with a lower version is offered; the same build with a higher version is not.
    EXPECT_TRUE(check(manifest("1.0.0", "58"), QString("57"), "1.4.0").has_value());
    EXPECT_FALSE(check(manifest("9.0.0", "57"), QString("57"), "1.4.0").has_value());
    EXPECT_FALSE(check(manifest("9.0.0", "56"), QString("57"), "1.4.0").has_value());
}

TEST(AppUpdateChecker, VersionDecidesWithoutInstalledBuild) {
    for (const std::optional<QString>& build : {std::optional<QString>{}, std::optional<QString>(QString())}) {
        EXPECT_TRUE(check(manifest("1.4.1", "1"), build, "1.4.0").has_value());
        EXPECT_FALSE(check(manifest("1.4", "999"), build, "1.4.0").has_value());
    }
}

TEST(AppUpdateChecker, OfferedUpdateCarriesEveryManifestField) {
    auto m = manifest("2.0", "100");
    m.minimumSupportedBuild = "90";
    m.releaseNotesURL = QUrl("https://example.test/notes");
    m.critical = true;
    const auto update = check(m, QString("57"), "1.0");
    ASSERT_TRUE(update);
    EXPECT_EQ(*update, (AppUpdate{"2.0", "100", QString("90"), QUrl("https://example.test/download"),
                                  QUrl("https://example.test/notes"), true}));
}

TEST(AppUpdateChecker, ClientErrorsPassThroughUnchanged) {
    auto client = std::make_shared<ScriptedManifestClient>(manifest("2", "2"));
    client->failure = true;
    AppUpdateChecker checker(client, QString("1"), "1");
    EXPECT_THROW(test::await(checker.availableUpdate()), std::runtime_error);
    EXPECT_EQ(client->calls, 1);
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

TEST(AppUpdateRequirement, CriticalOrBelowTheMinimumBuild) {
    struct Case {
        bool critical;
        std::optional<QString> minimum;
        std::optional<QString> installed;
        bool required;
    };
    const Case cases[] = {
        {true, std::nullopt, QString("57"), true},
        {false, std::nullopt, QString("57"), false},  // without a minimum only "critical" decides
        {false, QString("58"), QString("57"), true},
        {false, QString("57"), QString("57"), false},
        {false, QString("56"), QString("57"), false},
        {false, QString("1"), std::nullopt, true},  // an unknown installed build counts as "0"
        {false, QString("1"), QString(""), true},
        {false, QString("0"), std::nullopt, false},
        {false, QString("2.0-beta"), QString("2.0"), false},
    };
    for (const auto& c : cases) {
        AppUpdate update{"2.0", "60", c.minimum, QUrl("https://example.test/d"), std::nullopt, c.critical};
        EXPECT_EQ(update.isRequired(c.installed), c.required)
            << c.minimum.value_or("<none>").toStdString() << " vs " << c.installed.value_or("<none>").toStdString();
    }
}

}  // namespace
}  // namespace tavrolin
