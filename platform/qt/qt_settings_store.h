#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/settings_store.h"

class QSettings;
class QtStoreWatch;

/// The settings store on Linux: one INI file per application,
/// $XDG_CONFIG_HOME/<app>/<app>.conf (default ~/.config/<app>/<app>.conf), sections as groups.
/// Every process of the user reaches the same file; it needs no other folder (no runtime or
/// temporary folder).
///
/// Only a store that is safe to use is touched: the configuration folder and the application's
/// folder must belong to the user the program runs as, and the file must be a regular file of
/// at most kMaxFileSize bytes, or a link to a regular file of that user (as dotfile managers
/// make). A link to anything else, a FIFO, a device or a larger file is refused with a reason
/// (lastError()) instead of being written through, blocking or filling memory.
///
/// Reading: the file is opened without waiting and its bytes are handed to QSettings through a
/// private in-memory copy, so what is parsed is exactly what was checked. read() costs a few
/// stat() calls while the file is unchanged; any difference in inode, size or nanosecond
/// modification time makes it parse afresh, so another process's write is never missed. One
/// parsed copy per application is kept for reading (QSettings keeps one more of the file it last
/// wrote); both are bounded by the size limit.
///
/// Writing: save, removeSection and update hold an exclusive lock on the application's folder
/// (flock, released by the kernel however the process ends), and QSettings merges the change
/// into the file and replaces it by a rename, so a crash never leaves half a file.
///
/// Values that are not plain text (a list from an unquoted comma, @ByteArray, @Variant) read
/// as text when there is a faithful one: a list as its items joined by ",", bytes that are
/// valid UTF-8 as those bytes, a stored number or truth value as its decimal or word form.
/// Anything else (a point, a colour, @Invalid) reads as Failed. When such a value is saved back
/// with the very text it was read as, the original value is written, so the file keeps it as it
/// was.
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
    StoreStatus update(std::string_view app, std::string_view section, std::string_view key,
                       const Change& change) override;
    std::string lastError() const override { return m_lastError; }
    /// Needs the Qt event loop; |sink| is told on the thread that called this.
    bool watch(FormEventSink* sink) override;

    /// The file that holds |app|'s settings.
    static QString filePath(std::string_view app);

    /// What stat() said about a file.
    struct FileIdentity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t mtimeSeconds = 0;
        std::int64_t mtimeNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };

private:
    /// One application's places and its parsed file, kept while the file stays the same.
    struct AppFile {
        QByteArray configHome;
        QByteArray folder;
        QByteArray file;
        FileIdentity identity;
        std::unique_ptr<QSettings> settings;
        int copyFd = -1;  ///< the in-memory file QSettings parses
        bool valid = false;
    };

    /// A value read as text that was not stored as text: what to write back instead.
    struct ConvertedValue {
        std::string text;
        QVariant original;
    };

    class FolderLock;
    enum class Found { Missing, File, Refused };

    AppFile& entryFor(std::string_view app);
    Found inspect(const AppFile& entry, FileIdentity& identity);
    static bool sameFile(const AppFile& entry);
    bool parse(AppFile& entry);
    StoreStatus lockFolder(AppFile& entry, bool create, FolderLock& lock);
    StoreStatus writeLocked(AppFile& entry, const std::function<StoreStatus(QSettings&)>& edit);
    StoreStatus saveLocked(AppFile& entry, std::string_view app, std::string_view section, std::string_view key,
                           std::string_view value);
    std::string whyNotWritten(const AppFile& entry) const;
    StoredText failRead(std::string error);
    StoreStatus fail(std::string error);

    std::map<std::string, AppFile, std::less<>> m_files;
    std::map<std::string, ConvertedValue, std::less<>> m_converted;
    std::string m_lastError;
    std::unique_ptr<QtStoreWatch> m_watch;
};
