#pragma once

#include <string>

/// The per-user, per-session single-instance lock of one program.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    /// Atomically takes the lock for the rest of the process's life. True when this process
    /// is now the only running copy; false when another live copy holds it. A lock left by a
    /// copy that crashed is taken over.
    virtual bool tryAcquire() = 0;
};
