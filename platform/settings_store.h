#pragma once

#include <string>
#include <string_view>

enum class StoreStatus {
    Ok,       ///< the operation found (read) or did (save, remove) what it was asked
    Missing,  ///< read: no such key; remove: no such section, nothing was changed
    Failed,   ///< the store could not be read or written
};

struct StoredText {
    StoreStatus status = StoreStatus::Missing;
    /// The stored text when status is Ok (it may be empty); empty otherwise.
    std::string text;
};

/// The per-user application settings store, shared by every process of the user.
/// Values are text, addressed by application, section and key. Writes must be atomic:
/// a crash never leaves a half-written store behind.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    /// Reads one value. Must see another process's latest write, and stay cheap when
    /// nothing changed (it runs on every tick). A stored value that is not text reads as Failed.
    virtual StoredText read(std::string_view app, std::string_view section, std::string_view key) = 0;
    /// Creates what is missing and overwrites the value. Ok, or Failed with nothing changed.
    virtual StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                             std::string_view value) = 0;
    /// Removes the section with all its keys and nothing else: Ok, Missing when there was
    /// no such section, Failed when the store refused.
    virtual StoreStatus removeSection(std::string_view app, std::string_view section) = 0;
};
