#include "platform/qt/qt_settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "platform/program_event_sink.h"
#include "platform/qt/qt_store_watch.h"
#include "platform/qt/settings_file_text.h"

namespace {

std::string systemError(int error) { return std::strerror(error); }

QtSettingsStore::FileIdentity identityOf(const struct stat& info)
{
    return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

/// Why |folder| can't hold this user's settings, or nothing when it can (or doesn't exist yet).
std::optional<std::string> folderProblem(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return errno == ENOENT ? std::nullopt : std::optional("cannot reach " + folder + ": " + systemError(errno));
    if (!S_ISDIR(info.st_mode))
        return folder + " is not a folder";
    if (info.st_uid != ::geteuid())
        return folder + " belongs to another user";
    return std::nullopt;
}

/// The regular file |path| names (a link followed), or nothing.
std::optional<struct stat> regularFile(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || (S_ISLNK(info.st_mode) && ::stat(path.c_str(), &info) != 0)
        || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info;
}

/// Closes a descriptor (and so releases its flock) on every path.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

QtSettingsStore::QtSettingsStore() = default;
QtSettingsStore::~QtSettingsStore() = default;

QString QtSettingsStore::filePath(std::string_view app)
{
    const QString name = QString::fromUtf8(app.data(), static_cast<qsizetype>(app.size()));
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + name
        + QLatin1Char('/') + name + QStringLiteral(".conf");
}

QtSettingsStore::AppFile& QtSettingsStore::entryFor(std::string_view app)
{
    auto found = m_files.find(app);
    if (found == m_files.end()) {
        AppFile entry;
        entry.configHome =
            QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).toStdString();
        entry.folder = entry.configHome + "/" + std::string(app);
        entry.file = entry.folder + "/" + std::string(app) + ".conf";
        // A refusal here loses the watch, which the watch then tells from the event loop.
        if (m_watch)
            m_watch->add(QByteArray::fromStdString(entry.file));
        found = m_files.emplace(std::string(app), std::move(entry)).first;
    }
    return found->second;
}

bool QtSettingsStore::watch(ProgramEventSink* sink)
{
    m_watch.reset();
    if (sink == nullptr)
        return false;
    auto watch = std::make_unique<QtStoreWatch>([sink](bool watching) { sink->storeChanged(watching); });
    for (const auto& [app, entry] : m_files) {
        if (!watch->add(QByteArray::fromStdString(entry.file)))
            return false;
    }
    if (!watch->watching())
        return false;
    m_watch = std::move(watch);
    return true;
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
    for (const std::string* folder : {&entry.configHome, &entry.folder}) {
        if (auto problem = folderProblem(*folder)) {
            fail(*problem);
            return Found::Refused;
        }
    }
    const std::string& name = entry.file;
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return Found::Missing;
        fail("cannot reach " + name + ": " + systemError(errno));
        return Found::Refused;
    }
    if (S_ISLNK(info.st_mode)) {
        if (::stat(name.c_str(), &info) != 0) {
            fail(name + " is a link to nothing usable: " + systemError(errno));
            return Found::Refused;
        }
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            fail(name + " is a link to something other than a file of this user");
            return Found::Refused;
        }
    } else if (!S_ISREG(info.st_mode)) {
        fail(name + " is not a regular file");
        return Found::Refused;
    }
    if (info.st_size > kMaxFileSize) {
        fail(name + " is larger than 1 MB, too large for a settings file");
        return Found::Refused;
    }
    identity = identityOf(info);
    return Found::File;
}

