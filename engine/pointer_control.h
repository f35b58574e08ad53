#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/key_path_state.h"
#include "platform/input_injector.h"
#include "platform/input_loop.h"
#include "platform/key_event_source.h"
#include "platform/pointer.h"

/// The key path: owns the capture (through |source|), decides each key change (TranslateKey),
/// keeps what is held, injects the button and moves the pointer on a fixed tick grid (MoveTick).
/// Runs on the input loop's thread only; nothing here allocates, blocks or logs once built,
/// except install and removal of the capture, which the UI asked for.
///
/// Ticks: an arrow pressed from rest asks for a tick at once; from it, one every interval on a
/// fixed grid (deadline += interval). A loop woken late runs the ticks it missed, up to
/// kMaxCatchUp of them, and then starts the grid again from the time it was woken. While no
/// tick could change anything (MoveTickPending false) there is no deadline at all.
class PointerControl final : public InputCore {
public:
    static constexpr int kMaxCatchUp = 3;

    PointerControl(KeyEventSource& source, InputInjector& injector, Pointer& pointer);
    ~PointerControl() = default;
    PointerControl(const PointerControl&) = delete;
    PointerControl& operator=(const PointerControl&) = delete;

    bool switchOn(std::string& reason) override;
    void switchOff() override;
    bool renewCapture(std::string& reason) override;
    void suspendCapture() override;
    void releaseHeldIfOutOfReach() override;
    void setMotion(const MotionSettings& motion) noexcept override;
    std::optional<LoopTime> nextTick() const noexcept override;
    void runDue(LoopTime now) noexcept override;
    bool keyChanged(const KeyChange& change) noexcept override;

    /// The key path's state (held arrows, steps, the button, the capture's handle), to look at.
    const KeyPathState& state() const noexcept { return m_state; }
    std::int32_t intervalMs() const noexcept { return m_intervalMs; }

private:
    /// Forgets held arrows and releases a left button that Enter pressed, leaving the capture
    /// and its claimed presses as they are: their releases, if they come, are still ours.
    void releaseHeldInput() noexcept;
    void removeCapture();

    KeyEventSource& m_source;
    InputInjector& m_injector;
    Pointer& m_pointer;
    KeyPathState m_state;
    std::int32_t m_intervalMs = 25;
    /// The next tick's time on the grid, kAtOnce for a tick as soon as the loop runs, nothing
    /// while at rest.
    std::optional<LoopTime> m_due;
};
