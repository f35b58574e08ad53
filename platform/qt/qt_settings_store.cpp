#include "platform/qt/qt_settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include "platform/form_event_sink.h"
#include "platform/qt/qt_store_watch.h"

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString settingsKey(std::string_view section, std::string_view key)
{
    return toQString(section) + QLatin1Char('/') + toQString(key);
}

std::string convertedKey(std::string_view app, std::string_view section, std::string_view key)
{
    std::string joined;
    joined.reserve(app.size() + section.size() + key.size() + 2);
    joined.append(app).push_back('\n');
    joined.append(section).push_back('\n');
    joined.append(key);
    return joined;
}

/// |text| as UTF-8; nothing when it holds a lone surrogate (a malformed "\x" escape gives one),
/// which has no UTF-8 form and which QSettings drops when it writes the value back.
std::optional<std::string> utf8Text(const QString& text)
{
    if (!text.isValidUtf16())
        return std::nullopt;
    return text.toStdString();
}

/// The text a non-text stored value faithfully stands for, or nothing.
std::optional<std::string> faithfulText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return utf8Text(value.toString());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        // An unquoted "1,5" (a decimal comma typed by hand) arrives as a list; its items joined
        // with "," give back what was typed, apart from blanks QSettings trimmed around them.
        // When an item starts with '@' ("@5,5") the items are values of their own, and QSettings
        // writes such a list back with the '@' escaped, as a list of strings: both read as the
        // same text. An empty list has none: QSettings writes it back as @Invalid().
        const QVariantList items = value.toList();
        if (items.isEmpty())
            return std::nullopt;
        std::string joined;
        for (qsizetype i = 0; i < items.size(); ++i) {
            const std::optional<std::string> item = faithfulText(items[i]);
            if (!item)
                return std::nullopt;
            joined += (i == 0 ? "" : ",") + *item;
        }
        return joined;
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = decoder(bytes);
        if (decoder.hasError())
            return std::nullopt;
        return decoded.toStdString();
    }
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toString().toStdString();
    default:
        return std::nullopt;
    }
}

std::string describe(const QByteArray& path) { return QFile::decodeName(path).toStdString(); }

std::string systemError(int error) { return std::strerror(error); }

std::int64_t milliseconds(const QtSettingsStore::FileIdentity& identity)
{
    return identity.mtimeSeconds * 1000 + identity.mtimeNanoseconds / 1000000;
}

QtSettingsStore::FileIdentity identityOf(const struct stat& info)
{
    QtSettingsStore::FileIdentity identity;
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.mtimeSeconds = info.st_mtim.tv_sec;
    identity.mtimeNanoseconds = info.st_mtim.tv_nsec;
    return identity;
}

QtSettingsStore::FileIdentity identify(const QByteArray& path)
{
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return {};
    return identityOf(info);
}

/// Why |folder| can't hold this user's settings, or nothing when it can (or doesn't exist yet).
std::optional<std::string> folderProblem(const QByteArray& folder)
{
    struct stat info {};
    if (::stat(folder.constData(), &info) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return "cannot reach " + describe(folder) + ": " + systemError(errno);
    }
    if (!S_ISDIR(info.st_mode))
        return describe(folder) + " is not a folder";
    if (info.st_uid != ::geteuid())
        return describe(folder) + " belongs to another user";
    return std::nullopt;
}

// WORKAROUND: QSettings keeps one parsed copy per path for the whole process and, for a read,
// parses the file again only when its size or millisecond modification time differ from the
// copy's. Each in-memory copy handed to it gets a stamp that no earlier copy in this process
// had, so it always parses the copy afresh; the copy's path stays the same, so it keeps one.
std::int64_t nextCopyStamp()
{
    static std::atomic<std::int64_t> stamp{0};
    return ++stamp;
}

/// What QSettings' per-path cache last saw of each real file this process wrote, so a write
/// can tell when the cache would take another process's same-size, same-millisecond file for
/// its own.
std::map<QByteArray, QtSettingsStore::FileIdentity>& seenByQSettings()
{
    static std::map<QByteArray, QtSettingsStore::FileIdentity> seen;
    return seen;
}

}  // namespace

/// Holds the application folder's flock; closing the descriptor releases it.
class QtSettingsStore::FolderLock {
public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd = -1;
};

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::~QtSettingsStore()
{
    m_watch.reset();
    for (auto& [app, entry] : m_files) {
        entry.settings.reset();
        if (entry.copyFd >= 0)
            ::close(entry.copyFd);
    }
}

