#include "platform/win32/win32_keyboard_hook.h"

#include <atomic>
#include <ostream>

#include "platform/win32/win32_error.h"
#include "platform/win32/win32_window_messages.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroKeyWindow";
// A captured key's change, posted by the hook thread: wParam packs it (packKeyChange).
constexpr UINT kKeyMessage = WM_APP + 1;
constexpr UINT_PTR kWatchdogTimer = 1;

// The hook procedure has no context argument. The hook thread alone touches g_claims and
// calls the procedure; g_target is set before the thread starts and stays while it runs.
std::uint8_t g_claims = 0;
HWND g_target = nullptr;
// When the hook last saw any key event (GetTickCount), read by the watchdog.
std::atomic<DWORD> g_lastHookTime{0};
// Where foreground and desktop changes are told; the UI thread alone touches it.
HWND g_inputChangedTarget = nullptr;

#ifndef EVENT_SYSTEM_DESKTOPSWITCH
constexpr DWORD EVENT_SYSTEM_DESKTOPSWITCH = 0x0020;
#endif

void CALLBACK inputChanged(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD)
{
    if (g_inputChangedTarget != nullptr)
        PostMessageW(g_inputChangedTarget, kInputChangedMessage, 0, 0);
}

WPARAM packKeyChange(const KeyChange& change)
{
    return static_cast<WPARAM>(change.key) | (change.down ? 0x100u : 0u) | (change.alt ? 0x200u : 0u);
}

KeyChange unpackKeyChange(WPARAM packed)
{
    return {static_cast<CapturedKey>(packed & 0xFFu), (packed & 0x100u) != 0, (packed & 0x200u) != 0};
}

// The whole desktop's input waits for this: one table lookup and one post, no allocation,
// no waiting. vkCode is read only for HC_ACTION: for other codes lParam need not point at
// an event record. Any message other than a key's down or up passes untouched.
LRESULT CALLBACK lowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && lParam != 0) {
        g_lastHookTime.store(GetTickCount(), std::memory_order_relaxed);
        const DWORD vkCode = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode;
        const auto key = win32CapturedKey(vkCode);
        const bool down = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
        if (key && (down || wParam == WM_KEYUP || wParam == WM_SYSKEYUP)) {
            const KeyChange change{*key, down, wParam == WM_SYSKEYDOWN || wParam == WM_SYSKEYUP};
            const bool claimed = claimKeyEvent(g_claims, change);
            PostMessageW(g_target, kKeyMessage, packKeyChange(change), 0);
            if (claimed)
                return 1;
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

} // namespace

Win32KeyboardHook::Win32KeyboardHook()
{
    m_window = win32MessageWindow(kWindowClass, windowProc, this);
    m_ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

Win32KeyboardHook::~Win32KeyboardHook()
{
    if (m_hook != nullptr)
        uninstall(reinterpret_cast<std::uintptr_t>(m_hook));
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_ready != nullptr)
        CloseHandle(m_ready);
}

DWORD WINAPI Win32KeyboardHook::threadMain(LPVOID parameter)
{
    auto* self = static_cast<Win32KeyboardHook*>(parameter);
    // Late callbacks cost the hook: this thread goes before the program's other work.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    MSG message{};
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue for the quit message
    // A renewal while keys are held: those presses stay claimed, so an auto-repeat is not a
    // new press and the release goes where the press went.
    g_claims = self->m_seedClaims;
    // A low-level hook needs a module handle but no DLL: the callback runs in this process,
    // on this thread, from its message retrieval below.
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, lowLevelKeyboardProc, GetModuleHandleW(nullptr), 0);
    self->m_hook = hook;
    self->m_installError = hook == nullptr ? GetLastError() : 0;
    SetEvent(self->m_ready);
    if (hook == nullptr)
        return 1;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    }
    UnhookWindowsHookEx(hook);
    return 0;
}

std::uintptr_t Win32KeyboardHook::install(KeySink& sink)
{
    if (m_hook != nullptr)
        uninstall(reinterpret_cast<std::uintptr_t>(m_hook));
    if (m_window == nullptr || m_ready == nullptr) {
        m_lastError = "the key capture's window could not be made";
        return 0;
    }
    m_sink = &sink;
    g_target = m_window;
    m_hook = nullptr;
    m_rawDown = m_seedClaims;
    m_thread = CreateThread(nullptr, 0, threadMain, this, 0, &m_threadId);
    if (m_thread == nullptr) {
        m_lastError = win32ErrorText(GetLastError());
        return 0;
    }
    // The thread always signals, hook or not; after a refusal it has already ended.
    WaitForSingleObject(m_ready, INFINITE);
    if (m_hook == nullptr) {
        m_lastError = win32ErrorText(m_installError);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
        return 0;
    }
    // The watchdog: the keyboard's raw input reaches this window even while it is hidden
    // and another program has the focus. Without it the capture still works, unwatched.
    RAWINPUTDEVICE keyboard{};
    keyboard.usUsagePage = 0x01;  // generic desktop controls
    keyboard.usUsage = 0x06;      // keyboard
    keyboard.dwFlags = RIDEV_INPUTSINK;
    keyboard.hwndTarget = m_window;
    m_rawInput = RegisterRawInputDevices(&keyboard, 1, sizeof keyboard) != FALSE;
    // Delivered by this (the UI) thread's message loop; none in this process, whose own
    // windows are in reach.
    g_inputChangedTarget = m_renewTarget;
    const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
    m_foregroundEvents =
        SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, inputChanged, 0, 0, flags);
    m_desktopEvents =
        SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr, inputChanged, 0, 0, flags);
    m_lastError.clear();
    return reinterpret_cast<std::uintptr_t>(m_hook);
}

