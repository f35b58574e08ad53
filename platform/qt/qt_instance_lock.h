#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

#include "platform/error_stream.h"
#include "platform/instance_lock.h"
#include "platform/qt/qt_instance_channel.h"

/// The single-instance lock: a QLockFile named after the program in the session's runtime
/// folder ($XDG_RUNTIME_DIR), or in a private 0700 folder /tmp/runtime-<uid> that this
/// class creates and checks when that is unset, not a private folder of this user (it is then
/// refused with a message) or can't hold the lock (a read-only mount). The lock dies with the
/// process; a lock whose holder can't be shown alive (left by a crash, empty after a power
/// loss, unreadable) is taken over. The holder listens on <program>.socket beside the lock for
/// later launches' requests; a launch that finds the lock held sends its request there.
class QtInstanceLock final : public InstanceLock {
public:
    /// |errors| hears why a folder was refused or the lock could not be placed (may be none).
    QtInstanceLock(QString programName, ErrorStream errors);
    bool tryAcquire() override;
    void setEventSink(ProgramEventSink* sink) override { m_server.setEventSink(sink); }
    bool forward(LaunchRequest request, std::string& reason) override;

private:
    enum class Attempt { Acquired, HeldByAnother, Unusable };
    Attempt tryIn(const QString& folder);
    /// Notes |folder| as the running copy's and says it holds the lock.
    Attempt heldIn(const QString& folder);
    QString socketPath() const;
    /// The fallback folder, created when needed; empty when no safe one could be had.
    QString fallbackFolder();
    void tell(const QString& text);

    QString m_programName;
    ErrorStream m_errors;
    std::unique_ptr<QLockFile> m_lock;
    /// The folder where the lock was taken or found held; empty when there is none.
    QString m_folder;
    QtInstanceServer m_server;
};
