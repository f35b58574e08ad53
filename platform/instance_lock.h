#pragma once

#include <cstdint>
#include <string>

class ProgramEventSink;

/// What a launch asks for: a plain launch switches pointer control (through the store, in the
/// copy that runs), the others show the running copy's settings window or end it.
enum class LaunchRequest : std::uint8_t { SwitchOnOff, ShowSettings, Exit };

/// The per-user, per-session single-instance lock of one program, and the channel by which a
/// later launch hands a request to the copy that holds it.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    /// Atomically takes the lock for the rest of the process's life. True when this process
    /// is now the only running copy; false when another live copy holds it. A lock left by a
    /// copy that crashed is taken over.
    virtual bool tryAcquire() = 0;
    /// For the copy that holds the lock: later launches' requests reach |sink|'s
    /// instanceRequest from now on, on the UI thread; none (nullptr): they are refused.
    virtual void setEventSink(ProgramEventSink* sink) { (void)sink; }
    /// For a launch that found the lock held: hands |request| to the copy that holds it and
    /// waits, a few seconds at most, until it was done. False with |reason| when that copy
    /// could not be reached or could not do it all.
    virtual bool forward(LaunchRequest request, std::string& reason)
    {
        (void)request;
        reason = "this system offers no way to reach the running copy";
        return false;
    }
};
