#include "core/standard_defaults.h"

namespace tavrolin {

DefaultsStore& standardDefaults() {
    static JsonFileDefaultsStore store(JsonFileDefaultsStore::defaultFilePath());
    return store;
}

}  // namespace tavrolin
