#include "platform/win32/win32_capture_watch.h"

#include <ostream>

#include "platform/win32/win32_keyboard_hook.h"
#include "platform/win32/win32_window_messages.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroCaptureWatchWindow";
constexpr UINT_PTR kWatchdogTimer = 1;

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

} // namespace

Win32CaptureWatch::Win32CaptureWatch(Win32KeyboardHook& hook, HWND renewTarget, std::ostream* log)
    : m_hook(hook), m_renewTarget(renewTarget), m_log(log)
{
    m_window = win32MessageWindow(kWindowClass, windowProc, this);
}

Win32CaptureWatch::~Win32CaptureWatch()
{
    stop();
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

void Win32CaptureWatch::start()
{
    if (m_watching)
        return;
    m_watching = true;
    // The keyboard's raw input reaches this window even while it is hidden and another program
    // has the focus.
    RAWINPUTDEVICE keyboard{};
    keyboard.usUsagePage = 0x01;  // generic desktop controls
    keyboard.usUsage = 0x06;      // keyboard
    keyboard.dwFlags = RIDEV_INPUTSINK;
    keyboard.hwndTarget = m_window;
    m_rawInput = m_window != nullptr && RegisterRawInputDevices(&keyboard, 1, sizeof keyboard) != FALSE;
    // None in this process, whose own windows are in reach.
    g_inputChangedTarget = m_renewTarget;
    const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
    m_foregroundEvents =
        SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, inputChanged, 0, 0, flags);
    m_desktopEvents =
        SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr, inputChanged, 0, 0, flags);
}

void Win32CaptureWatch::stop()
{
    if (!m_watching)
        return;
    m_watching = false;
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
}

bool Win32CaptureWatch::hookSawAround(DWORD lastHookTime, DWORD rawTime)
{
    return static_cast<LONG>(lastHookTime - (rawTime - kWatchdogGraceMs)) >= 0;
}

void Win32CaptureWatch::onRawInput(LPARAM lParam)
{
    RAWINPUT input{};
    UINT size = sizeof input;
    if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lParam), RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER))
            == static_cast<UINT>(-1)
        || input.header.dwType != RIM_TYPEKEYBOARD)
        return;
    const auto key = capturedKeyOfVk(input.data.keyboard.VKey);
    if (!key)
        return;
    m_hook.noteRawKey(*key, (input.data.keyboard.Flags & RI_KEY_BREAK) == 0);
    // The message time is the input's; the hook runs before raw input is made, but give it the
    // grace in case its thread was late.
    const DWORD rawTime = static_cast<DWORD>(GetMessageTime());
    if (m_checkPending || hookSawAround(Win32KeyboardHook::lastEventTime(), rawTime))
        return;
    m_checkPending = true;
    m_rawTime = rawTime;
    SetTimer(m_window, kWatchdogTimer, kWatchdogGraceMs, nullptr);
}

void Win32CaptureWatch::onWatchdogTimer()
{
    KillTimer(m_window, kWatchdogTimer);
    m_checkPending = false;
    if (!m_watching || hookSawAround(Win32KeyboardHook::lastEventTime(), m_rawTime))
        return;
    if (m_log != nullptr)
        *m_log << "Pavro: the system dropped the key capture; it is installed again\n";
    if (m_renewTarget != nullptr)
        PostMessageW(m_renewTarget, kRenewKeyCaptureMessage, 0, 0);
}

LRESULT CALLBACK Win32CaptureWatch::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32CaptureWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == WM_INPUT)
            self->onRawInput(lParam);  // the system cleans the input up in the default processing
        else if (message == WM_TIMER && wParam == kWatchdogTimer) {
            self->onWatchdogTimer();
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
