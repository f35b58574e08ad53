#include "platform/qt/qt_store_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

namespace {

// What a folder watch reports: entries made, removed, renamed, written or changed in their
// attributes (a child's name comes with each), and the folder itself going away. Opening and
// reading are left out, so the store's own reads never wake anyone.
constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB
                                      | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The file itself, followed through a link: written, truncated, touched, replaced or removed.
constexpr std::uint32_t kFileMask = IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

// A folder that isn't there to watch (yet): missing, not a folder, a broken link, or closed to
// this user. Its parent is watched instead, which sees it appear or be replaced.
bool notThere(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == EACCES;
}

}  // namespace

QtStoreWatch::QtStoreWatch(std::function<void(bool watching)> changed)
    : m_changed(std::move(changed))
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_lost = true;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &m_context, [this] { readEvents(); });
}

QtStoreWatch::~QtStoreWatch()
{
    // The notifier goes first: the event loop must not poll a closed descriptor.
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool QtStoreWatch::add(const QByteArray& file)
{
    if (m_lost)
        return false;
    const QByteArray path
        = QFile::encodeName(QDir::cleanPath(QFileInfo(QFile::decodeName(file)).absoluteFilePath()));
    for (const Target& target : m_targets) {
        if (target.file == path)
            return true;
    }
    m_targets.emplace_back().file = path;
    if (arm(m_targets.back()))
        return true;
    lose();
    return false;
}

// Watches what the path names now: the file's folder and the file, or the nearest existing
// ancestor while the folder is missing. False when the system refused a watch (its limit).
bool QtStoreWatch::arm(Target& target)
{
    const QByteArray fileName = nameOf(target.file);
    for (int attempt = 0;; ++attempt) {
        QByteArray folder = parentOf(target.file);
        QByteArray child = fileName;
        int folderWd = -1;
        for (;;) {
            folderWd = ::inotify_add_watch(m_fd, folder.constData(), kFolderMask);
            if (folderWd >= 0)
                break;
            if (!notThere(errno) || folder == "/")
                return false;
            child = nameOf(folder);
            folder = parentOf(folder);
        }
        const int oldFolderWd = target.folderWd;
        target.folderWd = folderWd;
        target.folderChild = child;
        release(oldFolderWd);
        // A folder made between its failed watch and its parent's was not seen being made:
        // climb again (a few times; one that exists but can't be watched stays as it is).
        struct stat info {};
        const QByteArray next = folder == "/" ? "/" + child : folder + "/" + child;
        if (child == fileName || attempt == 2 || ::stat(next.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            break;
    }

    int fileWd = -1;
    if (target.folderChild == fileName) {
        fileWd = ::inotify_add_watch(m_fd, target.file.constData(), kFileMask);
        // A missing or unreadable file is seen through its folder when it comes or changes.
        if (fileWd < 0 && !notThere(errno))
            return false;
    }
    const int oldFileWd = target.fileWd;
    target.fileWd = fileWd;
    release(oldFileWd);
    return true;
}

// Removes a watch no target uses any more (the kernel gives the same one for the same inode).
void QtStoreWatch::release(int wd)
{
    if (wd < 0)
        return;
    for (const Target& target : m_targets) {
        if (target.folderWd == wd || target.fileWd == wd)
            return;
    }
    // It may be gone already (its inode freed); that is no error.
    ::inotify_rm_watch(m_fd, wd);
}

void QtStoreWatch::readEvents()
{
    if (m_lost)
        return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            for (Target& target : m_targets) {
                // Overflow: events were dropped, so anything may have changed. A folder event
                // without a name is about the folder itself.
                if ((event->mask & IN_Q_OVERFLOW) != 0 || event->wd == target.fileWd
                    || (event->wd == target.folderWd && (event->len == 0 || target.folderChild == event->name)))
                    target.changed = true;
            }
        }
    }
    bool changed = false;
    for (Target& target : m_targets) {
        if (!target.changed)
            continue;
        target.changed = false;
        changed = true;
        // Re-armed before anyone is told, so a change made after their read is seen again.
        if (!arm(target)) {
            lose();
            return;
        }
    }
    // The last use of this object: the receiver may end the watch.
    if (changed)
        m_changed(true);
}

void QtStoreWatch::lose()
{
    if (m_lost)
        return;
    m_lost = true;
    m_notifier->setEnabled(false);
    for (Target& target : m_targets) {
        for (int* wd : {&target.folderWd, &target.fileWd}) {
            if (*wd >= 0)
                ::inotify_rm_watch(m_fd, *wd);
            *wd = -1;
        }
    }
    // Told from the event loop, never in the middle of the handler that lost it; a watch ended
    // before then tells nothing.
    QMetaObject::invokeMethod(&m_context, [this] { m_changed(false); }, Qt::QueuedConnection);
}
