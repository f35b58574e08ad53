#pragma once

#include <csignal>

#include <QObject>
#include <QSocketNotifier>

#include <memory>

class ProgramEventSink;

/// Turns SIGTERM, SIGINT and SIGHUP into the sink's sessionEnding on the UI thread, so a
/// termination request runs the program's ordinary exit (settings saved, icon removed,
/// capture released) instead of killing it mid-way. A SIGHUP the program was started with
/// ignored (nohup) stays ignored.
///
/// SIGTSTP (Ctrl+Z in a terminal) stops the program as it would by default, but only after the
/// sink's suspendKeyCapture: a stopped process holding the key capture would freeze the
/// desktop's keyboard at the next arrow. Once continued (SIGCONT), the sink's renewKeyCapture
/// takes the capture back. This needs holdStopSignal() first in main(). One instance per process.
class QtExitSignals final : public QObject {
public:
    /// Keeps SIGTSTP pending until the UI thread takes it. Call before any thread starts (before
    /// the QApplication): every thread inherits the blocked signal. A SIGTSTP the program was
    /// started with ignored stays ignored and is not held.
    static void holdStopSignal();

    /// Installs the handlers at once; each signal reaches the sink from the event loop.
    QtExitSignals();
    ~QtExitSignals() override;
    QtExitSignals(const QtExitSignals&) = delete;
    QtExitSignals& operator=(const QtExitSignals&) = delete;

    /// Where the signals go from now on; none (nullptr): exit requests are swallowed, and a
    /// stop request just stops.
    void setEventSink(ProgramEventSink* sink) { m_sink = sink; }

private:
    /// Releases the capture, stops the process the default way unless a SIGCONT came since the
    /// request, and then takes the capture back.
    void stopUntilContinued();

    ProgramEventSink* m_sink = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    /// Readable while a held SIGTSTP is pending; -1 when none is held.
    int m_stopSignals = -1;
    std::unique_ptr<QSocketNotifier> m_stopNotifier;
    /// What each signal did before, put back on destruction; only those replaced are restored.
    struct sigaction m_previous[3] {};
    bool m_replaced[3] = {};
};
