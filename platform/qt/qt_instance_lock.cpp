#include "platform/qt/qt_instance_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

#include <QFile>

QtInstanceLock::QtInstanceLock(QString programName, std::ostream* errors)
    : m_programName(std::move(programName))
    , m_errors(errors)
{
}

QString QtInstanceLock::runtimeFolder(QString& reason)
{
    const QString fromSession = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromSession.isEmpty())
        return fromSession;

    const uid_t uid = ::getuid();
    const QString folder = QStringLiteral("/tmp/runtime-%1").arg(uid);
    const QByteArray encoded = QFile::encodeName(folder);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) {
        reason = QStringLiteral("cannot create %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    // Another user may have made this name first, or a link to somewhere else: a lock there
    // would be theirs to remove or to hold, so only our own private folder is accepted.
    struct stat info {};
    if (::lstat(encoded.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid
        || (info.st_mode & 077) != 0) {
        reason = QStringLiteral("%1 is not a private folder of this user").arg(folder);
        return {};
    }
    return folder;
}

bool QtInstanceLock::tryAcquire()
{
    if (m_lock && m_lock->isLocked())
        return true;
    QString reason;
    const QString folder = runtimeFolder(reason);
    if (folder.isEmpty()) {
        // Without a safe place for the lock this copy runs on unguarded rather than mistaking
        // itself for a second launch and flipping the stored state of a copy that isn't there.
        if (m_errors)
            *m_errors << "single-instance lock unavailable: " << reason.toStdString() << '\n';
        return true;
    }
    m_lock = std::make_unique<QLockFile>(folder + QLatin1Char('/') + m_programName + QStringLiteral(".lock"));
    // The default makes a lock older than 30 s stale even while its holder lives, which would
    // let a later launch start a second copy. Staleness is left to the holder's PID alone.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    if (m_lock->error() == QLockFile::LockFailedError)
        return false;
    if (m_errors)
        *m_errors << "single-instance lock unavailable in " << folder.toStdString() << '\n';
    return true;
}
