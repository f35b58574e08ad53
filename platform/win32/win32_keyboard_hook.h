#pragma once

#include <cstdint>
#include <string>

#include "platform/key_event_source.h"

/// The desktop-wide low-level keyboard hook (WH_KEYBOARD_LL). The system calls the hook on
/// the thread that installed it, from that thread's message retrieval, so events reach the
/// sink on the UI thread. One hook per process: installing again replaces the sink.
class Win32KeyboardHook final : public KeyEventSource {
public:
    Win32KeyboardHook() = default;
    Win32KeyboardHook(const Win32KeyboardHook&) = delete;
    Win32KeyboardHook& operator=(const Win32KeyboardHook&) = delete;
    /// Removes a hook still installed, so no path out of the program leaves one behind.
    ~Win32KeyboardHook() override;

    std::uintptr_t install(KeyEventSink& sink) override;
    std::intptr_t forward(std::uintptr_t handle, const KeyEvent& event) noexcept override;
    void uninstall(std::uintptr_t handle) override;
    std::string lastError() const override { return m_lastError; }

private:
    std::string m_lastError;
};
