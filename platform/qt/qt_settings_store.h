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
class QTemporaryDir;

/// The settings store on Linux: one INI file per application,
/// $XDG_CONFIG_HOME/<app>/<app>.conf (default ~/.config/<app>/<app>.conf), sections as groups.
/// Every process of the user reaches the same file; writes go through QSettings, which takes
/// the file's lock and replaces the file by a rename, so a crash never leaves half a file.
///
/// read() costs one stat() while the file is unchanged; any difference in inode, size or
/// nanosecond modification time makes it parse the file afresh, so another process's write
/// is never missed.
///
/// Values that are not plain text (a list from an unquoted comma, @ByteArray, @Variant) read
/// as text when there is a faithful one: a list as its items joined by ",", bytes that are
/// valid UTF-8 as those bytes, a stored number or truth value as its decimal or word form.
/// Anything else (a point, a colour, @Invalid) reads as Failed. When such a value is saved back
/// with the very text it was read as, the original value is written, so the file keeps it as it
/// was.
class QtSettingsStore final : public SettingsStore {
public:
    QtSettingsStore();
    ~QtSettingsStore() override;
    QtSettingsStore(const QtSettingsStore&) = delete;
    QtSettingsStore& operator=(const QtSettingsStore&) = delete;

    StoredText read(std::string_view app, std::string_view section, std::string_view key) override;
    StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                     std::string_view value) override;
    StoreStatus removeSection(std::string_view app, std::string_view section) override;

    /// The file that holds |app|'s settings.
    static QString filePath(std::string_view app);

private:
    /// What stat() said about the file when it was last parsed.
    struct FileIdentity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t mtimeSeconds = 0;
        std::int64_t mtimeNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };

    /// One application's parsed file, kept while the file stays the same.
    struct Snapshot {
        FileIdentity identity;
        std::unique_ptr<QSettings> settings;
        QString aliasPath;
        QByteArray encodedPath;  ///< the real file, as stat() takes it
        bool valid = false;
    };

    /// A value read as text that was not stored as text: what to write back instead.
    struct ConvertedValue {
        std::string text;
        QVariant original;
    };

    static FileIdentity identify(const QByteArray& encodedPath);
    std::unique_ptr<QSettings> openFresh(std::string_view app, QString& aliasPath);
    void dropAlias(QString& aliasPath);
    void forget(std::string_view app);

    std::unique_ptr<QTemporaryDir> m_aliasRoot;
    std::uint64_t m_aliasCounter = 0;
    std::map<std::string, Snapshot, std::less<>> m_snapshots;
    std::map<std::string, ConvertedValue, std::less<>> m_converted;
};
