#include "updates/app_update_configuration.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace tavrolin {
namespace {

using Config = AppUpdateConfiguration;

Environment env(std::initializer_list<std::pair<QString, QString>> values) {
    Environment e;
    for (const auto& [key, value] : values) {
        e.insert(key, value);
    }
    return e;
}

const QString kEndpointVariable = QString::fromLatin1(Config::source.environmentVariable);
const QString kEndpointInfoKey = QString::fromLatin1(Config::source.infoKey);
const QString kDefaultEndpoint = AppMetadata::defaultServerBaseURL() + "/api/releases/linux/latest";

InfoDictionary infoWith(const QString& key, const QJsonValue& value) {
    return InfoDictionary(QJsonObject{{key, value}});
}

TEST(AppUpdateConfiguration, DefaultsWithoutEnvironmentOrInfo) {
    const auto config = Config::resolved({}, {});
    ASSERT_TRUE(config.endpointURL);
    EXPECT_TRUE(kDefaultEndpoint.endsWith("/api/releases/linux/latest"));
    EXPECT_EQ(config.endpointURL->toString(), kDefaultEndpoint);
    EXPECT_EQ(config.checkInterval, 86400.0);
}

TEST(AppUpdateConfiguration, EndpointSourcesInOrder) {
    const InfoDictionary info = infoWith(kEndpointInfoKey, " https://info.example.test/m \n");
    struct Case {
        const char* name;
        Environment environment;
        InfoDictionary info;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"environment wins", env({{kEndpointVariable, "\thttp://127.0.0.1:9/x "}}), info,
         QString("http://127.0.0.1:9/x")},
        {"blank environment falls to info", env({{kEndpointVariable, "   "}}), info,
         QString("https://info.example.test/m")},
        {"blank environment, no info: default", env({{kEndpointVariable, " \n"}}), {}, kDefaultEndpoint},
        {"info number is not a string: default", {}, infoWith(kEndpointInfoKey, 42), kDefaultEndpoint},
        {"blank info: default", {}, infoWith(kEndpointInfoKey, "  "), kDefaultEndpoint},
        {"unparsable environment decides alone", env({{kEndpointVariable, "http://exa mple.test"}}), info,
         std::nullopt},
        {"unparsable info decides alone", {}, infoWith(kEndpointInfoKey, "https://[bad"), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto config = Config::resolved(c.info, c.environment);
        if (c.expected) {
            ASSERT_TRUE(config.endpointURL);
            EXPECT_EQ(config.endpointURL->toString(), *c.expected);
        } else {
            EXPECT_FALSE(config.endpointURL);
        }
    }
}

TEST(AppUpdateConfiguration, IntervalHoursParsing) {
    struct Case {
        std::optional<QString> environment;
        std::optional<QJsonValue> info;
        double expected;
    };
    const Case cases[] = {
        {" 6 ", {}, 21600},
        {"1.5", {}, 5400},
        {"0.25", {}, 3600},
        {"0", {}, 3600},
        {"-3", {}, 3600},
        {"nan", {}, 3600},
        {"0x10", {}, 16 * 3600},  // hexadecimal, as strtod reads it
        {"0x1p-1", {}, 3600},     // hexadecimal half an hour: the floor
        {"2e1", {}, 20 * 3600},
        {"+12", {}, 12 * 3600},
        {"hours", {}, 86400},               // letters: no info either, so the default
        {"6h", QJsonValue("3"), 3 * 3600},  // partly numeric is not a number: info next
        {"", QJsonValue(" 2 "), 2 * 3600},
        {{}, QJsonValue(5), 86400},  // a number entry in the Info dictionary is ignored
        {"1,5", {}, 86400},          // the C locale's decimal point only
        {"inf", {}, Config::maximumCheckInterval},
        {"1e308", {}, Config::maximumCheckInterval},  // overflows when turned into seconds
        {"1e400", {}, Config::maximumCheckInterval},  // out of range for strtod: HUGE_VAL
    };
    for (const auto& c : cases) {
        Environment e;
        if (c.environment) {
            e.insert(Config::intervalEnvironmentKey, *c.environment);
        }
        const InfoDictionary info = c.info ? infoWith(Config::intervalInfoKey, *c.info) : InfoDictionary();
        const auto config = Config::resolved(info, e);
        EXPECT_EQ(config.checkInterval, c.expected) << c.environment.value_or("<unset>").toStdString();
        EXPECT_TRUE(std::isfinite(config.checkInterval));
    }
}

TEST(AppUpdateConfiguration, IntervalIgnoresTheProcessNumericLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    // A locale with a decimal comma, when the machine has one; the parse must not change.
    const bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    const auto config = Config::resolved({}, env({{Config::intervalEnvironmentKey, "1.5"}}));
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(config.checkInterval, 5400) << (switched ? "with de_DE" : "C locale only");
}

}  // namespace
}  // namespace tavrolin
