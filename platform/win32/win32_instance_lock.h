#pragma once

#include <windows.h>

#include <string>

#include "platform/instance_lock.h"

/// A named mutex in the session's namespace ("Local\..."), so each logged-on user runs one
/// copy. Creating the mutex is the atomic test: the system reports ERROR_ALREADY_EXISTS to
/// every creator but the first. The handle stays open for the process's life; the system
/// closes it when the process ends, however it ends, so a crashed copy leaves no lock.
class Win32InstanceLock final : public InstanceLock {
public:
    explicit Win32InstanceLock(std::string name);
    Win32InstanceLock(const Win32InstanceLock&) = delete;
    Win32InstanceLock& operator=(const Win32InstanceLock&) = delete;
    ~Win32InstanceLock() override;

    /// False also when the mutex exists but can't be opened (a copy running elevated, whose
    /// object this copy may not touch): that copy is running.
    bool tryAcquire() override;

private:
    std::string m_name;
    HANDLE m_mutex = nullptr;
    bool m_first = false;
};
