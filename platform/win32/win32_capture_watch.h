#pragma once

#include <windows.h>

#include <iosfwd>

class Win32KeyboardHook;

/// Watches the key capture from the UI thread while it is installed on the input loop's.
///
/// A watchdog gets the keyboard's raw input (RIDEV_INPUTSINK): raw input of a captured key
/// with no hook event around it means the system dropped the hook, and the renew target is
/// sent kRenewKeyCaptureMessage (the program then lets go of what is held and has the loop
/// install the hook again). The raw input also tells the hook which captured keys are down.
///
/// It also listens for changes of the foreground window and of the input desktop (WinEvents,
/// out of context, delivered by the UI thread's message loop) and sends the renew target
/// kInputChangedMessage: a UAC prompt or an elevated window takes the keys' releases out of
/// the hook's sight, so the program lets go of what is held.
class Win32CaptureWatch {
public:
    /// Milliseconds that a hook event may be apart from the raw input of the same key.
    static constexpr DWORD kWatchdogGraceMs = 500;

    /// |renewTarget| is told; |log| (may be null) gets one line for each hook found dropped.
    Win32CaptureWatch(Win32KeyboardHook& hook, HWND renewTarget, std::ostream* log);
    Win32CaptureWatch(const Win32CaptureWatch&) = delete;
    Win32CaptureWatch& operator=(const Win32CaptureWatch&) = delete;
    ~Win32CaptureWatch();

    /// Starts watching (harmless while watching). Without raw input the capture still works,
    /// unwatched.
    void start();
    /// Stops watching (harmless while stopped).
    void stop();

    /// True when the hook saw an event at |lastHookTime| recent enough to account for raw
    /// input at |rawTime| (both GetTickCount-based milliseconds, wrap-around included).
    static bool hookSawAround(DWORD lastHookTime, DWORD rawTime);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void onRawInput(LPARAM lParam);
    void onWatchdogTimer();

    Win32KeyboardHook& m_hook;
    HWND m_renewTarget;
    std::ostream* m_log;
    HWND m_window = nullptr;  ///< message-only, on the UI thread
    bool m_watching = false;
    bool m_rawInput = false;
    HWINEVENTHOOK m_foregroundEvents = nullptr;
    HWINEVENTHOOK m_desktopEvents = nullptr;
    bool m_checkPending = false;
    DWORD m_rawTime = 0;  ///< the raw input the pending check is about
};
