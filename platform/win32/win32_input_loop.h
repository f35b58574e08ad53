#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/input_loop.h"
#include "platform/win32/win32_tick_timer.h"

class Win32CaptureWatch;

/// The input loop of the Windows build: one thread of its own that owns the whole key path.
/// It runs the core: the core installs the low-level keyboard hook from here, so the hook's
/// callback runs on this thread, hands each captured key to the core and returns the core's
/// decision itself (claimed: swallowed); the button is injected from inside the callback. The
/// same thread waits on the tick timer, armed for the core's next tick, and moves the pointer
/// when it expires. The UI thread only sends commands (switch, renew, suspend, release, new
/// motion) through a small fixed ring and an event, and waits for the answers it needs; the
/// loop never waits for the UI thread, and nothing on it allocates or logs.
///
/// The thread runs at THREAD_PRIORITY_TIME_CRITICAL: the system drops a low-level hook whose
/// callback is late (LowLevelHooksTimeout), and every key of the desktop waits for it; a late
/// tick is a visible hitch. Time-critical is the highest level of the normal priority class
/// and above the dynamic boosts of other processes' threads, so ordinary work on a busy
/// machine does not delay it; the thread spends nearly all its time waiting, and each wake-up
/// does a bounded amount of work (one key's decision and at most one injection, or the due
/// ticks, at most the core's catch-up), so it cannot starve the machine.
///
/// A Win32CaptureWatch given to it (the raw-input watchdog and WinEvents, on the UI thread) is
/// started while the capture is installed and stopped with it.
class Win32InputLoop final : public InputLoop {
public:
    /// Starts the thread that runs |core| from now on; the core and |watch| (may be null) must
    /// outlive the loop. |timer| is the loop's tick timer, used on the loop's thread only.
    Win32InputLoop(InputCore& core, Win32CaptureWatch* watch, Win32TickTimer& timer);
    Win32InputLoop(const Win32InputLoop&) = delete;
    Win32InputLoop& operator=(const Win32InputLoop&) = delete;
    /// Switches off (the capture and an injected button go) and ends the thread.
    ~Win32InputLoop() override;

    bool switchOn(std::string& reason) override;
    void switchOff() override;
    bool renewCapture(std::string& reason) override;
    void suspendCapture() override;
    void releaseHeldIfOutOfReach() override;
    void setMotion(const MotionSettings& motion) override;

    /// The loop thread's id (0 when it could not be started), e.g. to tell its events apart.
    DWORD threadId() const noexcept { return m_threadId; }

private:
    enum class CommandKind : std::uint8_t { SwitchOn, SwitchOff, Renew, Suspend, ReleaseHeld, Motion, Quit };
    struct Command {
        CommandKind kind = CommandKind::Quit;
        MotionSettings motion{};
    };
    /// Commands posted and not yet taken; the UI waits for room when the loop falls this far behind.
    static constexpr std::uint32_t kRingSize = 16;

    static DWORD WINAPI threadMain(LPVOID parameter);
    void run() noexcept;
    /// Runs |command| on the loop thread; false for Quit.
    bool execute(const Command& command) noexcept;
    void post(const Command& command);
    /// Posts |kind| and waits for the loop's answer; false with |reason| when the thread is missing.
    bool call(CommandKind kind, std::string* reason);

    InputCore& m_core;
    Win32CaptureWatch* m_watch;
    Win32TickTimer& m_timer;
    HANDLE m_wake = nullptr;     ///< auto-reset: a command is in the ring
    HANDLE m_answered = nullptr; ///< auto-reset: the command the UI waits for has run
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    // The ring: the UI thread writes the commands and m_posted, the loop thread m_taken.
    std::array<Command, kRingSize> m_ring{};
    std::atomic<std::uint32_t> m_posted{0};
    std::atomic<std::uint32_t> m_taken{0};
    // Set by the UI thread before a command it waits for, read by the loop thread meanwhile.
    std::string* m_reason = nullptr;
    bool m_answer = false;
    // The loop thread's own.
    std::int32_t m_intervalMs = 25;
};
