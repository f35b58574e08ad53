#include "platform/win32/win32_keyboard_hook.h"

#include <windows.h>

#include "platform/win32/win32_error.h"

namespace {

// The hook procedure has no context argument, so the one installed hook's sink and handle
// live here. Only the UI thread touches them: install/uninstall run on it, and the system
// calls the procedure on it.
KeyEventSink* g_sink = nullptr;
HHOOK g_hook = nullptr;

// Runs for every key event of the desktop while installed; the whole desktop's input waits
// for it, so it only packs the event and hands it to the sink (one table lookup and at most
// one injection there). vkCode is read only for HC_ACTION: for other codes lParam need not
// point at an event record.
LRESULT CALLBACK lowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    KeyEventSink* sink = g_sink;
    if (sink == nullptr)
        return CallNextHookEx(g_hook, nCode, wParam, lParam);
    std::uint32_t vkCode = 0;
    if (nCode == HC_ACTION && lParam != 0)
        vkCode = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode;
    const KeyEvent event{static_cast<std::int32_t>(nCode), static_cast<std::uint32_t>(wParam), vkCode,
                         static_cast<std::intptr_t>(lParam)};
    return static_cast<LRESULT>(sink->KeyboardProc(event));
}

} // namespace

Win32KeyboardHook::~Win32KeyboardHook()
{
    if (g_hook != nullptr)
        uninstall(reinterpret_cast<std::uintptr_t>(g_hook));
}

std::uintptr_t Win32KeyboardHook::install(KeyEventSink& sink)
{
    g_sink = &sink;
    // A low-level hook needs a module handle but no DLL: the callback runs in this process.
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, lowLevelKeyboardProc, GetModuleHandleA(nullptr), 0);
    if (hook == nullptr) {
        m_lastError = win32ErrorText(GetLastError());
        return 0;
    }
    if (g_hook != nullptr)
        UnhookWindowsHookEx(g_hook);
    g_hook = hook;
    m_lastError.clear();
    return reinterpret_cast<std::uintptr_t>(hook);
}

std::intptr_t Win32KeyboardHook::forward(std::uintptr_t handle, const KeyEvent& event) noexcept
{
    return static_cast<std::intptr_t>(CallNextHookEx(reinterpret_cast<HHOOK>(handle), event.code,
                                                     static_cast<WPARAM>(event.message),
                                                     static_cast<LPARAM>(event.native)));
}

void Win32KeyboardHook::uninstall(std::uintptr_t handle)
{
    if (handle == 0)
        return;
    HHOOK hook = reinterpret_cast<HHOOK>(handle);
    // The result is of no use: a hook the system already dropped (timeout, session change)
    // is just as gone.
    UnhookWindowsHookEx(hook);
    if (hook == g_hook) {
        g_hook = nullptr;
        g_sink = nullptr;
    }
}
