#pragma once

#include <sys/stat.h>

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/settings_store.h"
#include "platform/test_peer.h"

class QtStoreWatch;
class SettingsFileText;

/// The settings store on Linux: one INI file per application,
/// $XDG_CONFIG_HOME/<app>/<app>.conf (default ~/.config/<app>/<app>.conf), sections as groups,
/// in the format SettingsFileText reads and edits. Every process of the user reaches the same
/// file; it needs no other folder (no runtime or temporary folder).
///
/// Only a store that is safe to use is touched: the configuration folder and the application's
/// folder must belong to the user the program runs as, and the file must be a regular file of
/// at most kMaxFileSize bytes, or a link to a regular file of that user (as dotfile managers
/// make). A link to anything else, a FIFO, a device or a larger file is refused with a reason
/// (lastError()) instead of being written through, blocking or filling memory.
///
/// Reading: the file is read without waiting and parsed once; read() then costs one or two
/// stat() calls while the file keeps its inode, size and nanosecond modification time. Any
/// difference makes it read afresh, so another process's write is never missed.
///
/// Writing: save, removeSection and update hold an exclusive lock on the application's folder
/// (flock, released by the kernel however the process ends), read the file afresh, and replace
/// it by a new file in the same folder, flushed to disk and renamed over it (over a link's
/// target, so the link stays), so a crash never leaves half a file. Other keys and groups keep
/// their values in the form they were written in.
///
/// Watching: watch() follows the file of every application this store has read or written, and
/// of each one it uses later from before its first read, through inotify on the event loop
/// (QtStoreWatch). Its own writes are told as well.
class QtSettingsStore final : public SettingsStore {
public:
    /// A settings file is well under a kilobyte; anything past this is not one.
    static constexpr off_t kMaxFileSize = 1 << 20;

    QtSettingsStore();
    ~QtSettingsStore() override;
    QtSettingsStore(const QtSettingsStore&) = delete;
    QtSettingsStore& operator=(const QtSettingsStore&) = delete;

    StoredText read(std::string_view app, std::string_view section, std::string_view key) override;
    StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                     std::string_view value) override;
    StoreStatus removeSection(std::string_view app, std::string_view section) override;
    std::string lastError() const override { return m_lastError; }
    /// Needs the Qt event loop; |sink| is told on the thread that called this.
    bool watch(ProgramEventSink* sink) override;

protected:
    StoreStatus whileLocked(std::string_view app, std::string_view section, std::string_view key,
                            const std::function<StoreStatus()>& locked) override;

private:
    friend struct TestPeer<QtSettingsStore>;
    /// The file that holds |app|'s settings.
    static QString filePath(std::string_view app);

    /// One application's places and its parsed file, kept while the file stays the same.
    struct AppFile {
        std::string configHome;
        std::string folder;
        std::string file;
        struct stat seen {};
        std::unique_ptr<SettingsFileText> text;
    };
    /// The new content of the file, or nothing when there was nothing to change.
    using Edit = std::function<std::optional<std::string>(const SettingsFileText& current)>;

    AppFile& entryFor(std::string_view app);
    StoreStatus checkFolders(const AppFile& entry);
    StoreStatus load(const AppFile& entry, std::string& bytes, struct stat& seen);
    StoreStatus lockFolder(const AppFile& entry, bool create, int& fd);
    StoreStatus edit(std::string_view app, bool create, const Edit& change);
    StoreStatus replace(const AppFile& entry, const std::string& content);
    StoreStatus fail(std::string error);

    std::map<std::string, AppFile, std::less<>> m_files;
    std::string m_lastError;
    bool m_locked = false;  ///< update() holds the folder lock
    std::unique_ptr<QtStoreWatch> m_watch;
};
