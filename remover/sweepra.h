#pragma once

#include <iosfwd>

#include "platform/settings_store.h"

/// The remover's start-up: deletes the section "Settings" of "Pavro" with every key in it,
/// and nothing else. Asks nothing and shows nothing; a missing section is no error. A store
/// that refuses is written to |errors| (when given). Returns what the store answered; the
/// program shows its window either way.
StoreStatus deleteStoredSettings(SettingsStore& store, std::ostream* errors);