// Reads the file without waiting: a FIFO swapped in after inspect() gives no data rather than a
// hang, and a file that grew past the limit meanwhile is refused. |identity| becomes that of
// what was read, so a write that landed during the read makes the next read look again.
std::optional<std::string> QtSettingsStore::load(const AppFile& entry, FileIdentity& identity)
{
    const std::string& name = entry.file;
    Descriptor file{::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
        fail("cannot open " + name + ": " + systemError(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        fail(name + " is not a regular file");
        return std::nullopt;
    }
    std::string bytes;
    char chunk[16384];
    for (ssize_t got; (got = ::read(file.fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            fail("cannot read " + name + ": " + systemError(errno));
            return std::nullopt;
        }
        if (static_cast<off_t>(bytes.size()) + got > kMaxFileSize) {
            fail(name + " is larger than 1 MB, too large for a settings file");
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    identity = identityOf(info);
    return bytes;
}

StoredText QtSettingsStore::read(std::string_view app, std::string_view section, std::string_view key)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    // The tick's common case, an unchanged file, costs one lstat(): everything else was checked
    // when the file was read.
    const auto now = regularFile(entry.file);
    if (!entry.text || !now || !(identityOf(*now) == entry.identity)) {
        entry.text.reset();
        FileIdentity identity;
        const Found found = inspect(entry, identity);
        if (found != Found::File)
            return {found == Found::Missing ? StoreStatus::Missing : StoreStatus::Failed, {}};
        std::optional<std::string> bytes = load(entry, identity);
        if (!bytes)
            return {StoreStatus::Failed, {}};
        entry.text = std::make_unique<SettingsFileText>(std::move(*bytes));
        entry.identity = identity;
    }
    return entry.text->value(section, key);
}

// Every writer of the store holds this lock, so a read-change-write under it sees no other
// write in between. Waiting is bounded: the holders keep it for a read and a write.
StoreStatus QtSettingsStore::lockFolder(const AppFile& entry, bool create, int& fd)
{
    for (const std::string* folder : {&entry.configHome, &entry.folder}) {
        if (auto problem = folderProblem(*folder))
            return fail(*problem);
    }
    if (create && !QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(entry.folder))))
        return fail("cannot create " + entry.folder + ": " + systemError(errno));
    fd = ::open(entry.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT && !create ? StoreStatus::Missing
                                          : fail("cannot open " + entry.folder + ": " + systemError(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())
        return fail(entry.folder + " belongs to another user");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        // A file system without flock (some network mounts) still gets its writes, unguarded.
        if (errno != EWOULDBLOCK)
            return StoreStatus::Ok;
        if (std::chrono::steady_clock::now() >= deadline)
            return fail(entry.folder + " stays locked by another process");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return StoreStatus::Ok;
}

StoreStatus QtSettingsStore::whileLocked(std::string_view app, std::string_view, std::string_view,
                                         const std::function<StoreStatus()>& locked)
{
    m_lastError.clear();
    Descriptor lock;
    if (lockFolder(entryFor(app), true, lock.fd) != StoreStatus::Ok)
        return StoreStatus::Failed;
    m_locked = true;
    const struct Release {
        bool& locked;
        ~Release() { locked = false; }
    } release{m_locked};
    return locked();
}

// Under the folder lock (update() may hold it already): reads the file afresh and replaces it
// with what |change| makes of it.
StoreStatus QtSettingsStore::edit(std::string_view app, bool create, const Edit& change)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    Descriptor lock;
    if (!m_locked) {
        const StoreStatus locked = lockFolder(entry, create, lock.fd);
        if (locked != StoreStatus::Ok)
            return locked;
    }
    FileIdentity identity;
    const Found found = inspect(entry, identity);
    if (found == Found::Refused)
        return StoreStatus::Failed;
    std::optional<std::string> bytes = found == Found::File ? load(entry, identity) : std::string();
    if (!bytes)
        return StoreStatus::Failed;
    std::optional<std::string> next;
    const StoreStatus result = change(SettingsFileText(std::move(*bytes)), next);
    if (result != StoreStatus::Ok || !next)
        return result;
    entry.text.reset();
    return replace(entry, *next);
}

// A new file beside the real one (a link's target), flushed to disk, then renamed over it.
StoreStatus QtSettingsStore::replace(const AppFile& entry, const std::string& content)
{
    char resolved[PATH_MAX];
    const auto existing = regularFile(entry.file);
    const std::string target = existing && ::realpath(entry.file.c_str(), resolved) ? resolved : entry.file;
    std::string temporary = target + ".XXXXXX";
    Descriptor file{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (file.fd < 0)
        return fail("cannot write in " + target.substr(0, target.rfind('/')) + ": " + systemError(errno));
    bool written = ::fchmod(file.fd, existing ? existing->st_mode & 07777 : 0600) == 0;
    for (std::size_t done = 0; written && done < content.size();) {
        const ssize_t wrote = ::write(file.fd, content.data() + done, content.size() - done);
        written = wrote > 0 || (wrote < 0 && errno == EINTR);
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    written = written && ::fsync(file.fd) == 0 && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!written) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return fail("cannot write " + target + ": " + systemError(error));
    }
    // The rename itself reaches the disk with the folder.
    Descriptor folder{::open(target.substr(0, target.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd >= 0)
        ::fsync(folder.fd);
    return StoreStatus::Ok;
}

StoreStatus QtSettingsStore::save(std::string_view app, std::string_view section, std::string_view key,
                                  std::string_view value)
{
    return edit(app, true, [&](const SettingsFileText& current, std::optional<std::string>& next) {
        next = current.withValue(section, key, value);
        return next ? StoreStatus::Ok : fail("the settings file's last line can't be kept with the new value");
    });
}

StoreStatus QtSettingsStore::removeSection(std::string_view app, std::string_view section)
{
    return edit(app, false, [&](const SettingsFileText& current, std::optional<std::string>& next) {
        next = current.withoutSection(section);
        return next ? StoreStatus::Ok : StoreStatus::Missing;
    });
}
