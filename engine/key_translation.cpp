#include "engine/key_translation.h"

bool TranslateKey(KeyPathState& state, InputInjector& injector, const KeyChange& change) noexcept
{
    const bool isEnter = change.key == CapturedKey::Enter;
    const auto arrow = static_cast<std::size_t>(change.key);
    const bool claimed = claimKeyEvent(state.ClaimedPresses, change);

    if (change.down) {
        if (change.alt)
            return true;  // Alt held: claimed without effect
        if (isEnter) {
            // One press per hold: auto-repeat key-downs of a held Enter add none, so a hold
            // never turns into a stream of clicks (or a double click).
            if (!state.LeftButtonHeld) {
                injector.leftButtonDown();
                state.LeftButtonHeld = true;
            }
        } else {
            state.ArrowDown[arrow] = 1;
        }
        return true;
    }

    // A release ends what its press began whichever modifiers changed in between. A release
    // whose press was not ours (made before the capture, or while it was off) belongs to the
    // application that saw the press, so it passes on.
    if (!claimed) {
        if (!isEnter)
            state.ArrowDown[arrow] = 0;
        return false;
    }
    if (isEnter) {
        if (state.LeftButtonHeld) {
            injector.leftButtonUp();
            state.LeftButtonHeld = false;
        }
    } else {
        state.ArrowDown[arrow] = 0;
    }
    return true;
}
