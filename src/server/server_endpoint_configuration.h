#pragma once

// The endpoint of each server client, resolved once when the client is created: the
// environment variable, else the Info dictionary key, else the built-in default (the build's
// server base URL plus the operation's path). The first source with a non-empty trimmed value
// wins even when that value is not a URL: then the endpoint is absent and every request of the
// client fails, rather than silently going somewhere else.

#include "core/app_metadata.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <optional>

namespace tavrolin {

using Environment = QHash<QString, QString>;

// The process environment as a dictionary.
Environment currentEnvironment();

struct EndpointSource {
    const char* environmentVariable;
    const char* infoKey;
    const char* defaultPath;
};

// Resolves one endpoint from the three sources above.
std::optional<QUrl> resolveEndpoint(const EndpointSource& source, const InfoDictionary& bundle,
                                    const Environment& environment);

template <typename Self>
struct EndpointConfiguration {
    std::optional<QUrl> endpointURL;

    static Self resolved(const InfoDictionary& bundle, const Environment& environment) {
        Self result;
        result.endpointURL = resolveEndpoint(Self::source, bundle, environment);
        return result;
    }
    // The main Info dictionary and the process environment.
    static Self resolved() { return resolved(InfoDictionary::main(), currentEnvironment()); }

    bool operator==(const EndpointConfiguration&) const = default;
};

struct ServerTranslationConfiguration : EndpointConfiguration<ServerTranslationConfiguration> {
    static constexpr EndpointSource source{"TAVROLIN_TEXT_TRANSLATION_ENDPOINT", "TavrolinTextTranslationEndpoint",
                                           "/api/text-translations"};
};

struct TextEditingConfiguration : EndpointConfiguration<TextEditingConfiguration> {
    static constexpr EndpointSource source{"TAVROLIN_TEXT_EDITING_ENDPOINT", "TavrolinTextEditingEndpoint",
                                           "/api/text-edits"};
};

struct TextImproveConfiguration : EndpointConfiguration<TextImproveConfiguration> {
    static constexpr EndpointSource source{"TAVROLIN_TEXT_IMPROVE_ENDPOINT", "TavrolinTextImproveEndpoint",
                                           "/api/text-improve"};
};

struct TextPromptConfiguration : EndpointConfiguration<TextPromptConfiguration> {
    static constexpr EndpointSource source{"TAVROLIN_TEXT_PROMPT_ENDPOINT", "TavrolinTextPromptEndpoint",
                                           "/api/text-prompt"};
};

struct TextWritingConfiguration : EndpointConfiguration<TextWritingConfiguration> {
    static constexpr EndpointSource source{"TAVROLIN_TEXT_WRITING_ENDPOINT", "TavrolinTextWritingEndpoint",
                                           "/api/text-writes"};
};

struct TelemetryConfiguration : EndpointConfiguration<TelemetryConfiguration> {
    static constexpr EndpointSource source{"TAVROLIN_TELEMETRY_ENDPOINT", "TavrolinTelemetryEndpoint", "/api/events"};
};

}  // namespace tavrolin
