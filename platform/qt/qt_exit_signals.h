#pragma once

#include <csignal>

#include <QObject>
#include <QSocketNotifier>

#include <memory>

class FormEventSink;

/// Turns SIGTERM, SIGINT and SIGHUP into the sink's sessionEnding on the UI thread, so a
/// termination request runs the program's ordinary exit (settings saved, icon removed,
/// capture released) instead of killing it mid-way. A SIGHUP the program was started with
/// ignored (nohup) stays ignored. One instance per process.
class QtExitSignals final : public QObject {
public:
    /// Installs the handlers at once; each signal reaches the sink from the event loop.
    QtExitSignals();
    ~QtExitSignals() override;
    QtExitSignals(const QtExitSignals&) = delete;
    QtExitSignals& operator=(const QtExitSignals&) = delete;

    /// False when the handlers could not be installed (the signals then keep their defaults).
    bool installed() const { return m_installed; }
    /// Where the signals go from now on; none (nullptr): they are swallowed.
    void setEventSink(FormEventSink* sink) { m_sink = sink; }

private:
    FormEventSink* m_sink = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
    /// What each signal did before, put back on destruction; only those replaced are restored.
    struct sigaction m_previous[3] {};
    bool m_replaced[3] = {};
};
