#include "server/server_endpoint_configuration.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

template <typename Configuration>
std::optional<QUrl> endpoint(const QJsonObject& info, const Environment& environment) {
    return Configuration::resolved(InfoDictionary(info), environment).endpointURL;
}

template <typename Configuration>
void expectResolution(const QString& variable, const QString& key, const QString& path) {
    SCOPED_TRACE(variable.toStdString());
    const QUrl defaultURL(AppMetadata::defaultServerBaseURL() + path);
    const QUrl fromEnvironment(QStringLiteral("http://127.0.0.1:9000/env"));
    const QUrl fromInfo(QStringLiteral("https://info.example.test/v2"));

    // nothing configured: the built-in host with the operation's path
    EXPECT_EQ(endpoint<Configuration>({}, {}), defaultURL);
    EXPECT_EQ(endpoint<Configuration>({}, {}).value().host(), QStringLiteral("api.tavrolin.invalid"));
    // variable only, with surrounding blanks and a trailing line break
    EXPECT_EQ(endpoint<Configuration>({}, {{variable, QStringLiteral("  http://127.0.0.1:9000/env\n")}}),
              fromEnvironment);
    // variable wins over the key
    EXPECT_EQ(endpoint<Configuration>({{key, fromInfo.toString()}}, {{variable, fromEnvironment.toString()}}),
              fromEnvironment);
    // blank variable falls through to the key, then to the default
    EXPECT_EQ(endpoint<Configuration>({{key, QStringLiteral(" https://info.example.test/v2 ")}},
                                      {{variable, QStringLiteral(" \t\r\n")}}),
              fromInfo);
    EXPECT_EQ(endpoint<Configuration>({}, {{variable, QString()}}), defaultURL);
    // a key of another type is ignored
    for (const QJsonValue& wrong :
         {QJsonValue(42), QJsonValue(true), QJsonValue(QJsonArray{fromInfo.toString()}), QJsonValue(QJsonObject{})}) {
        EXPECT_EQ(endpoint<Configuration>({{key, wrong}}, {}), defaultURL);
    }
    // a non-empty value that is not a URL gives no endpoint: no fall-back
    EXPECT_EQ(endpoint<Configuration>({{key, fromInfo.toString()}}, {{variable, QStringLiteral("http://exa mple")}}),
              std::nullopt);
    EXPECT_EQ(endpoint<Configuration>({{key, QStringLiteral("http://[::1")}}, {}), std::nullopt);
    // the configured value replaces the whole URL; nothing is appended
    EXPECT_EQ(endpoint<Configuration>({}, {{variable, QStringLiteral("https://other.test")}}),
              QUrl(QStringLiteral("https://other.test")));
    // another operation's variable is not consulted
    EXPECT_EQ(
        endpoint<Configuration>({}, {{QStringLiteral("TAVROLIN_UNRELATED_ENDPOINT"), fromEnvironment.toString()}}),
        defaultURL);
}

TEST(ServerEndpointConfigurationTest, EveryRecordResolvesFromItsOwnSources) {
    expectResolution<ServerTranslationConfiguration>(QStringLiteral("TAVROLIN_TEXT_TRANSLATION_ENDPOINT"),
                                                     QStringLiteral("TavrolinTextTranslationEndpoint"),
                                                     QStringLiteral("/api/text-translations"));
    expectResolution<TextEditingConfiguration>(QStringLiteral("TAVROLIN_TEXT_EDITING_ENDPOINT"),
                                               QStringLiteral("TavrolinTextEditingEndpoint"),
                                               QStringLiteral("/api/text-edits"));
    expectResolution<TextImproveConfiguration>(QStringLiteral("TAVROLIN_TEXT_IMPROVE_ENDPOINT"),
                                               QStringLiteral("TavrolinTextImproveEndpoint"),
                                               QStringLiteral("/api/text-improve"));
    expectResolution<TextPromptConfiguration>(QStringLiteral("TAVROLIN_TEXT_PROMPT_ENDPOINT"),
                                              QStringLiteral("TavrolinTextPromptEndpoint"),
                                              QStringLiteral("/api/text-prompt"));
    expectResolution<TextWritingConfiguration>(QStringLiteral("TAVROLIN_TEXT_WRITING_ENDPOINT"),
                                               QStringLiteral("TavrolinTextWritingEndpoint"),
                                               QStringLiteral("/api/text-writes"));
    expectResolution<TelemetryConfiguration>(QStringLiteral("TAVROLIN_TELEMETRY_ENDPOINT"),
                                             QStringLiteral("TavrolinTelemetryEndpoint"),
                                             QStringLiteral("/api/events"));
}

TEST(ServerEndpointConfigurationTest, ProcessEnvironmentIsReadAsADictionary) {
    qputenv("TAVROLIN_TEXT_EDITING_ENDPOINT", "http://127.0.0.1:1/edits");
    EXPECT_EQ(TextEditingConfiguration::resolved().endpointURL, QUrl(QStringLiteral("http://127.0.0.1:1/edits")));
    qunsetenv("TAVROLIN_TEXT_EDITING_ENDPOINT");
    EXPECT_FALSE(currentEnvironment().contains(QStringLiteral("TAVROLIN_TEXT_EDITING_ENDPOINT")));
}

}  // namespace
}  // namespace tavrolin
