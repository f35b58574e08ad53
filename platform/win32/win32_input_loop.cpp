#include "platform/win32/win32_input_loop.h"

#include "platform/win32/win32_capture_watch.h"

Win32InputLoop::Win32InputLoop(InputCore& core, Win32CaptureWatch* watch, Win32TickTimer& timer)
    : m_core(core), m_watch(watch), m_timer(timer)
{
    m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_wake != nullptr && m_answered != nullptr)
        m_thread = CreateThread(nullptr, 0, threadMain, this, 0, &m_threadId);
    if (m_thread == nullptr)
        m_threadId = 0;
}

Win32InputLoop::~Win32InputLoop()
{
    if (m_thread != nullptr) {
        call(CommandKind::Quit, nullptr);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
    if (m_watch != nullptr)
        m_watch->stop();
    for (HANDLE event : {m_wake, m_answered})
        if (event != nullptr)
            CloseHandle(event);
}

bool Win32InputLoop::switchOn(std::string& reason)
{
    const bool installed = call(CommandKind::SwitchOn, &reason);
    if (installed && m_watch != nullptr)
        m_watch->start();
    return installed;
}

void Win32InputLoop::switchOff()
{
    if (m_watch != nullptr)
        m_watch->stop();
    call(CommandKind::SwitchOff, nullptr);
}

bool Win32InputLoop::renewCapture(std::string& reason)
{
    // The watch's picture of the keys down is what the renewal keeps: it stays until then.
    const bool installed = call(CommandKind::Renew, &reason);
    if (m_watch != nullptr) {
        if (installed)
            m_watch->start();
        else
            m_watch->stop();
    }
    return installed;
}

void Win32InputLoop::suspendCapture()
{
    if (m_watch != nullptr)
        m_watch->stop();
    call(CommandKind::Suspend, nullptr);
}

void Win32InputLoop::releaseHeldIfOutOfReach()
{
    post(Command{CommandKind::ReleaseHeld, {}});
}

void Win32InputLoop::setMotion(const MotionSettings& motion)
{
    post(Command{CommandKind::Motion, motion});
}

void Win32InputLoop::post(const Command& command)
{
    if (m_thread == nullptr)
        return;
    const std::uint32_t posted = m_posted.load(std::memory_order_relaxed);
    // Full only when the loop has not run for a long while: the UI thread may wait for it.
    while (posted - m_taken.load(std::memory_order_acquire) >= kRingSize)
        Sleep(1);
    m_ring[posted % kRingSize] = command;
    m_posted.store(posted + 1, std::memory_order_release);
    SetEvent(m_wake);
}

bool Win32InputLoop::call(CommandKind kind, std::string* reason)
{
    if (m_thread == nullptr) {
        if (reason != nullptr)
            *reason = "the input loop's thread could not be started";
        return false;
    }
    m_reason = reason;
    m_answer = false;
    post(Command{kind, {}});
    // The event's signal orders the loop's writes (the answer, the reason) before what follows.
    WaitForSingleObject(m_answered, INFINITE);
    m_reason = nullptr;
    return m_answer;
}

DWORD WINAPI Win32InputLoop::threadMain(LPVOID parameter)
{
    static_cast<Win32InputLoop*>(parameter)->run();
    return 0;
}

bool Win32InputLoop::execute(const Command& command) noexcept
{
    // The core's install and removal of the capture may throw only when memory runs out; the
    // loop goes on, and the call that waits is answered "refused".
    bool answer = false;
    try {
        switch (command.kind) {
        case CommandKind::SwitchOn:
            answer = m_core.switchOn(*m_reason);
            break;
        case CommandKind::SwitchOff:
            m_core.switchOff();
            break;
        case CommandKind::Renew:
            answer = m_core.renewCapture(*m_reason);
            break;
        case CommandKind::Suspend:
            m_core.suspendCapture();
            break;
        case CommandKind::ReleaseHeld:
            m_core.releaseHeldIfOutOfReach();
            return true;
        case CommandKind::Motion:
            m_intervalMs = command.motion.intervalMs;
            m_core.setMotion(command.motion);
            return true;
        case CommandKind::Quit:
            // Whatever the program did before, no hook or pressed button outlives the loop.
            m_core.switchOff();
            break;
        }
    } catch (...) {
        answer = false;
    }
    m_answer = answer;
    SetEvent(m_answered);
    return command.kind != CommandKind::Quit;
}

void Win32InputLoop::run() noexcept
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    // The thread's message queue, for the hook's calls, exists before the first install.
    MSG message{};
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    const HANDLE timer = m_timer.handle();
    const HANDLE waits[2] = {m_wake, timer};
    const DWORD waitCount = timer != nullptr ? 2 : 1;
    bool stillDue = false;
    for (;;) {
        // Commands first, in the order the UI thread gave them.
        std::uint32_t taken = m_taken.load(std::memory_order_relaxed);
        while (taken != m_posted.load(std::memory_order_acquire)) {
            const Command command = m_ring[taken % kRingSize];
            m_taken.store(++taken, std::memory_order_release);
            if (!execute(command)) {
                m_timer.setMoving(false, m_intervalMs);
                return;
            }
        }
        const LoopTime now = Win32TickTimer::now();
        m_core.runDue(now);
        const std::optional<LoopTime> next = m_core.nextTick();
        m_timer.setMoving(next.has_value(), m_intervalMs);
        DWORD timeout = m_timer.arm(next, now);
        // A tick still due right after the due ticks ran would make this thread spin at its
        // priority: it waits a millisecond instead.
        if (timeout == 0 && stillDue)
            timeout = 1;
        stillDue = timeout == 0;
        MsgWaitForMultipleObjectsEx(waitCount, waits, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        // The hook's callbacks run in here: each key is decided and its button injected before
        // the callback returns; a tick it asked for (an arrow from rest) runs right after.
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}
