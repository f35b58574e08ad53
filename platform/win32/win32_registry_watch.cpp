#include "platform/win32/win32_registry_watch.h"

#include "platform/program_event_sink.h"
#include "platform/win32/win32_window_messages.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroStoreWatchWindow";
// Posted by the watch thread: wParam kChanged or kLost.
constexpr UINT kWatchMessage = WM_APP + 1;
constexpr DWORD kKeyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

} // namespace

Win32RegistryWatch::Win32RegistryWatch(std::wstring path, ProgramEventSink& sink)
    : m_path(std::move(path)), m_sink(sink)
{
}

Win32RegistryWatch::~Win32RegistryWatch()
{
    if (m_thread != nullptr) {
        SetEvent(m_stop);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
    if (m_window != nullptr) {
        // Messages still queued for the window go with it.
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    for (HANDLE event : {m_stop, m_ready, m_parentChanged, m_keyChanged})
        if (event != nullptr)
            CloseHandle(event);
}

bool Win32RegistryWatch::start()
{
    const std::size_t split = m_path.rfind(L'\\');
    if (m_thread != nullptr || split == std::wstring::npos || split == 0)
        return false;
    m_window = win32MessageWindow(kWindowClass, windowProc, this);
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_parentChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_keyChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_window == nullptr || m_stop == nullptr || m_ready == nullptr || m_parentChanged == nullptr
        || m_keyChanged == nullptr)
        return false;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_path.substr(0, split).c_str(), 0, KEY_NOTIFY, &m_parent) != ERROR_SUCCESS)
        return false;
    m_thread = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
    if (m_thread == nullptr) {
        RegCloseKey(m_parent);
        m_parent = nullptr;
        return false;
    }
    // The thread always answers; after a refusal it has ended (and closed the keys).
    WaitForSingleObject(m_ready, INFINITE);
    if (!m_started) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    return m_started;
}

DWORD WINAPI Win32RegistryWatch::threadMain(LPVOID parameter)
{
    // A notification registered by a thread ends with that thread: this one registers every
    // notification it waits for.
    return static_cast<Win32RegistryWatch*>(parameter)->run() ? 0 : 1;
}

bool Win32RegistryWatch::run()
{
    m_started = watchParent() && reopenKey();
    SetEvent(m_ready);
    bool watching = m_started;
    const HANDLE events[] = {m_stop, m_parentChanged, m_keyChanged};
    while (watching) {
        const DWORD woken = WaitForMultipleObjects(3, events, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0)
            break;
        if (woken == WAIT_OBJECT_0 + 1)
            watching = watchParent() && reopenKey();
        else if (woken == WAIT_OBJECT_0 + 2)
            watching = watchKey() || reopenKey();  // deleted: watched again once it is back
        else
            watching = false;
        // Registered again before the sink reads: nothing after that read goes untold.
        post(watching ? kChanged : kLost);
    }
    closeKey();
    RegCloseKey(m_parent);
    m_parent = nullptr;
    return watching;
}

bool Win32RegistryWatch::watchParent()
{
    return RegNotifyChangeKeyValue(m_parent, FALSE, REG_NOTIFY_CHANGE_NAME, m_parentChanged, TRUE) == ERROR_SUCCESS;
}

bool Win32RegistryWatch::watchKey()
{
    return m_key != nullptr && RegNotifyChangeKeyValue(m_key, TRUE, kKeyFilter, m_keyChanged, TRUE) == ERROR_SUCCESS;
}

bool Win32RegistryWatch::reopenKey()
{
    // A handle to a key that was deleted stays valid but sees nothing of the key made again.
    closeKey();
    const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_NOTIFY, &m_key);
    if (opened != ERROR_SUCCESS) {
        m_key = nullptr;
        // Missing: the parent's notification tells when it is made.
        return opened == ERROR_FILE_NOT_FOUND;
    }
    const LSTATUS watched = RegNotifyChangeKeyValue(m_key, TRUE, kKeyFilter, m_keyChanged, TRUE);
    if (watched == ERROR_KEY_DELETED) {
        // Deleted since the open: the parent's notification has that already.
        closeKey();
        return true;
    }
    return watched == ERROR_SUCCESS;
}

void Win32RegistryWatch::closeKey()
{
    if (m_key == nullptr)
        return;
    RegCloseKey(m_key);
    m_key = nullptr;
    // WORKAROUND: closing a watched key signals its event (Wine does), which is no change.
    ResetEvent(m_keyChanged);
}

void Win32RegistryWatch::post(Post what)
{
    if (what == kChanged && m_changePosted.exchange(true))
        return;
    if (!PostMessageW(m_window, kWatchMessage, what, 0) && what == kChanged)
        m_changePosted = false;  // a full queue: the next change tries again
}

LRESULT CALLBACK Win32RegistryWatch::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32RegistryWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != kWatchMessage || self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (wParam == kChanged) {
        // Cleared first: a change while the sink reads is posted again.
        self->m_changePosted = false;
        self->m_sink.storeChanged(true);
    } else {
        self->m_sink.storeChanged(false);
    }
    return 0;
}
