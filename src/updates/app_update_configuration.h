#pragma once

#include "core/app_metadata.h"
#include "server/server_endpoint_configuration.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace tavrolin {

// Where the release manifest comes from and how often automatic checks run. Resolved once at
// start-up from the environment, then the compiled-in Info dictionary, then the built-in
// default; fixed for the life of the process.
struct AppUpdateConfiguration {
    static constexpr EndpointSource source{"TAVROLIN_UPDATE_CHECK_ENDPOINT", "TavrolinUpdateCheckEndpoint",
                                           "/api/releases/linux/latest"};
    static inline const QString intervalEnvironmentKey = QStringLiteral("TAVROLIN_UPDATE_CHECK_INTERVAL_HOURS");
    static inline const QString intervalInfoKey = QStringLiteral("TavrolinUpdateCheckIntervalHours");

    static constexpr double defaultCheckInterval = 24.0 * 60 * 60;
    static constexpr double minimumCheckInterval = 60.0 * 60;
    // Longer intervals (up to "inf" hours) are held to a hundred years: to a person that is
    // "never", and every date sum and timer delay made from it stays representable.
    static constexpr double maximumCheckInterval = 100.0 * 365 * 24 * 60 * 60;

    // Absent when the chosen text is not a URL; no later source is consulted then.
    std::optional<QUrl> endpointURL;
    // Seconds between automatic checks, within [minimumCheckInterval, maximumCheckInterval].
    double checkInterval = defaultCheckInterval;

    bool operator==(const AppUpdateConfiguration&) const = default;

    // Only string entries of the Info dictionary count; never fails.
    static AppUpdateConfiguration resolved(const InfoDictionary& bundle, const Environment& environment);
    // The main Info dictionary and the process environment.
    static AppUpdateConfiguration resolved() { return resolved(InfoDictionary::main(), currentEnvironment()); }

    // A value trimmed of white space and line breaks; absent when missing or blank.
    static std::optional<QString> trimmed(const std::optional<QString>& value);
    // A trimmed text read whole as a floating-point number with strtod's syntax in the "C"
    // locale (decimal, hexadecimal, inf, nan); absent for any other text.
    static std::optional<double> number(const std::optional<QString>& value);
};

}  // namespace tavrolin
