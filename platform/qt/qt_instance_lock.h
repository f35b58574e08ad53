#pragma once

#include <QLockFile>
#include <QString>

#include <iosfwd>
#include <memory>

#include "platform/instance_lock.h"

/// The single-instance lock: a QLockFile named after the program in the session's runtime
/// folder ($XDG_RUNTIME_DIR; when that is unset, a private 0700 folder /tmp/runtime-<uid>
/// that this class creates and checks). The lock dies with the process; a lock left by a
/// copy that crashed is taken over.
class QtInstanceLock final : public InstanceLock {
public:
    /// |errors| hears why the lock could not be placed (may be null).
    QtInstanceLock(QString programName, std::ostream* errors);
    bool tryAcquire() override;

    /// The runtime folder, created when needed; empty when no safe folder could be had, with
    /// |reason| saying why.
    static QString runtimeFolder(QString& reason);

private:
    QString m_programName;
    std::ostream* m_errors;
    std::unique_ptr<QLockFile> m_lock;
};
