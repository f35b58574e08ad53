#include "engine/key_translation.h"

namespace {

// Bit of PavroState::ClaimedPresses for each of our keys: the arrows by their ArrowDown
// index, Enter above them. 0 for every other code.
constexpr std::uint8_t claimBit(std::uint32_t vkCode) noexcept
{
    if (vkCode == kVkReturn)
        return 1u << 4;
    if (vkCode >= kVkLeft && vkCode <= kVkDown)
        return static_cast<std::uint8_t>(1u << (vkCode - kVkLeft));
    return 0;
}

} // namespace

std::int16_t TranslateKey(PavroState& state, InputInjector& injector, std::uint32_t vkCode,
                          std::uint32_t message) noexcept
{
    const std::uint8_t bit = claimBit(vkCode);
    if (bit == 0)
        return 0;
    const bool isEnter = vkCode == kVkReturn;

    if (message == kWmKeyDown || message == kWmSysKeyDown) {
        state.ClaimedPresses |= bit;
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
        if ((state.ClaimedPresses & bit) == 0) {
            if (!isEnter)
                state.ArrowDown[vkCode - kVkLeft] = 0;
            return 0;
        }
        state.ClaimedPresses &= static_cast<std::uint8_t>(~bit);
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
