#include "engine/pointer_control.h"

#include <limits>

#include "engine/key_translation.h"
#include "engine/motion_ticker.h"

namespace {

// Before any time the loop's clock can show: a tick due at once.
constexpr LoopTime kAtOnce = std::numeric_limits<LoopTime>::min();
constexpr LoopTime kNanosecondsPerMs = 1'000'000;

} // namespace

PointerControl::PointerControl(KeyEventSource& source, InputInjector& injector, Pointer& pointer)
    : m_source(source), m_injector(injector), m_pointer(pointer)
{
}

bool PointerControl::switchOn(std::string& reason)
{
    m_state.on = true;
    if (m_state.captureHandle == 0)
        m_state.captureHandle = m_source.install(*this);
    if (m_state.captureHandle != 0)
        return true;
    reason = m_source.lastError();
    return false;
}

void PointerControl::switchOff()
{
    removeCapture();
    m_state.on = false;
    m_due.reset();
}

void PointerControl::suspendCapture() { removeCapture(); }

void PointerControl::removeCapture()
{
    // Once the keys are no longer captured their releases can't be seen: what they hold goes.
    releaseHeldInput();
    m_state.ClaimedPresses = 0;
    m_source.uninstall(m_state.captureHandle);
    m_state.captureHandle = 0;
}

bool PointerControl::renewCapture(std::string& reason)
{
    if (!m_state.on)
        return true;
    std::uint8_t stillDown = 0;
    m_state.captureHandle = m_source.reinstall(m_state.captureHandle, *this, m_state.ClaimedPresses, stillDown);
    if (m_state.captureHandle == 0)
        stillDown = 0;
    // A key still down stays one press (a drag with Enter goes on); what the source can't
    // vouch for is let go, as a removal does.
    m_state.ClaimedPresses = stillDown;
    if (m_state.LeftButtonHeld && (stillDown & capturedKeyBit(CapturedKey::Enter)) == 0) {
        m_injector.leftButtonUp();
        m_state.LeftButtonHeld = false;
    }
    for (int arrow = 0; arrow < kArrowCount; ++arrow)
        if ((stillDown & capturedKeyBit(static_cast<CapturedKey>(arrow))) == 0)
            m_state.ArrowDown[arrow] = 0;
    if (m_state.captureHandle != 0)
        return true;
    reason = m_source.lastError();
    return false;
}

void PointerControl::releaseHeldIfOutOfReach()
{
    // Enter held alone moves nothing, so no refused move would tell that its release is out of
    // sight (a secure desktop, an elevated window): the button and held arrows go now.
    if (!m_state.on || (!m_state.LeftButtonHeld && !AnyArrowHeld(m_state)) || m_pointer.inReach())
        return;
    releaseHeldInput();
}

void PointerControl::releaseHeldInput() noexcept
{
    if (m_state.LeftButtonHeld) {
        m_injector.leftButtonUp();
        m_state.LeftButtonHeld = false;
    }
    m_state.ArrowDown.fill(0);
}

void PointerControl::setMotion(const MotionSettings& motion) noexcept
{
    // CurStep is left to the next tick to pick.
    m_state.StdStep = motion.stdStep;
    m_state.FastStep = motion.fastStep;
    m_state.FastAfter = motion.fastAfter;
    m_intervalMs = motion.intervalMs;
}

bool PointerControl::keyChanged(const KeyChange& change) noexcept
{
    const bool atRest = !AnyArrowHeld(m_state);
    const bool claimed = TranslateKey(m_state, m_injector, change);
    // The first step comes right after the key that asked for it, not up to a tick later.
    if (atRest && m_state.on && AnyArrowHeld(m_state))
        m_due = kAtOnce;
    return claimed;
}

std::optional<LoopTime> PointerControl::nextTick() const noexcept
{
    if (!MoveTickPending(m_state))
        return std::nullopt;
    // Something else made a tick worth running (new steps): the grid starts at once.
    return m_due.value_or(kAtOnce);
}

void PointerControl::runDue(LoopTime now) noexcept
{
    // An interval of 0 (a refresh below half a millisecond) ticks as fast as 1 ms allows.
    const LoopTime interval = static_cast<LoopTime>(m_intervalMs < 1 ? 1 : m_intervalMs) * kNanosecondsPerMs;
    if (!m_due || *m_due == kAtOnce)
        m_due = now;
    for (int run = 0; MoveTickPending(m_state) && *m_due <= now; ++run) {
        if (run == kMaxCatchUp) {
            // Woken far too late: the missed steps are not made up in one burst.
            m_due = now + interval;
            break;
        }
        // A pointer out of reach also hides the keys' releases: nothing held may keep running.
        if (!MoveTick(m_state, m_pointer, m_intervalMs))
            releaseHeldInput();
        *m_due += interval;
    }
    if (!MoveTickPending(m_state))
        m_due.reset();
}
