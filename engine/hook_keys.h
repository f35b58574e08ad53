#pragma once

#include <cstdint>

#include "engine/pavro_state.h"
#include "platform/input_injector.h"
#include "platform/key_event_source.h"

/// Told when a key event made an arrow held while none was: the ticker has work from now on.
/// Runs on the key path, after the decision: it must not allocate, block or log.
class HeldArrowsListener {
public:
    virtual void arrowsStarted() noexcept = 0;

protected:
    ~HeldArrowsListener() = default;
};

/// Installs and removes the desktop-wide key capture and routes each event through
/// TranslateKey. Owns HookHandle.
class HookKeys final : public KeyEventSink {
public:
    HookKeys(PavroState& state, KeyEventSource& source, InputInjector& injector,
             HeldArrowsListener* listener = nullptr);

    /// Installs the capture and stores its handle (0 when the system refused). Call only
    /// while none is installed. Returns whether the capture is in place.
    bool HookOn();
    /// Removes the capture (harmless with none) and sets HookHandle to 0. First releases a
    /// left button that Enter pressed, and forgets held arrows: once the keys are no longer
    /// captured their releases can't be seen.
    void HookOff();
    /// Installs the capture again (the system may have dropped it) keeping what is still held:
    /// a key still down stays one press (a drag with Enter goes on); what the source can't
    /// vouch for is let go as HookOff does. Returns whether the capture is in place.
    bool Renew();
    /// Forgets held arrows and releases a left button that Enter pressed, leaving the capture
    /// and its claimed presses as they are: their releases, if they come, are still ours.
    void ReleaseHeldInput();
    /// The capture's callback: claimed events are dropped (1), others forwarded unchanged.
    std::intptr_t KeyboardProc(const KeyEvent& event) noexcept override;

private:
    PavroState& m_state;
    KeyEventSource& m_source;
    InputInjector& m_injector;
    HeldArrowsListener* m_listener;
};