QString QtSettingsStore::filePath(std::string_view app)
{
    const QString name = toQString(app);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + name + QLatin1Char('/') + name + QStringLiteral(".conf");
}

QtSettingsStore::AppFile& QtSettingsStore::entryFor(std::string_view app)
{
    auto found = m_files.find(app);
    if (found == m_files.end()) {
        found = m_files.emplace(std::string(app), AppFile{}).first;
        AppFile& entry = found->second;
        const QString file = filePath(app);
        entry.file = QFile::encodeName(file);
        entry.folder = QFile::encodeName(QFileInfo(file).absolutePath());
        entry.configHome = QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        // A refusal here loses the watch, which the watch then tells from the event loop.
        if (m_watch)
            m_watch->add(entry.file);
    }
    return found->second;
}

bool QtSettingsStore::watch(FormEventSink* sink)
{
    m_watch.reset();
    if (sink == nullptr)
        return false;
    auto watch = std::make_unique<QtStoreWatch>([sink](bool watching) { sink->storeChanged(watching); });
    for (const auto& [app, entry] : m_files) {
        if (!watch->add(entry.file))
            return false;
    }
    if (!watch->watching())
        return false;
    m_watch = std::move(watch);
    return true;
}

StoredText QtSettingsStore::failRead(std::string error)
{
    m_lastError = std::move(error);
    return {StoreStatus::Failed, {}};
}

StoreStatus QtSettingsStore::fail(std::string error)
{
    m_lastError = std::move(error);
    return StoreStatus::Failed;
}

// Looks without opening anything: the folders must be the user's, the file a regular file (or
// a link to one of the user's) within the size limit.
QtSettingsStore::Found QtSettingsStore::inspect(const AppFile& entry, FileIdentity& identity)
{
    identity = {};
    for (const QByteArray* folder : {&entry.configHome, &entry.folder}) {
        if (auto problem = folderProblem(*folder)) {
            m_lastError = *problem;
            return Found::Refused;
        }
    }
    const std::string name = describe(entry.file);
    struct stat info {};
    if (::lstat(entry.file.constData(), &info) != 0) {
        if (errno == ENOENT)
            return Found::Missing;
        m_lastError = "cannot reach " + name + ": " + systemError(errno);
        return Found::Refused;
    }
    if (S_ISLNK(info.st_mode)) {
        if (::stat(entry.file.constData(), &info) != 0) {
            m_lastError = name + " is a link to nothing usable: " + systemError(errno);
            return Found::Refused;
        }
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            m_lastError = name + " is a link to something other than a file of this user";
            return Found::Refused;
        }
    } else if (!S_ISREG(info.st_mode)) {
        m_lastError = name + " is not a regular file";
        return Found::Refused;
    }
    if (info.st_size > kMaxFileSize) {
        m_lastError = name + " is larger than 1 MB, too large for a settings file";
        return Found::Refused;
    }
    identity = identityOf(info);
    return Found::File;
}

// True when the file is still the very regular file last parsed (a link to it is followed).
bool QtSettingsStore::sameFile(const AppFile& entry)
{
    struct stat info {};
    if (::lstat(entry.file.constData(), &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode) && ::stat(entry.file.constData(), &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && identityOf(info) == entry.identity;
}

// Reads the file without waiting (a FIFO swapped in after inspect() gives no data rather than
// a hang) and has QSettings parse an in-memory copy of exactly those bytes.
bool QtSettingsStore::parse(AppFile& entry)
{
    const std::string name = describe(entry.file);
    const int fd = ::open(entry.file.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = "cannot open " + name + ": " + systemError(errno);
        return false;
    }
    QByteArray bytes;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!ok)
        m_lastError = name + " is not a regular file";
    while (ok) {
        char chunk[16384];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            m_lastError = "cannot read " + name + ": " + systemError(errno);
            ok = false;
        } else if (bytes.size() + got > kMaxFileSize) {
            m_lastError = name + " is larger than 1 MB, too large for a settings file";
            ok = false;
        } else {
            bytes.append(chunk, got);
        }
    }
    ::close(fd);
    if (!ok)
        return false;

    if (entry.copyFd < 0)
        entry.copyFd = ::memfd_create("settings-copy", MFD_CLOEXEC);
    const timespec stamp{static_cast<time_t>(nextCopyStamp()), 0};
    const timespec times[2] = {stamp, stamp};
    if (entry.copyFd < 0 || ::ftruncate(entry.copyFd, 0) != 0
        || ::pwrite(entry.copyFd, bytes.constData(), static_cast<size_t>(bytes.size()), 0) != bytes.size()
        || ::futimens(entry.copyFd, times) != 0) {
        m_lastError = "cannot copy " + name + " for reading: " + systemError(errno);
        return false;
    }
    entry.settings = std::make_unique<QSettings>(QStringLiteral("/proc/self/fd/%1").arg(entry.copyFd),
                                                 QSettings::NativeFormat);
    // QSettings parsed the whole copy while opening; the copy's memory is no longer needed.
    [[maybe_unused]] const int emptied = ::ftruncate(entry.copyFd, 0);
    // The identity of what was read: a write that landed during the read changes it, and the
    // next read parses again.
    entry.identity = identityOf(info);
    entry.valid = true;
    return true;
}

