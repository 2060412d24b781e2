#pragma once

#include "core/defaults_store.h"

namespace tavrolin {

// The application's one defaults store: the JSON file at JsonFileDefaultsStore::defaultFilePath(),
// opened on first use. Everything that persists state goes through this instance; a second
// store object on the same file would overwrite the other's changes with its own copy.
DefaultsStore& standardDefaults();

}  // namespace tavrolin
