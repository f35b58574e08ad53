#include "platform/qt/qt_exit_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/form_event_sink.h"

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

}  // namespace

QtExitSignals::QtExitSignals()
{
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
    m_installed = true;
    for (int i = 0; i < 3; ++i) {
        struct sigaction& previous = m_previous[i];
        if (::sigaction(kExitSignals[i], nullptr, &previous) != 0) {
            m_installed = false;
            continue;
        }
        // nohup leaves SIGHUP ignored so the program outlives its terminal: keep it so. (A shell
        // also starts background jobs with SIGINT ignored; an interrupt still ends the program.)
        if (kExitSignals[i] == SIGHUP && previous.sa_handler == SIG_IGN)
            continue;
        m_replaced[i] = ::sigaction(kExitSignals[i], &action, nullptr) == 0;
        m_installed = m_replaced[i] && m_installed;
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
}
