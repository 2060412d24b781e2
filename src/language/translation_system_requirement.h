#pragma once

#include <functional>

namespace tavrolin {

// Whether this system can run the translation services at all; when it cannot, the focused-field
// translation services refuse with translationRequiresMacOS26 and the setup notices stay silent.
// This desktop has no such system requirement (the engine's own presence is checked by the
// translation client), so its check always passes. The services take the check as an argument
// so that the refusal stays reachable for the callers that must handle it.
using TranslationSystemCheck = std::function<bool()>;

// The check of this desktop.
inline bool isTranslationSystemSupported() {
    return true;
}

}  // namespace tavrolin
