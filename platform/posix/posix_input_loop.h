#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <semaphore>
#include <string>
#include <thread>

#include "platform/input_loop.h"
#include "platform/key_event_source.h"

/// The input loop on Linux: one thread of its own that owns the key path. It sleeps in poll()
/// on three descriptors: the command eventfd the UI thread rings, a timerfd armed (absolute,
/// CLOCK_MONOTONIC) for the core's next tick, and the key source's own descriptor. When it
/// wakes it handles, in this order, the commands, the keys (the source's dispatch(), which
/// calls the core) and the ticks due, then arms the timer for the next one.
///
/// The UI thread talks to it through a fixed ring of commands (one producer, one consumer, no
/// lock). switchOn, switchOff, renewCapture and suspendCapture wait for the loop's answer; the
/// others are posted. The loop never waits for the UI thread. Installing and removing the
/// capture allocate (they open connections and devices); keys and ticks never do.
///
/// The thread asks for real-time round-robin scheduling at the lowest priority (granted where
/// RLIMIT_RTPRIO or the user's rights allow it), else a raised nice level for itself, else runs
/// as it is; none of that is reported. (RealtimeKit over D-Bus is not asked: D-Bus is linked on the UI side only.)
class PosixInputLoop final : public InputLoop {
public:
    /// Starts the thread; the core and the source are touched only by it from now on.
    PosixInputLoop(InputCore& core, KeyEventSource& source);
    /// Switches off (the capture and its button go) and ends the thread.
    ~PosixInputLoop() override;
    PosixInputLoop(const PosixInputLoop&) = delete;
    PosixInputLoop& operator=(const PosixInputLoop&) = delete;

    /// False with a reason when the loop could not start (then nothing is ever captured).
    bool switchOn(std::string& reason) override;
    void switchOff() override;
    bool renewCapture(std::string& reason) override;
    void suspendCapture() override;
    void releaseHeldIfOutOfReach() override;
    void setMotion(const MotionSettings& motion) override;

    /// Runs |job| on the loop's thread between two wake-ups and returns once it ran. For tests
    /// and benchmarks (a capture's settle(), say); never on the key path.
    void runOnLoop(void (*job)(void*), void* context);

    /// How the thread is scheduled: "realtime", "nice" or "normal".
    const char* scheduling() const noexcept { return m_scheduling.load(); }

private:
    enum class Op : std::uint8_t { SwitchOn, SwitchOff, Renew, Suspend, ReleaseIfOutOfReach, Motion, Job, Stop };
    struct Command {
        Op op = Op::Stop;
        MotionSettings motion{};
        void (*job)(void*) = nullptr;
        void* context = nullptr;
        /// Where the answer goes, for the commands that wait for one.
        bool* result = nullptr;
        std::string* reason = nullptr;
    };
    static constexpr std::uint32_t kCapacity = 64;

    /// Queues |command| and rings the loop; with |wait|, returns once the loop handled it.
    void send(const Command& command, bool wait);
    void run() noexcept;
    void handleCommands() noexcept;
    void raisePriority() noexcept;
    void armTimer() noexcept;

    InputCore& m_core;
    KeyEventSource& m_source;
    int m_wake = -1;
    int m_timer = -1;
    std::array<Command, kCapacity> m_ring{};
    std::atomic<std::uint32_t> m_written{0};
    std::atomic<std::uint32_t> m_read{0};
    /// Given by the loop once a waiting command is handled.
    std::binary_semaphore m_answered{0};
    std::atomic<const char*> m_scheduling{"normal"};
    bool m_running = false;
    /// The loop's own: whether it ended on a Stop.
    bool m_stopped = false;
    std::thread m_thread;
};
