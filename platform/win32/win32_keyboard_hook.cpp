#include "platform/win32/win32_keyboard_hook.h"

#include "platform/win32/win32_error.h"

namespace {

// The hook procedure has no context argument. Only the installing thread (the input loop's)
// sets g_sink and runs the procedure.
KeySink* g_sink = nullptr;
// When the hook last saw any key event (GetTickCount), read by the watch on the UI thread.
std::atomic<DWORD> g_lastHookTime{0};

// The whole desktop's input waits for this: one table lookup and the sink's decision (at most
// one injection), no allocation, no waiting. The event record is read only for HC_ACTION: for
// other codes lParam need not point at one.
LRESULT CALLBACK lowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && lParam != 0) {
        g_lastHookTime.store(GetTickCount(), std::memory_order_relaxed);
        const auto key = capturedKeyOfVk(reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode);
        if (key && g_sink != nullptr) {
            // Alt held turns the messages into the system-key variants (Wine leaves
            // LLKHF_ALTDOWN clear, so the message tells).
            const KeyChange change{*key, wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN,
                                   wParam == WM_SYSKEYDOWN || wParam == WM_SYSKEYUP};
            if (g_sink->keyChanged(change))
                return 1;
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

} // namespace

Win32KeyboardHook::~Win32KeyboardHook()
{
    uninstall(reinterpret_cast<std::uintptr_t>(m_hook));
}

std::uintptr_t Win32KeyboardHook::install(KeySink& sink)
{
    uninstall(reinterpret_cast<std::uintptr_t>(m_hook));
    m_rawDown.store(0, std::memory_order_relaxed);
    g_sink = &sink;
    // A low-level hook needs a module handle but no DLL: the callback runs in this process,
    // on this thread, from its message retrieval.
    m_hook = SetWindowsHookExW(WH_KEYBOARD_LL, lowLevelKeyboardProc, GetModuleHandleW(nullptr), 0);
    m_installError = m_hook == nullptr ? GetLastError() : 0;
    if (m_hook == nullptr)
        g_sink = nullptr;
    return reinterpret_cast<std::uintptr_t>(m_hook);
}

void Win32KeyboardHook::uninstall(std::uintptr_t handle)
{
    if (handle == 0 || reinterpret_cast<HHOOK>(handle) != m_hook)
        return;
    // A hook the system already dropped is just as gone.
    UnhookWindowsHookEx(m_hook);
    m_hook = nullptr;
    g_sink = nullptr;
}

std::uintptr_t Win32KeyboardHook::reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                                            std::uint8_t& stillDown)
{
    // Asked before the old hook goes: the raw input's picture is complete until then.
    const std::uint8_t held = static_cast<std::uint8_t>(claimed & capturedKeysDown());
    uninstall(handle);
    const std::uintptr_t installed = install(sink);
    // From here the raw input's picture starts with the presses kept.
    m_rawDown.store(installed != 0 ? held : 0, std::memory_order_relaxed);
    stillDown = installed != 0 ? held : 0;
    return installed;
}

std::string Win32KeyboardHook::lastError() const
{
    return win32ErrorText(m_installError);
}

std::uint8_t Win32KeyboardHook::capturedKeysDown() const noexcept
{
    std::uint8_t down = m_rawDown.load(std::memory_order_relaxed);
    for (const int vk : {VK_RETURN, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN})
        if ((GetAsyncKeyState(vk) & 0x8000) != 0)
            down |= capturedKeyBit(*capturedKeyOfVk(static_cast<DWORD>(vk)));
    return down;
}

void Win32KeyboardHook::noteRawKey(CapturedKey key, bool down) noexcept
{
    if (down)
        m_rawDown.fetch_or(capturedKeyBit(key), std::memory_order_relaxed);
    else
        m_rawDown.fetch_and(static_cast<std::uint8_t>(~capturedKeyBit(key)), std::memory_order_relaxed);
}

DWORD Win32KeyboardHook::lastEventTime() noexcept
{
    return g_lastHookTime.load(std::memory_order_relaxed);
}
