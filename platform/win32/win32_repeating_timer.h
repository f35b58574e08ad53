#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/repeating_timer.h"

/// The UI thread's timer, which polls the settings store: a window timer on a message-only
/// window. Its ticks are dispatched by every message loop on the UI thread (the popup menu's,
/// a window move's), and a tick that arrives while the previous one is still running (a nested
/// loop inside it) is dropped. The system rounds its period up to its clock tick (about 15.6 ms)
/// and never goes below 10 ms: a poll needs no finer time. The pointer's ticks are the input
/// loop's (Win32TickTimer).
class Win32RepeatingTimer final : public RepeatingTimer {
public:
    /// A stopped timer of 25 ms whose ticks reach the thread that creates it.
    Win32RepeatingTimer();
    Win32RepeatingTimer(const Win32RepeatingTimer&) = delete;
    Win32RepeatingTimer& operator=(const Win32RepeatingTimer&) = delete;
    ~Win32RepeatingTimer() override;

    void setEventSink(TimerTickSink* sink) override { m_sink = sink; }
    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;
    void startNow() override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void tick();

    HWND m_window = nullptr;
    TimerTickSink* m_sink = nullptr;
    bool m_enabled = false;
    std::int32_t m_period = 25;
    bool m_inTick = false;
    bool m_tickPosted = false;
};
