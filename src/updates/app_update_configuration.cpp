#include "updates/app_update_configuration.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace tavrolin {

namespace {

std::optional<QString> environmentValue(const Environment& environment, const QString& key) {
    if (!environment.contains(key)) {
        return std::nullopt;
    }
    return environment.value(key);
}

std::optional<QString> infoString(const InfoDictionary& info, const QString& key) {
    const QJsonValue value = info.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

// strtod in the "C" locale, whatever LC_NUMERIC the process runs with.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::optional<QString> AppUpdateConfiguration::trimmed(const std::optional<QString>& value) {
    if (!value) {
        return std::nullopt;
    }
    QString text = value->trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return text;
}

std::optional<double> AppUpdateConfiguration::number(const std::optional<QString>& value) {
    const auto text = trimmed(value);
    if (!text) {
        return std::nullopt;
    }
    const std::string bytes = text->toStdString();
    const char* begin = bytes.c_str();
    char* end = nullptr;
    const double parsed = strtod_l(begin, &end, cLocale());
    // The whole text must be the number (an embedded NUL also stops the parse short).
    if (end == begin || static_cast<std::size_t>(end - begin) != bytes.size()) {
        return std::nullopt;
    }
    return parsed;
}

AppUpdateConfiguration AppUpdateConfiguration::resolved(const InfoDictionary& info, const Environment& environment) {
    AppUpdateConfiguration configuration;
    // The same rule as every server endpoint: the first non-blank source decides, even when
    // its text is not a URL.
    configuration.endpointURL = resolveEndpoint(source, info, environment);

    auto hours = number(environmentValue(environment, intervalEnvironmentKey));
    if (!hours) {
        hours = number(infoString(info, intervalInfoKey));
    }
    if (hours) {
        // NaN counts as missing in the maximum, so it lands on the one-hour floor too.
        const double atLeastOneHour = (std::isnan(*hours) || *hours < 1.0) ? 1.0 : *hours;
        const double seconds = atLeastOneHour * 60.0 * 60.0;
        configuration.checkInterval =
            std::isfinite(seconds) && seconds < maximumCheckInterval ? seconds : maximumCheckInterval;
    }
    return configuration;
}

}  // namespace tavrolin
