#include "platform/qt/qt_instance_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <thread>

#include <QFile>

namespace {

/// Why |folder| is no place for this user's lock, or empty when it is: it must be a folder
/// (not a link to one) of this user that no one else may enter.
QString privateFolderProblem(const QString& folder)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        return QStringLiteral("%1 is not a private folder of this user").arg(folder);
    return {};
}

}  // namespace

QtInstanceLock::QtInstanceLock(QString programName, ErrorStream errors)
    : m_programName(std::move(programName))
    , m_errors(errors)
{
}

void QtInstanceLock::tell(const QString& text)
{
    if (m_errors)
        *m_errors << m_programName.toStdString() << ": " << text.toStdString() << '\n';
}

QString QtInstanceLock::fallbackFolder()
{
    const QString folder = QStringLiteral("/tmp/runtime-%1").arg(::geteuid());
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        tell(QStringLiteral("cannot create %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
        return {};
    }
    // Another user may have made this name first, or a link to somewhere else: a lock there
    // would be theirs to remove or to hold.
    if (const QString problem = privateFolderProblem(folder); !problem.isEmpty()) {
        tell(problem);
        return {};
    }
    return folder;
}

QtInstanceLock::Attempt QtInstanceLock::tryIn(const QString& folder)
{
    auto lock = std::make_unique<QLockFile>(folder + QLatin1Char('/') + m_programName + QStringLiteral(".lock"));
    // The default makes a lock older than 30 s stale even while its holder lives, which would
    // let a later launch start a second copy. Staleness is left to the holder's PID alone.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() != QLockFile::LockFailedError)
            return Attempt::Unusable;
        // A file that names no holder (empty after a crash or power loss between creating and
        // writing it, unreadable, garbled) can't show a live holder. A copy that is creating
        // its lock right now writes its name within microseconds, so look twice.
        qint64 pid = 0;
        QString host;
        QString app;
        if (lock->getLockInfo(&pid, &host, &app))
            return heldIn(folder);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (lock->getLockInfo(&pid, &host, &app))
            return heldIn(folder);
        // QLockFile refuses to remove a file whose creator still holds it open and locked.
        if (!lock->removeStaleLockFile())
            QFile::remove(folder + QLatin1Char('/') + m_programName + QStringLiteral(".lock"));
        if (!lock->tryLock(0))
            return lock->error() == QLockFile::LockFailedError ? heldIn(folder) : Attempt::Unusable;
    }
    m_lock = std::move(lock);
    m_folder = folder;
    std::string reason;
    if (!m_server.listen(socketPath(), reason))
        tell(QStringLiteral("later launches cannot reach this copy: %1").arg(QString::fromStdString(reason)));
    return Attempt::Acquired;
}

QtInstanceLock::Attempt QtInstanceLock::heldIn(const QString& folder)
{
    m_folder = folder;
    return Attempt::HeldByAnother;
}

QString QtInstanceLock::socketPath() const
{
    return m_folder + QLatin1Char('/') + m_programName + QStringLiteral(".socket");
}

bool QtInstanceLock::forward(LaunchRequest request, std::string& reason)
{
    if (m_folder.isEmpty()) {
        reason = "no running copy is known";
        return false;
    }
    return sendInstanceRequest(socketPath(), request, reason);
}

bool QtInstanceLock::tryAcquire()
{
    if (m_lock && m_lock->isLocked())
        return true;
    const QString fromSession = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromSession.isEmpty()) {
        const QString problem = privateFolderProblem(fromSession);
        if (!problem.isEmpty()) {
            tell(QStringLiteral("XDG_RUNTIME_DIR refused: %1").arg(problem));
        } else {
            const Attempt attempt = tryIn(fromSession);
            if (attempt != Attempt::Unusable)
                return attempt == Attempt::Acquired;
            // A read-only mount, say: every copy then meets the same refusal and goes on to
            // the same fallback.
            tell(QStringLiteral("cannot place the single-instance lock in %1").arg(fromSession));
        }
    }
    const QString folder = fallbackFolder();
    if (!folder.isEmpty()) {
        const Attempt attempt = tryIn(folder);
        if (attempt != Attempt::Unusable)
            return attempt == Attempt::Acquired;
    }
    // Without a safe place for the lock this copy runs on unguarded rather than mistaking
    // itself for a second launch and flipping the stored state of a copy that isn't there.
    tell(QStringLiteral("single-instance lock unavailable; running without it"));
    return true;
}