StoredText QtSettingsStore::read(std::string_view app, std::string_view section, std::string_view key)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    // The tick's common case, an unchanged file, costs one lstat(): everything else was checked
    // when the file was parsed.
    FileIdentity now = entry.identity;
    const Found found = entry.valid && entry.settings && sameFile(entry) ? Found::File : inspect(entry, now);
    if (found != Found::File) {
        entry.settings.reset();
        entry.valid = found == Found::Missing;
        entry.identity = {};
        if (found == Found::Refused)
            return {StoreStatus::Failed, {}};
        return {StoreStatus::Missing, {}};
    }
    if (!entry.valid || !(entry.identity == now)) {
        entry.settings.reset();
        entry.valid = false;
        if (!parse(entry))
            return {StoreStatus::Failed, {}};
    }
    if (entry.settings->status() == QSettings::AccessError)
        return failRead("cannot read " + describe(entry.file));

    const QString name = settingsKey(section, key);
    if (!entry.settings->contains(name))
        return {StoreStatus::Missing, {}};
    const QVariant value = entry.settings->value(name);
    std::optional<std::string> text = faithfulText(value);
    std::string remembered = convertedKey(app, section, key);
    if (!text) {
        m_converted.erase(remembered);
        return {StoreStatus::Failed, {}};
    }
    if (value.typeId() == QMetaType::QString)
        m_converted.erase(remembered);
    else
        m_converted.insert_or_assign(std::move(remembered), ConvertedValue{*text, value});
    return {StoreStatus::Ok, std::move(*text)};
}

// Every writer of the store holds this lock, so a read-change-write under it sees no other
// write in between. Waiting is bounded: the holders keep it for a read and a write.
StoreStatus QtSettingsStore::lockFolder(AppFile& entry, bool create, FolderLock& lock)
{
    for (const QByteArray* folder : {&entry.configHome, &entry.folder}) {
        if (auto problem = folderProblem(*folder))
            return fail(*problem);
    }
    if (create && !QDir().mkpath(QFile::decodeName(entry.folder)))
        return fail("cannot create " + describe(entry.folder) + ": " + systemError(errno));
    lock.fd = ::open(entry.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock.fd < 0) {
        if (errno == ENOENT && !create)
            return StoreStatus::Missing;
        return fail("cannot open " + describe(entry.folder) + ": " + systemError(errno));
    }
    struct stat info {};
    if (::fstat(lock.fd, &info) != 0 || info.st_uid != ::geteuid())
        return fail(describe(entry.folder) + " belongs to another user");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        // A file system without flock (some network mounts) still gets its writes, unguarded.
        if (errno != EWOULDBLOCK)
            return StoreStatus::Ok;
        if (std::chrono::steady_clock::now() >= deadline)
            return fail(describe(entry.folder) + " stays locked by another process");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return StoreStatus::Ok;
}

std::string QtSettingsStore::whyNotWritten(const AppFile& entry) const
{
    if (::access(entry.folder.constData(), W_OK) != 0)
        return "cannot write in " + describe(entry.folder) + ": " + systemError(errno);
    if (::access(entry.file.constData(), F_OK) == 0 && ::access(entry.file.constData(), W_OK) != 0)
        return "cannot write " + describe(entry.file) + ": " + systemError(errno);
    struct statvfs space {};
    if (::statvfs(entry.folder.constData(), &space) == 0 && space.f_bavail == 0)
        return "cannot write " + describe(entry.file) + ": " + systemError(ENOSPC);
    return "the system refused to write " + describe(entry.file);
}