void Win32KeyboardHook::uninstall(std::uintptr_t handle)
{
    if (handle == 0 || reinterpret_cast<HHOOK>(handle) != m_hook)
        return;
    if (m_rawInput) {
        RAWINPUTDEVICE keyboard{};
        keyboard.usUsagePage = 0x01;
        keyboard.usUsage = 0x06;
        keyboard.dwFlags = RIDEV_REMOVE;
        RegisterRawInputDevices(&keyboard, 1, sizeof keyboard);
        m_rawInput = false;
    }
    for (HWINEVENTHOOK* events : {&m_foregroundEvents, &m_desktopEvents})
        if (*events != nullptr) {
            UnhookWinEvent(*events);
            *events = nullptr;
        }
    KillTimer(m_window, kWatchdogTimer);
    m_checkPending = false;
    // The thread removes its hook (a hook the system already dropped is just as gone) and ends.
    PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_hook = nullptr;
    // Events posted before the hook went belong to the capture that ended with it.
    MSG stale{};
    while (PeekMessageW(&stale, m_window, kKeyMessage, kKeyMessage, PM_REMOVE)) {
    }
    m_sink = nullptr;
}

std::optional<CapturedKey> win32CapturedKey(std::uint32_t vkCode) noexcept
{
    switch (vkCode) {
    case VK_LEFT: return CapturedKey::Left;
    case VK_UP: return CapturedKey::Up;
    case VK_RIGHT: return CapturedKey::Right;
    case VK_DOWN: return CapturedKey::Down;
    case VK_RETURN: return CapturedKey::Enter;
    default: return std::nullopt;
    }
}

std::uintptr_t Win32KeyboardHook::reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                                            std::uint8_t& stillDown)
{
    // Asked before the old hook goes: the raw input's picture is complete until then.
    const std::uint8_t held = static_cast<std::uint8_t>(claimed & capturedKeysDown());
    uninstall(handle);
    m_seedClaims = held;
    const std::uintptr_t installed = install(sink);
    m_seedClaims = 0;
    stillDown = installed != 0 ? held : 0;
    return installed;
}

std::uint8_t Win32KeyboardHook::capturedKeysDown() const
{
    std::uint8_t down = m_rawDown;
    for (const int vk : {VK_RETURN, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN})
        if ((GetAsyncKeyState(vk) & 0x8000) != 0)
            down |= capturedKeyBit(*win32CapturedKey(static_cast<std::uint32_t>(vk)));
    return down;
}

bool Win32KeyboardHook::hookSawAround(DWORD lastHookTime, DWORD rawTime)
{
    return static_cast<LONG>(lastHookTime - (rawTime - kWatchdogGraceMs)) >= 0;
}

void Win32KeyboardHook::onRawInput(LPARAM lParam)
{
    RAWINPUT input{};
    UINT size = sizeof input;
    if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER))
            == static_cast<UINT>(-1)
        || input.header.dwType != RIM_TYPEKEYBOARD || !win32CapturedKey(input.data.keyboard.VKey))
        return;
    const std::uint8_t bit = capturedKeyBit(*win32CapturedKey(input.data.keyboard.VKey));
    if ((input.data.keyboard.Flags & RI_KEY_BREAK) != 0)
        m_rawDown = static_cast<std::uint8_t>(m_rawDown & ~bit);
    else
        m_rawDown |= bit;
    // The message time is the input's; the hook runs before raw input is made, but give it the
    // grace in case its thread was late.
    const DWORD rawTime = static_cast<DWORD>(GetMessageTime());
    if (m_checkPending || hookSawAround(g_lastHookTime.load(std::memory_order_relaxed), rawTime))
        return;
    m_checkPending = true;
    m_rawTime = rawTime;
    SetTimer(m_window, kWatchdogTimer, kWatchdogGraceMs, nullptr);
}

void Win32KeyboardHook::onWatchdogTimer()
{
    KillTimer(m_window, kWatchdogTimer);
    m_checkPending = false;
    if (m_hook == nullptr || hookSawAround(g_lastHookTime.load(std::memory_order_relaxed), m_rawTime))
        return;
    if (m_log != nullptr)
        *m_log << "Pavro: the system dropped the key capture; it is installed again\n";
    if (m_renewTarget != nullptr)
        PostMessageW(m_renewTarget, kRenewKeyCaptureMessage, 0, 0);
}

LRESULT CALLBACK Win32KeyboardHook::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32KeyboardHook*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        switch (message) {
        case kKeyMessage:
            if (self->m_sink != nullptr)
                self->m_sink->keyChanged(unpackKeyChange(wParam));
            return 0;
        case WM_INPUT:
            self->onRawInput(lParam);
            break;  // the system cleans the input up in the default processing
        case WM_TIMER:
            if (wParam == kWatchdogTimer)
                self->onWatchdogTimer();
            return 0;
        default:
            break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
