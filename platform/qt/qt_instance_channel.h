#pragma once

#include <QObject>
#include <QString>

#include <string>

#include "platform/instance_lock.h"

class ProgramEventSink;
class QSocketNotifier;

/// The channel by which a later launch hands a request (--settings, --exit) to the running
/// copy: a Unix stream socket in the single-instance lock's private folder. One request per
/// connection, one line each way: "settings" or "exit", answered "ok" or "failed <reason>".
/// Only the lock's holder listens, so an old socket file left by a crash is its to replace.
class QtInstanceServer final {
public:
    QtInstanceServer() = default;
    ~QtInstanceServer();
    QtInstanceServer(const QtInstanceServer&) = delete;
    QtInstanceServer& operator=(const QtInstanceServer&) = delete;

    /// Listens at |path| from now on; false with |reason| when the system refused. Requests
    /// are read on the UI thread without blocking it, from this user's processes only.
    bool listen(const QString& path, std::string& reason);
    /// Where requests go; none (nullptr): they are refused.
    void setEventSink(ProgramEventSink* sink) { m_sink = sink; }

private:
    void acceptPending();
    /// The answer to one request line.
    std::string answer(const std::string& line);

    int m_listening = -1;
    QString m_path;
    QSocketNotifier* m_notifier = nullptr;
    QObject m_connections;  ///< parent of the open connections
    ProgramEventSink* m_sink = nullptr;
};

/// A later launch's side: sends |request| to the server at |path| and waits for its answer
/// (a few seconds at most). False with |reason| when it could not be reached, did not answer
/// or failed.
bool sendInstanceRequest(const QString& path, LaunchRequest request, std::string& reason);
