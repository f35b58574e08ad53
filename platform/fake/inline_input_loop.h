#pragma once

#include <string>

#include "platform/input_loop.h"

/// An input loop that runs the core on the calling thread, for tests: every call answers at
/// once. What is left to the loop itself is the timing, in afterChange(), called after every
/// call that may have changed when the next tick is due.
class InlineInputLoop : public InputLoop {
public:
    /// The core to run; before any other call.
    void attach(InputCore& core) { m_core = &core; }

    bool switchOn(std::string& reason) override
    {
        const bool on = m_core->switchOn(reason);
        afterChange();
        return on;
    }
    void switchOff() override
    {
        m_core->switchOff();
        afterChange();
    }
    bool renewCapture(std::string& reason) override
    {
        const bool renewed = m_core->renewCapture(reason);
        afterChange();
        return renewed;
    }
    void suspendCapture() override
    {
        m_core->suspendCapture();
        afterChange();
    }
    void releaseHeldIfOutOfReach() override
    {
        m_core->releaseHeldIfOutOfReach();
        afterChange();
    }
    void setMotion(const MotionSettings& motion) override
    {
        m_core->setMotion(motion);
        motionChanged(motion);
        afterChange();
    }

protected:
    InputCore& core() { return *m_core; }
    const InputCore& core() const { return *m_core; }
    /// The core's next tick may have changed: run or schedule it.
    virtual void afterChange() = 0;
    /// New motion values reached the core (a loop may follow the interval).
    virtual void motionChanged(const MotionSettings&) {}

private:
    InputCore* m_core = nullptr;
};
