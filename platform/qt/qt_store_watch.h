#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

/// Tells, through the event loop, when settings files may have changed: inotify on each file's
/// folder (names only the file matters), on the file itself (a link's target and hard links
/// change without the folder seeing it), and, while the folder is missing, on its nearest
/// existing ancestor, so its creation is seen. After every change it re-arms on what the
/// paths now name, so a file replaced by a rename, a folder deleted and made again or renamed
/// away stays watched. Nothing is timer-based: no change, no wakeup.
///
/// WORKAROUND: QFileSystemWatcher would do the same with less code, but its folder watch
/// does not report the folder being renamed (all later changes then went unseen), and when
/// the system has no inotify instance left it silently polls every second while still
/// reporting success; both were measured here with Qt 6.4.
class QtStoreWatch {
public:
    /// |changed|(true) after each batch of changes that may concern a watched file, from the
    /// event loop; |changed|(false) once when the watch was lost and could not be set up again
    /// (nothing is told after that).
    explicit QtStoreWatch(std::function<void(bool watching)> changed);
    ~QtStoreWatch();
    QtStoreWatch(const QtStoreWatch&) = delete;
    QtStoreWatch& operator=(const QtStoreWatch&) = delete;

    /// Watches |file| (an absolute path) from now on. False when the system refused (no
    /// inotify instance or watch left); after the first file, such a refusal loses the watch.
    bool add(const QByteArray& file);
    /// False once the watch could not be had or was lost.
    bool watching() const { return !m_lost; }

private:
    struct Target {
        QByteArray file;
        int folderWd = -1;       ///< the watch on the file's folder or its nearest existing ancestor
        QByteArray folderChild;  ///< the entry of that folder that leads to the file
        int fileWd = -1;         ///< the watch on the file itself, -1 while it is missing
        bool changed = false;    ///< an event of the batch being read concerned it
    };

    bool arm(Target& target);
    void release(int wd);
    void readEvents();
    void lose();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QObject m_context;  ///< ends a queued report of a loss together with the watch
    std::vector<Target> m_targets;
    std::function<void(bool)> m_changed;
    bool m_lost = false;
};
