#include "engine/key_translation.h"

std::int16_t TranslateKey(PavroState& state, InputInjector& injector, std::uint32_t vkCode,
                          std::uint32_t message) noexcept
{
    if (vkCode == kVkReturn) {
        if (message == kWmKeyDown) {
            // Every key-down, auto-repeat included, is one more press: Enter held while the
            // arrows move the pointer drags.
            injector.leftButtonDown();
            state.LeftButtonHeld = true;
        } else if (message == kWmKeyUp) {
            injector.leftButtonUp();
            state.LeftButtonHeld = false;
        }
        return 1;
    }
    if (vkCode >= kVkLeft && vkCode <= kVkDown) {
        if (message == kWmKeyDown)
            state.ArrowDown[vkCode - kVkLeft] = 1;
        else if (message == kWmKeyUp)
            state.ArrowDown[vkCode - kVkLeft] = 0;
        return 1;
    }
    return 0;
}
