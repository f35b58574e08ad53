#include "platform/qt/qt_exit_signals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/program_event_sink.h"

namespace {

// The write end is used from the signal handler, where only async-signal-safe calls may run.
int g_signalSockets[2] = {-1, -1};
constexpr int kExitSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void forwardExitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[0], &byte, 1);
    errno = savedErrno;
}

sigset_t stopSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    return set;
}

}  // namespace

void QtExitSignals::holdStopSignal()
{
    struct sigaction current {};
    if (::sigaction(SIGTSTP, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return;
    const sigset_t stop = stopSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

QtExitSignals::QtExitSignals()
{
    // The stop signal is not handled but held pending (holdStopSignal): a SIGCONT that comes
    // before the UI thread takes it discards it, as the kernel does for every stop signal, so
    // no continue can ever come too early and leave the program stopped.
    sigset_t held;
    const sigset_t stop = stopSignalSet();
    if (::pthread_sigmask(SIG_BLOCK, nullptr, &held) == 0 && sigismember(&held, SIGTSTP) == 1) {
        // Only looked at, never read: reading would take the signal.
        m_stopSignals = ::signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
        if (m_stopSignals >= 0) {
            m_stopNotifier = std::make_unique<QSocketNotifier>(m_stopSignals, QSocketNotifier::Read);
            QObject::connect(m_stopNotifier.get(), &QSocketNotifier::activated, this,
                             [this] { stopUntilContinued(); });
        }
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSockets) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalSockets[1], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_signalSockets[1], bytes, sizeof bytes) > 0) {
        }
        if (m_sink)
            m_sink->sessionEnding();
    });

    struct sigaction action {};
    action.sa_handler = forwardExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        struct sigaction& previous = m_previous[i];
        if (::sigaction(kExitSignals[i], nullptr, &previous) != 0)
            continue;
        // nohup leaves SIGHUP ignored so the program outlives its terminal: keep it so. (A shell
        // also starts background jobs with SIGINT ignored; an interrupt still ends the program.)
        if (kExitSignals[i] == SIGHUP && previous.sa_handler == SIG_IGN)
            continue;
        m_replaced[i] = ::sigaction(kExitSignals[i], &action, nullptr) == 0;
    }
}

QtExitSignals::~QtExitSignals()
{
    for (int i = 0; i < 3; ++i) {
        if (m_replaced[i])
            ::sigaction(kExitSignals[i], &m_previous[i], nullptr);
    }
    m_notifier.reset();
    for (int& socket : g_signalSockets) {
        if (socket >= 0)
            ::close(socket);
        socket = -1;
    }
    m_stopNotifier.reset();
    if (m_stopSignals >= 0)
        ::close(m_stopSignals);
}

void QtExitSignals::stopUntilContinued()
{
    // Ungrabbed and released at the X server (or the input devices) before this returns.
    if (m_sink)
        m_sink->suspendKeyCapture();
    // Let through, the pending signal takes its default action on this thread: every thread of
    // the process stops, and the call returns once SIGCONT has continued it. Nothing happens
    // when a SIGCONT came meanwhile, or in a process group that no shell looks after (the
    // kernel discards the stop there, as it would without this).
    const sigset_t stop = stopSignalSet();
    ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
    ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    if (m_sink)
        m_sink->renewKeyCapture();
}
