#include "platform/posix/posix_input_loop.h"

#include <csignal>
#include <ctime>
#include <system_error>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr LoopTime kNanosecondsPerSecond = 1'000'000'000;

LoopTime monotonicNow() noexcept
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<LoopTime>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

void drain(int fd) noexcept
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof count);
}

} // namespace

PosixInputLoop::PosixInputLoop(InputCore& core, KeyEventSource& source) : m_core(core), m_source(source)
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_wake < 0 || m_timer < 0)
        return;
    try {
        m_thread = std::thread([this] { run(); });
        m_running = true;
    } catch (const std::system_error&) {
    }
}

PosixInputLoop::~PosixInputLoop()
{
    if (m_running) {
        switchOff();
        send(Command{Op::Stop}, true);
        m_thread.join();
    }
    if (m_wake >= 0)
        close(m_wake);
    if (m_timer >= 0)
        close(m_timer);
}

bool PosixInputLoop::switchOn(std::string& reason)
{
    if (!m_running) {
        reason = "the input loop could not start";
        return false;
    }
    bool result = false;
    send(Command{Op::SwitchOn, {}, nullptr, nullptr, &result, &reason}, true);
    return result;
}

void PosixInputLoop::switchOff()
{
    if (m_running)
        send(Command{Op::SwitchOff}, true);
}

bool PosixInputLoop::renewCapture(std::string& reason)
{
    if (!m_running) {
        reason = "the input loop could not start";
        return false;
    }
    bool result = false;
    send(Command{Op::Renew, {}, nullptr, nullptr, &result, &reason}, true);
    return result;
}

void PosixInputLoop::suspendCapture()
{
    if (m_running)
        send(Command{Op::Suspend}, true);
}

void PosixInputLoop::releaseHeldIfOutOfReach()
{
    if (m_running)
        send(Command{Op::ReleaseIfOutOfReach}, false);
}

void PosixInputLoop::setMotion(const MotionSettings& motion)
{
    if (m_running)
        send(Command{Op::Motion, motion}, false);
}

void PosixInputLoop::runOnLoop(void (*job)(void*), void* context)
{
    if (m_running)
        send(Command{Op::Job, {}, job, context}, true);
}

void PosixInputLoop::send(const Command& command, bool wait)
{
    const std::uint32_t written = m_written.load(std::memory_order_relaxed);
    // Full only when the loop fell kCapacity posted commands behind: the UI thread may wait for
    // the loop, so it waits for room.
    while (written - m_read.load(std::memory_order_acquire) >= kCapacity)
        std::this_thread::yield();
    m_ring[written % kCapacity] = command;
    m_written.store(written + 1, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t rang = write(m_wake, &one, sizeof one);
    if (wait)
        m_answered.acquire();
}

void PosixInputLoop::run() noexcept
{
    // Signals for the process (termination, Ctrl+Z) are the UI thread's to take: none of their
    // handlers runs here, and the poll below is never cut short by them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    raisePriority();
    pollfd watched[3] = {{m_wake, POLLIN, 0}, {m_timer, POLLIN, 0}, {-1, POLLIN, 0}};
    while (!m_stopped) {
        watched[2].fd = m_source.pollFd();
        watched[2].revents = 0;
        if (poll(watched, 3, -1) < 0)
            continue;
        if ((watched[0].revents & POLLIN) != 0) {
            drain(m_wake);
            handleCommands();
        }
        if (watched[2].fd >= 0 && watched[2].revents != 0) {
            try {
                m_source.dispatch();
            } catch (...) {
                // Out of memory while a keyboard was plugged in: the keys already there go on.
            }
        }
        if ((watched[1].revents & POLLIN) != 0)
            drain(m_timer);
        const LoopTime now = monotonicNow();
        if (const auto due = m_core.nextTick(); due && *due <= now)
            m_core.runDue(now);
        armTimer();
    }
}

void PosixInputLoop::handleCommands() noexcept
{
    std::uint32_t read = m_read.load(std::memory_order_relaxed);
    bool capture = false;
    while (read != m_written.load(std::memory_order_acquire)) {
        const Command command = m_ring[read % kCapacity];
        m_read.store(++read, std::memory_order_release);
        bool answer = true;
        try {
            switch (command.op) {
            case Op::SwitchOn: *command.result = m_core.switchOn(*command.reason); break;
            case Op::SwitchOff: m_core.switchOff(); break;
            case Op::Renew: *command.result = m_core.renewCapture(*command.reason); break;
            case Op::Suspend: m_core.suspendCapture(); break;
            case Op::ReleaseIfOutOfReach: m_core.releaseHeldIfOutOfReach(); answer = false; break;
            case Op::Motion: m_core.setMotion(command.motion); answer = false; break;
            case Op::Job: command.job(command.context); break;
            case Op::Stop: m_stopped = true; break;
            }
        } catch (...) {
            // A capture that ran out of memory while installing: it reports as refused.
            if (command.result != nullptr)
                *command.result = false;
        }
        capture = capture || command.op == Op::SwitchOn || command.op == Op::Renew;
        if (answer)
            m_answered.release();
    }
    // A fresh capture may have work before its descriptor says so (X11: the check of a reused
    // grab plan); done after the answer, so the switch does not wait for it.
    if (capture) {
        try {
            m_source.dispatch();
        } catch (...) {
        }
    }
}

void PosixInputLoop::armTimer() noexcept
{
    itimerspec spec{};
    if (const auto due = m_core.nextTick()) {
        // At or before now is due at once; the timerfd reads 0 as "disarm", so 1 ns stands in.
        const LoopTime at = *due > 0 ? *due : 1;
        spec.it_value.tv_sec = static_cast<time_t>(at / kNanosecondsPerSecond);
        spec.it_value.tv_nsec = static_cast<long>(at % kNanosecondsPerSecond);
    }
    timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void PosixInputLoop::raisePriority() noexcept
{
    // Keys and ticks must not wait a time slice behind ordinary work: round-robin real time at
    // the lowest priority, which the kernel grants when RLIMIT_RTPRIO allows it (or the user
    // may set any priority), else a better nice level for this thread.
    sched_param param{};
    param.sched_priority = 1;
    if (pthread_setschedparam(pthread_self(), SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0) {
        m_scheduling.store("realtime");
        return;
    }
    // On Linux a nice level belongs to the thread (its task id) that sets it.
    for (const int nice : {-10, -5, -1}) {
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0) {
            m_scheduling.store("nice");
            return;
        }
    }
}
