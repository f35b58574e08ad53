#pragma once

#include <string>
#include <string_view>

#include "platform/settings_store.h"

/// Settings as REG_SZ values under HKEY_CURRENT_USER\Software\<app>\<section>. Every call
/// opens and closes the key: a key kept open would miss the section being deleted and made
/// again by another process. Text is UTF-8 on this side and UTF-16 in the registry.
class Win32RegistryStore final : public SettingsStore {
public:
    /// REG_SZ and REG_EXPAND_SZ read as their text (unexpanded, up to the first NUL, also when
    /// the data has no terminating NUL); any other type reads as Failed.
    StoredText read(std::string_view app, std::string_view section, std::string_view key) override;
    StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                     std::string_view value) override;
    /// Deletes the section's key with every value and subkey under it; the application's key
    /// and its other values stay.
    StoreStatus removeSection(std::string_view app, std::string_view section) override;
    /// Holds a named mutex of the session ("Local\<app>.<section>.Update") from the read to the
    /// write, so two updates of any processes never interleave.
    StoreStatus update(std::string_view app, std::string_view section, std::string_view key,
                       const Change& change) override;
    std::string lastError() const override { return m_lastError; }

    /// "Software\<app>\<section>", or empty when a name is empty or holds a backslash: such a
    /// name would address a different key (deleting "Software\Pavro\" would take the whole
    /// application's key with it).
    static std::wstring sectionPath(std::string_view app, std::string_view section);

private:
    StoreStatus fail(std::string reason);
    std::string m_lastError;
};
