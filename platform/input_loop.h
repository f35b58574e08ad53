#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/key_event_source.h"

/// What the motion needs from the settings: pixels per tick at the standard and the fast speed,
/// the milliseconds of uninterrupted movement after which the fast one applies, and the tick
/// interval in milliseconds that HoldTime grows by (ticks come at least 1 ms apart).
struct MotionSettings {
    std::int16_t stdStep = 0;
    std::int16_t fastStep = 0;
    std::int16_t fastAfter = 0;
    std::int32_t intervalMs = 25;
};

/// Nanoseconds on the monotonic clock the loop runs on.
using LoopTime = std::int64_t;

/// The key path's core as an input loop runs it: the capture, the decision for each key, the
/// held keys, the injected button and the ticks that move the pointer. Every call comes on the
/// loop's thread. The core owns its timing: after each call the loop asks nextTick() and sleeps
/// until then, or until a key or a command comes.
class InputCore : public KeySink {
public:
    /// Pointer control on: installs the capture. False with |reason| when the system refused;
    /// pointer control then stays on without keys, and renewCapture() may take them later.
    virtual bool switchOn(std::string& reason) = 0;
    /// Pointer control off: releases the injected button and held arrows, removes the capture.
    virtual void switchOff() = 0;
    /// While on: installs the capture again (the system may have dropped it), keeping what is
    /// still held. False with |reason| when the system refused. Nothing while off.
    virtual bool renewCapture(std::string& reason) = 0;
    /// Removes the capture and what it held, leaving pointer control on for renewCapture().
    virtual void suspendCapture() = 0;
    /// Lets go of the button and the held arrows when the pointer is out of the capture's
    /// reach (their releases would be unseen); the claims stay.
    virtual void releaseHeldIfOutOfReach() = 0;
    /// New steps and interval; the held keys and the tick grid carry on.
    virtual void setMotion(const MotionSettings& motion) noexcept = 0;
    /// When the next tick is due, or nothing while no tick could change anything. A time at or
    /// before the loop's clock (an arrow pressed from rest asks for a tick at once) is due now.
    virtual std::optional<LoopTime> nextTick() const noexcept = 0;
    /// Runs every tick due at |now|. Never allocates, blocks or logs.
    virtual void runDue(LoopTime now) noexcept = 0;

protected:
    ~InputCore() = default;
};

/// The UI thread's side of the input loop. Calls that need an answer wait for the loop's (the
/// UI thread may wait for the loop; the loop never waits for the UI thread); the others are
/// posted and return at once. Call from one thread only.
class InputLoop {
public:
    virtual ~InputLoop() = default;
    /// See InputCore::switchOn.
    virtual bool switchOn(std::string& reason) = 0;
    virtual void switchOff() = 0;
    virtual bool renewCapture(std::string& reason) = 0;
    virtual void suspendCapture() = 0;
    /// Posted.
    virtual void releaseHeldIfOutOfReach() = 0;
    /// Posted.
    virtual void setMotion(const MotionSettings& motion) = 0;
};
