#pragma once

#include <windows.h>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/key_event_source.h"

/// The captured key a virtual-key code stands for (13 Enter, 37-40 the arrows), or none.
std::optional<CapturedKey> win32CapturedKey(std::uint32_t vkCode) noexcept;

/// The desktop-wide low-level keyboard hook (WH_KEYBOARD_LL) on a thread of its own.
///
/// The system removes a low-level hook whose callback is late (LowLevelHooksTimeout) without
/// telling anyone, so the callback runs on a raised-priority thread that does nothing else.
/// It decides claim or pass for the captured keys by the shared rule (claimKeyEvent) over
/// claimed-press bits that only it touches, and posts each captured key's event to a
/// message-only window on the installing (UI) thread; there the sink applies its effects
/// (held arrows, the injected button) and its claim decision comes out the same. Nothing in
/// the callback waits for the UI thread.
///
/// A watchdog on the UI thread gets the keyboard's raw input (RIDEV_INPUTSINK) while the hook
/// is installed: raw input of a captured key with no hook event around it means the system
/// dropped the hook, and the renew target is sent kRenewKeyCaptureMessage (the program then
/// clears its held keys, releases an injected button and installs the hook again).
///
/// While installed it also listens for changes of the foreground window and of the input
/// desktop (WinEvents, out of context, on the UI thread) and sends the renew target
/// kInputChangedMessage: a UAC prompt or an elevated window takes the keys' releases out of
/// the hook's sight, so the program lets go of what is held.
class Win32KeyboardHook final : public KeyEventSource {
public:
    /// Milliseconds that a hook event may be apart from the raw input of the same key.
    static constexpr DWORD kWatchdogGraceMs = 500;

    Win32KeyboardHook();
    Win32KeyboardHook(const Win32KeyboardHook&) = delete;
    Win32KeyboardHook& operator=(const Win32KeyboardHook&) = delete;
    /// Removes a hook still installed, so no path out of the program leaves one behind.
    ~Win32KeyboardHook() override;

    /// The window told when the hook was lost; |log| (may be null) gets one line each time.
    void setRenewTarget(HWND window, std::ostream* log)
    {
        m_renewTarget = window;
        m_log = log;
    }

    /// Starts the hook thread and waits until its hook is in place (or refused). The hook thread
    /// passes every key that is not claimed itself; the sink's answer is not needed.
    std::uintptr_t install(KeySink& sink) override;
    void uninstall(std::uintptr_t handle) override;
    /// The new hook starts with the claims of |claimed| whose keys are down (capturedKeysDown).
    std::uintptr_t reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                             std::uint8_t& stillDown) override;
    std::string lastError() const override { return m_lastError; }

    /// The captured keys down now (capturedKeyBit bits): the system's key state, or the
    /// keyboard's raw input seen while installed, since a key whose events the hook swallows
    /// may be missing from the system's state.
    std::uint8_t capturedKeysDown() const;

    /// True when the hook saw an event at |lastHookTime| recent enough to account for raw
    /// input at |rawTime| (both GetTickCount-based milliseconds, wrap-around included).
    static bool hookSawAround(DWORD lastHookTime, DWORD rawTime);

private:
    static DWORD WINAPI threadMain(LPVOID parameter);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void onRawInput(LPARAM lParam);
    void onWatchdogTimer();

    HWND m_window = nullptr;  ///< message-only, on the UI thread
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    HANDLE m_ready = nullptr;
    HHOOK m_hook = nullptr;
    DWORD m_installError = 0;
    KeySink* m_sink = nullptr;
    HWND m_renewTarget = nullptr;
    std::ostream* m_log = nullptr;
    bool m_rawInput = false;
    HWINEVENTHOOK m_foregroundEvents = nullptr;
    HWINEVENTHOOK m_desktopEvents = nullptr;
    bool m_checkPending = false;
    DWORD m_rawTime = 0;  ///< the raw input the pending check is about
    std::uint8_t m_rawDown = 0;     ///< captured keys down by the raw input
    std::uint8_t m_seedClaims = 0;  ///< claims the next hook thread starts with
    std::string m_lastError;
};
