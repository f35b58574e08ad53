#include "platform/qt/qt_settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
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

/// The same file, unchanged: the same inode, size and nanosecond modification time.
bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
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

// Both folders must be the user's (or not exist yet).
StoreStatus QtSettingsStore::checkFolders(const AppFile& entry)
{
    for (const std::string* folder : {&entry.configHome, &entry.folder}) {
        struct stat info {};
        if (::stat(folder->c_str(), &info) != 0) {
            if (errno != ENOENT)
                return fail("cannot reach " + *folder + ": " + systemError(errno));
        } else if (!S_ISDIR(info.st_mode)) {
            return fail(*folder + " is not a folder");
        } else if (info.st_uid != ::geteuid()) {
            return fail(*folder + " belongs to another user");
        }
    }
    return StoreStatus::Ok;
}

// Reads the file into |bytes| when it is safe to: a regular file, or a link to one of the user's,
// of at most kMaxFileSize bytes. It is read without waiting: a FIFO swapped in after the check
// gives no data rather than a hang, and a file that grew past the limit meanwhile is refused.
// |seen| becomes what was read, so a write that landed during the read makes the next read look
// again. Ok, Missing (no file), or Failed.
StoreStatus QtSettingsStore::load(const AppFile& entry, std::string& bytes, struct stat& seen)
{
    if (checkFolders(entry) != StoreStatus::Ok)
        return StoreStatus::Failed;
    const std::string& name = entry.file;
    const std::string tooLarge = name + " is larger than 1 MB, too large for a settings file";
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0)
        return errno == ENOENT ? StoreStatus::Missing : fail("cannot reach " + name + ": " + systemError(errno));
    const bool link = S_ISLNK(info.st_mode);
    if (link && ::stat(name.c_str(), &info) != 0)
        return fail(name + " is a link to nothing usable: " + systemError(errno));
    if (link && (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()))
        return fail(name + " is a link to something other than a file of this user");
    if (!S_ISREG(info.st_mode))
        return fail(name + " is not a regular file");
    if (info.st_size > kMaxFileSize)
        return fail(tooLarge);

    Descriptor file{::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0 || ::fstat(file.fd, &seen) != 0)
        return fail("cannot open " + name + ": " + systemError(errno));
    if (!S_ISREG(seen.st_mode))
        return fail(name + " is not a regular file");
    char chunk[16384];
    for (ssize_t got; (got = ::read(file.fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("cannot read " + name + ": " + systemError(errno));
        if (static_cast<off_t>(bytes.size()) + got > kMaxFileSize)
            return fail(tooLarge);
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return StoreStatus::Ok;
}

StoredText QtSettingsStore::read(std::string_view app, std::string_view section, std::string_view key)
{
    m_lastError.clear();
    AppFile& entry = entryFor(app);
    // The tick's common case, an unchanged file, costs one lstat(): everything else was checked
    // when the file was read.
    const auto now = regularFile(entry.file);
    if (!entry.text || !now || !sameFile(*now, entry.seen)) {
        entry.text.reset();
        std::string bytes;
        const StoreStatus loaded = load(entry, bytes, entry.seen);
        if (loaded != StoreStatus::Ok)
            return {loaded, {}};
        entry.text = std::make_unique<SettingsFileText>(std::move(bytes));
    }
    return entry.text->value(section, key);
}

// Every writer of the store holds this lock, so a read-change-write under it sees no other
// write in between. Waiting is bounded: the holders keep it for a read and a write.
StoreStatus QtSettingsStore::lockFolder(const AppFile& entry, bool create, int& fd)
{
    if (checkFolders(entry) != StoreStatus::Ok)
        return StoreStatus::Failed;
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
// with what |change| makes of it (nothing: Missing, nothing changed).
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
    std::string bytes;
    struct stat seen {};
    if (load(entry, bytes, seen) == StoreStatus::Failed)
        return StoreStatus::Failed;
    const std::optional<std::string> next = change(SettingsFileText(std::move(bytes)));
    if (!next)
        return StoreStatus::Missing;
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
    return edit(app, true, [&](const SettingsFileText& current) { return current.withValue(section, key, value); });
}

StoreStatus QtSettingsStore::removeSection(std::string_view app, std::string_view section)
{
    return edit(app, false, [&](const SettingsFileText& current) { return current.withoutSection(section); });
}
