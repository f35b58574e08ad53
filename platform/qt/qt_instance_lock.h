#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

#include "platform/error_stream.h"
#include "platform/instance_lock.h"

/// The single-instance lock: a QLockFile named after the program in the session's runtime
/// folder ($XDG_RUNTIME_DIR), or in a private 0700 folder /tmp/runtime-<uid> that this
/// class creates and checks when that is unset, not a private folder of this user (it is then
/// refused with a message) or can't hold the lock (a read-only mount). The lock dies with the
/// process; a lock whose holder can't be shown alive (left by a crash, empty after a power
/// loss, unreadable) is taken over.
class QtInstanceLock final : public InstanceLock {
public:
    /// |errors| hears why a folder was refused or the lock could not be placed (may be none).
    QtInstanceLock(QString programName, ErrorStream errors);
    bool tryAcquire() override;

private:
    enum class Attempt { Acquired, HeldByAnother, Unusable };
    Attempt tryIn(const QString& folder);
    /// The fallback folder, created when needed; empty when no safe one could be had.
    QString fallbackFolder();
    void tell(const QString& text);

    QString m_programName;
    ErrorStream m_errors;
    std::unique_ptr<QLockFile> m_lock;
};
