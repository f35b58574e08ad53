#include "platform/win32/win32_instance_lock.h"

#include <utility>

#include "platform/win32/win32_error.h"

Win32InstanceLock::Win32InstanceLock(std::string name)
    : m_name(std::move(name))
{
}

Win32InstanceLock::~Win32InstanceLock()
{
    if (m_mutex != nullptr)
        CloseHandle(m_mutex);
}

bool Win32InstanceLock::tryAcquire()
{
    if (m_mutex != nullptr)
        return m_first;
    m_mutex = CreateMutexW(nullptr, FALSE, win32Widen(m_name).c_str());
    const DWORD error = GetLastError();
    if (m_mutex == nullptr) {
        // No mutex at all for a reason other than a holder we may not open (out of
        // resources, a bad name): running is better than refusing to start.
        m_first = error != ERROR_ACCESS_DENIED;
        return m_first;
    }
    m_first = error != ERROR_ALREADY_EXISTS;
    return m_first;
}