// Under the folder lock: QSettings reads the real file, applies |edit| and replaces the file.
StoreStatus QtSettingsStore::writeLocked(AppFile& entry, const std::function<StoreStatus(QSettings&)>& edit)
{
    FileIdentity before;
    if (inspect(entry, before) == Found::Refused)
        return StoreStatus::Failed;
    // QSettings' own write lock: a planted FIFO or link there would make it wait for ever.
    const QByteArray lockName = entry.file + ".lock";
    struct stat lockInfo {};
    if (::lstat(lockName.constData(), &lockInfo) == 0 && !S_ISREG(lockInfo.st_mode))
        return fail(describe(lockName) + " is not a regular file");

    // QSettings merges into the copy it cached for this path unless the file's size or
    // millisecond time differ from that copy's; another process's same-size write within the
    // same millisecond would be merged away. Moving the time on by a millisecond makes it read.
    FileIdentity& seen = seenByQSettings()[entry.file];
    if (before.exists && seen.exists && !(seen == before) && seen.size == before.size
        && milliseconds(seen) == milliseconds(before)) {
        std::int64_t nanoseconds = before.mtimeNanoseconds + 1000000;
        const timespec moved{static_cast<time_t>(before.mtimeSeconds + nanoseconds / 1000000000),
                             static_cast<long>(nanoseconds % 1000000000)};
        const timespec times[2] = {{0, UTIME_OMIT}, moved};
        if (::utimensat(AT_FDCWD, entry.file.constData(), times, 0) != 0)
            return fail(whyNotWritten(entry));
        before = identify(entry.file);
    }

    StoreStatus result;
    QSettings::Status status = QSettings::NoError;
    {
        QSettings settings(QFile::decodeName(entry.file), QSettings::NativeFormat);
        result = edit(settings);
        if (result == StoreStatus::Ok) {
            settings.sync();
            status = settings.status();
        }
    }
    const FileIdentity after = identify(entry.file);
    seen = after;
    entry.valid = false;
    if (result != StoreStatus::Ok)
        return result;
    // The status sticks at the first problem, so a file that merely had a malformed line still
    // reports FormatError after a good write; the new file (a rename gives a new inode) tells.
    if (status == QSettings::AccessError || !after.exists || after == before)
        return fail(whyNotWritten(entry));
    return StoreStatus::Ok;
}

StoreStatus QtSettingsStore::saveLocked(AppFile& entry, std::string_view app, std::string_view section,
                                        std::string_view key, std::string_view value)
{
    QVariant stored = toQString(value);
    const auto converted = m_converted.find(convertedKey(app, section, key));
    if (converted != m_converted.end() && converted->second.text == value)
        stored = converted->second.original;
    return writeLocked(entry, [&](QSettings& settings) {
        settings.setValue(settingsKey(section, key), stored);
        return StoreStatus::Ok;
    });
}

StoreStatus QtSettingsStore::save(std::string_view app, std::string_view section, std::string_view key,
                                  std::string_view value)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    FolderLock lock;
    if (lockFolder(entry, true, lock) != StoreStatus::Ok)
        return StoreStatus::Failed;
    return saveLocked(entry, app, section, key, value);
}

StoreStatus QtSettingsStore::update(std::string_view app, std::string_view section, std::string_view key,
                                    const Change& change)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    FolderLock lock;
    if (lockFolder(entry, true, lock) != StoreStatus::Ok)
        return StoreStatus::Failed;
    const StoredText current = read(app, section, key);
    if (current.status == StoreStatus::Failed && !m_lastError.empty())
        return StoreStatus::Failed;
    const std::optional<std::string> next = change(current);
    if (!next)
        return StoreStatus::Ok;
    return saveLocked(entry, app, section, key, *next);
}

StoreStatus QtSettingsStore::removeSection(std::string_view app, std::string_view section)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    FolderLock lock;
    const StoreStatus locked = lockFolder(entry, false, lock);
    if (locked != StoreStatus::Ok)
        return locked;
    FileIdentity present;
    const Found found = inspect(entry, present);
    if (found == Found::Refused)
        return StoreStatus::Failed;
    if (found == Found::Missing)
        return StoreStatus::Missing;
    const StoreStatus result = writeLocked(entry, [&](QSettings& settings) {
        const QString group = toQString(section);
        settings.beginGroup(group);
        const bool hasKeys = !settings.allKeys().isEmpty();
        settings.endGroup();
        if (!hasKeys)
            return StoreStatus::Missing;
        settings.remove(group);
        return StoreStatus::Ok;
    });
    m_converted.clear();
    return result;
}
