#pragma once

#include <cstdint>
#include <string>

#include "platform/inline_input_loop.h"
#include "platform/key_event_source.h"
#include "platform/repeating_timer.h"

/// The input loop on the UI thread: the hook thread claims or passes each key at once and posts
/// the change here; this thread runs the core's decision and its ticks, which a repeating timer
/// of the loop's own (not the store's poll timer) delivers. Every call answers at once, as the
/// loop is this very thread.
///
/// It stands between the core and the hook (a key source itself), so that after every key change
/// it sees what the core now needs from the timer.
class Win32InputLoop final : public InlineInputLoop, public KeyEventSource, private KeySink, private TimerTickSink {
public:
    Win32InputLoop(KeyEventSource& hook, RepeatingTimer& timer);
    ~Win32InputLoop() override;
    Win32InputLoop(const Win32InputLoop&) = delete;
    Win32InputLoop& operator=(const Win32InputLoop&) = delete;

    // attach() takes the core, built over this loop as its key source.

    std::uintptr_t install(KeySink& sink) override;
    void uninstall(std::uintptr_t handle) override;
    std::uintptr_t reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                             std::uint8_t& stillDown) override;
    std::string lastError() const override { return m_hook.lastError(); }

private:
    bool keyChanged(const KeyChange& change) noexcept override;
    void Timer1_Timer() override;
    /// Runs or rests the timer for the core's next tick.
    void afterChange() override;
    void motionChanged(const MotionSettings& motion) override;

    KeyEventSource& m_hook;
    RepeatingTimer& m_timer;
    KeySink* m_sink = nullptr;
    std::int32_t m_periodMs = 25;
    bool m_running = false;
};
