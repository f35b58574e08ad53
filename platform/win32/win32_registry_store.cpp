#include "platform/win32/win32_registry_store.h"

#include <windows.h>

#include <new>
#include <vector>

#include "platform/win32/win32_error.h"
#include "platform/win32/win32_registry_watch.h"

namespace {

bool validName(std::string_view name)
{
    return !name.empty() && name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Open key handle, closed on every path.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey()
    {
        if (m_key != nullptr)
            RegCloseKey(m_key);
    }
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// Text of a string value's raw data: whole UTF-16 units up to the first NUL. Data without a
// terminating NUL, or of odd length, is taken as far as it goes.
std::string textOf(const BYTE* data, DWORD size)
{
    const std::size_t units = size / sizeof(wchar_t);
    std::wstring text(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return win32Narrow(text);
}

} // namespace

std::wstring Win32RegistryStore::sectionPath(std::string_view app, std::string_view section)
{
    if (!validName(app) || !validName(section))
        return {};
    return L"Software\\" + win32Widen(std::string(app)) + L"\\" + win32Widen(std::string(section));
}

Win32RegistryStore::Win32RegistryStore(std::string watchedApp) : m_watchedApp(std::move(watchedApp)) {}

Win32RegistryStore::~Win32RegistryStore() = default;

bool Win32RegistryStore::watch(ProgramEventSink* sink)
{
    m_watch.reset();
    if (sink == nullptr || !validName(m_watchedApp))
        return false;
    try {
        m_watch = std::make_unique<Win32RegistryWatch>(L"Software\\" + win32Widen(m_watchedApp), *sink);
        if (!m_watch->start())
            m_watch.reset();
    } catch (const std::bad_alloc&) {
        m_watch.reset();
    }
    return m_watch != nullptr;
}

StoreStatus Win32RegistryStore::fail(std::string reason)
{
    m_lastError = std::move(reason);
    return StoreStatus::Failed;
}

StoredText Win32RegistryStore::read(std::string_view app, std::string_view section, std::string_view key)
{
    m_lastError.clear();
    try {
        const std::wstring path = sectionPath(app, section);
        if (path.empty())
            return {fail("no such settings section"), {}};
        RegistryKey handle;
        LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, handle.out());
        if (status == ERROR_FILE_NOT_FOUND)
            return {StoreStatus::Missing, {}};
        if (status != ERROR_SUCCESS)
            return {fail("the registry refused the read: " + win32ErrorText(static_cast<unsigned long>(status))), {}};

        const std::wstring name = win32Widen(std::string(key));
        // Most values are a few characters: the first query uses the stack. A value that grows
        // between the size query and the read is asked for again.
        BYTE small[256];
        std::vector<BYTE> large;
        BYTE* data = small;
        DWORD size = sizeof small;
        DWORD type = REG_NONE;
        for (int attempt = 0; attempt < 4; ++attempt) {
            status = RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type, data, &size);
            if (status != ERROR_MORE_DATA)
                break;
            large.resize(size + sizeof(wchar_t));
            data = large.data();
            size = static_cast<DWORD>(large.size());
        }
        if (status == ERROR_FILE_NOT_FOUND)
            return {StoreStatus::Missing, {}};
        if (status != ERROR_SUCCESS)
            return {fail("the registry refused the read: " + win32ErrorText(static_cast<unsigned long>(status))), {}};
        // A value of another type is the value's fault, not the store's: no reason.
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return {StoreStatus::Failed, {}};
        return {StoreStatus::Ok, textOf(data, size)};
    } catch (const std::bad_alloc&) {
        return {fail("out of memory"), {}};
    }
}

StoreStatus Win32RegistryStore::save(std::string_view app, std::string_view section, std::string_view key,
                                     std::string_view value)
{
    m_lastError.clear();
    try {
        const std::wstring path = sectionPath(app, section);
        if (path.empty())
            return fail("no such settings section");
        RegistryKey handle;
        LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_SET_VALUE, nullptr, handle.out(), nullptr);
        if (status != ERROR_SUCCESS)
            return fail("the registry refused the write: " + win32ErrorText(static_cast<unsigned long>(status)));
        const std::wstring name = win32Widen(std::string(key));
        const std::wstring text = win32Widen(std::string(value));
        // One value is written in one call, so a reader sees the old text or the new one.
        const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        status = RegSetValueExW(handle.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                bytes);
        if (status != ERROR_SUCCESS)
            return fail("the registry refused the write: " + win32ErrorText(static_cast<unsigned long>(status)));
        return StoreStatus::Ok;
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}

StoreStatus Win32RegistryStore::whileLocked(std::string_view app, std::string_view section, std::string_view,
                                            const std::function<StoreStatus()>& locked)
{
    m_lastError.clear();
    try {
        const std::wstring name = L"Local\\" + win32Widen(std::string(app)) + L"." + win32Widen(std::string(section))
                                  + L".Update";
        HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
        if (mutex == nullptr)
            return fail("the settings lock is unavailable: " + win32ErrorText(GetLastError()));
        // A holder keeps it for one read and one write; one that died mid-way left it abandoned,
        // which hands it over.
        const DWORD waited = WaitForSingleObject(mutex, 2000);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
            CloseHandle(mutex);
            return fail("the settings stay locked by another process");
        }
        StoreStatus result = StoreStatus::Failed;
        try {
            result = locked();
        } catch (...) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
            throw;
        }
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return result;
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}

StoreStatus Win32RegistryStore::removeSection(std::string_view app, std::string_view section)
{
    m_lastError.clear();
    try {
        const std::wstring path = sectionPath(app, section);
        if (path.empty())
            return fail("no such settings section");
        const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
        if (status == ERROR_SUCCESS)
            return StoreStatus::Ok;
        if (status == ERROR_FILE_NOT_FOUND)
            return StoreStatus::Missing;
        return fail("the registry refused the removal: " + win32ErrorText(static_cast<unsigned long>(status)));
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}
