#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

class Win32RegistryWatch;

/// Settings as REG_SZ values under HKEY_CURRENT_USER\Software\<app>\<section>. Every call
/// opens and closes the key: a key kept open would miss the section being deleted and made
/// again by another process. Text is UTF-8 on this side and UTF-16 in the registry.
class Win32RegistryStore final : public SettingsStore {
public:
    /// |watchedApp|: the application whose key watch() follows; empty for a store that is
    /// never watched.
    explicit Win32RegistryStore(std::string watchedApp = {});
    ~Win32RegistryStore() override;
    Win32RegistryStore(const Win32RegistryStore&) = delete;
    Win32RegistryStore& operator=(const Win32RegistryStore&) = delete;

    /// REG_SZ and REG_EXPAND_SZ read as their text (unexpanded, up to the first NUL, also when
    /// the data has no terminating NUL); any other type reads as Failed.
    StoredText read(std::string_view app, std::string_view section, std::string_view key) override;
    StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                     std::string_view value) override;
    /// Deletes the section's key with every value and subkey under it; the application's key
    /// and its other values stay.
    StoreStatus removeSection(std::string_view app, std::string_view section) override;
    std::string lastError() const override { return m_lastError; }
    /// Watches HKEY_CURRENT_USER\Software\<watchedApp> with all its sections, also while it is
    /// missing, on a thread that sleeps until the registry tells of a change (Win32RegistryWatch).
    /// Call on the UI thread, which must run a message loop: the sink is told there.
    bool watch(ProgramEventSink* sink) override;

    /// "Software\<app>\<section>", or empty when a name is empty or holds a backslash: such a
    /// name would address a different key (deleting "Software\Pavro\" would take the whole
    /// application's key with it).
    static std::wstring sectionPath(std::string_view app, std::string_view section);

protected:
    /// Holds a named mutex of the session ("Local\<app>.<section>.Update") from the read to the
    /// write, so two updates of any processes never interleave.
    StoreStatus whileLocked(std::string_view app, std::string_view section, std::string_view key,
                            const std::function<StoreStatus()>& locked) override;

private:
    StoreStatus fail(std::string reason);
    std::string m_lastError;
    std::string m_watchedApp;
    std::unique_ptr<Win32RegistryWatch> m_watch;
};
