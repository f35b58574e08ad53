#include "platform/qt/qt_exit_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/form_event_sink.h"

namespace {

// The write end is used from the signal handler, where only async-signal-safe calls may run.
int g_signalSockets[2] = {-1, -1};
// The stop signal last; the others ask for the exit.
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGTSTP};

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[0], &byte, 1);
    errno = savedErrno;
}

}  // namespace

static_assert(sizeof kSignals / sizeof kSignals[0] == 4, "one saved action per handled signal");

QtExitSignals::QtExitSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSockets) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalSockets[1], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        bool exit = false;
        bool stop = false;
        for (ssize_t got = 0; (got = ::read(g_signalSockets[1], bytes, sizeof bytes)) > 0;) {
            for (ssize_t i = 0; i < got; ++i)
                (bytes[i] == SIGTSTP ? stop : exit) = true;
        }
        if (exit) {
            if (m_sink)
                m_sink->sessionEnding();
        } else if (stop) {
            stopUntilContinued();
        }
    });

    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    for (int i = 0; i < kHandled; ++i) {
        struct sigaction& previous = m_previous[i];
        if (::sigaction(kSignals[i], nullptr, &previous) != 0) {
            m_installed = false;
            continue;
        }
        // nohup leaves SIGHUP ignored so the program outlives its terminal: keep it so, and a
        // SIGTSTP that whoever started the program chose to ignore. (A shell also starts
        // background jobs with SIGINT ignored; an interrupt still ends the program.)
        if ((kSignals[i] == SIGHUP || kSignals[i] == SIGTSTP) && previous.sa_handler == SIG_IGN)
            continue;
        m_replaced[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
        m_installed = m_replaced[i] && m_installed;
    }
}

QtExitSignals::~QtExitSignals()
{
    for (int i = 0; i < kHandled; ++i) {
        if (m_replaced[i])
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    m_notifier.reset();
    for (int& socket : g_signalSockets) {
        if (socket >= 0)
            ::close(socket);
        socket = -1;
    }
}

void QtExitSignals::stopUntilContinued()
{
    // Ungrabbed and released at the X server (or the input devices) before this returns.
    if (m_sink)
        m_sink->suspendKeyCapture();
    // The default action stops every thread of the process, and raise() returns once SIGCONT
    // has continued it. In a process group that no shell looks after the kernel discards the
    // stop, as it would without this handler: raise() returns at once and the capture comes
    // straight back.
    struct sigaction stopByDefault {};
    stopByDefault.sa_handler = SIG_DFL;
    sigemptyset(&stopByDefault.sa_mask);
    struct sigaction ours {};
    ::sigaction(SIGTSTP, &stopByDefault, &ours);
    ::raise(SIGTSTP);
    ::sigaction(SIGTSTP, &ours, nullptr);
    if (m_sink)
        m_sink->renewKeyCapture();
}
