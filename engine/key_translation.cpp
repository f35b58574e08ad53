#include "engine/key_translation.h"

std::int16_t TranslateKey(PavroState& state, InputInjector& injector, std::uint32_t vkCode,
                          std::uint32_t message) noexcept
{
    const std::uint8_t bit = capturedKeyBit(vkCode);
    if (bit == 0)
        return 0;
    const bool isEnter = vkCode == kVkReturn;
    const bool claimed = claimKeyEvent(state.ClaimedPresses, bit, message);

    if (message == kWmKeyDown || message == kWmSysKeyDown) {
        if (message == kWmSysKeyDown)
            return 1;  // Alt held: claimed without effect
        if (isEnter) {
            // One press per hold: auto-repeat key-downs of a held Enter add none, so a hold
            // never turns into a stream of clicks (or a double click).
            if (!state.LeftButtonHeld) {
                injector.leftButtonDown();
                state.LeftButtonHeld = true;
            }
        } else {
            state.ArrowDown[vkCode - kVkLeft] = 1;
        }
        return 1;
    }

    if (message == kWmKeyUp || message == kWmSysKeyUp) {
        // A release ends what its press began whichever modifiers changed in between: Alt
        // pressed while an arrow or Enter is held turns its release into the system variant.
        // A release whose press was not ours (made before the capture, or while it was
        // off) belongs to the application that saw the press, so it passes on.
        if (!claimed) {
            if (!isEnter)
                state.ArrowDown[vkCode - kVkLeft] = 0;
            return 0;
        }
        if (isEnter) {
            if (state.LeftButtonHeld) {
                injector.leftButtonUp();
                state.LeftButtonHeld = false;
            }
        } else {
            state.ArrowDown[vkCode - kVkLeft] = 0;
        }
        return 1;
    }
    return 1;  // any other message for our keys: claimed, no effect
}
