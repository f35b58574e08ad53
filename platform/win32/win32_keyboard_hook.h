#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/key_event_source.h"

/// The captured key of a virtual-key code: VK_LEFT..VK_DOWN and VK_RETURN; none for any other.
constexpr std::optional<CapturedKey> capturedKeyOfVk(DWORD vkCode) noexcept
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

/// The desktop-wide low-level keyboard hook (WH_KEYBOARD_LL), installed on the thread that
/// calls install(): the input loop's, which must retrieve its messages, since the system runs
/// the callback from there. The callback hands each captured key to the sink and returns the
/// sink's decision to the system (claimed: the key is swallowed); every other key passes
/// untouched. The system removes a hook whose callback is late (LowLevelHooksTimeout) without
/// telling anyone; Win32CaptureWatch notices that from the keyboard's raw input and the time of
/// the hook's last event, which this records.
///
/// One hook per process: the callback has no context argument.
class Win32KeyboardHook final : public KeyEventSource {
public:
    Win32KeyboardHook() = default;
    Win32KeyboardHook(const Win32KeyboardHook&) = delete;
    Win32KeyboardHook& operator=(const Win32KeyboardHook&) = delete;
    /// Removes a hook still installed, so no path out of the program leaves one behind.
    ~Win32KeyboardHook() override;

    std::uintptr_t install(KeySink& sink) override;
    void uninstall(std::uintptr_t handle) override;
    /// Keeps the claims of |claimed| whose keys are down (capturedKeysDown).
    std::uintptr_t reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                             std::uint8_t& stillDown) override;
    /// Formats the system's refusal: for the failure path, off the key path.
    std::string lastError() const override;

    /// The captured keys down now (capturedKeyBit bits): the system's key state, or the
    /// keyboard's raw input seen by the watch, since a key whose events the hook swallows
    /// may be missing from the system's state. Any thread.
    std::uint8_t capturedKeysDown() const noexcept;
    /// The watch's raw input of a captured key (any thread).
    void noteRawKey(CapturedKey key, bool down) noexcept;
    /// When the hook last saw any key event (GetTickCount), for the watch (any thread).
    static DWORD lastEventTime() noexcept;

private:
    HHOOK m_hook = nullptr;
    DWORD m_installError = 0;
    /// Captured keys down by the raw input, reset to what a renewal keeps.
    std::atomic<std::uint8_t> m_rawDown{0};
};
