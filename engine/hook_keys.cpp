#include "engine/hook_keys.h"

#include "engine/key_translation.h"
#include "engine/motion_ticker.h"

HookKeys::HookKeys(PavroState& state, KeyEventSource& source, InputInjector& injector,
                   HeldArrowsListener* listener)
    : m_state(state), m_source(source), m_injector(injector), m_listener(listener)
{
}

bool HookKeys::HookOn()
{
    m_state.HookHandle = m_source.install(*this);
    return m_state.HookHandle != 0;
}

void HookKeys::ReleaseHeldInput()
{
    if (m_state.LeftButtonHeld) {
        m_injector.leftButtonUp();
        m_state.LeftButtonHeld = false;
    }
    m_state.ArrowDown.fill(0);
}

bool HookKeys::Renew()
{
    std::uint8_t stillDown = 0;
    m_state.HookHandle = m_source.reinstall(m_state.HookHandle, *this, m_state.ClaimedPresses, stillDown);
    if (m_state.HookHandle == 0)
        stillDown = 0;
    m_state.ClaimedPresses = stillDown;
    if (m_state.LeftButtonHeld && (stillDown & capturedKeyBit(kVkReturn)) == 0) {
        m_injector.leftButtonUp();
        m_state.LeftButtonHeld = false;
    }
    for (std::uint32_t vk = kVkLeft; vk < kVkLeft + 4; ++vk)
        if ((stillDown & capturedKeyBit(vk)) == 0)
            m_state.ArrowDown[vk - kVkLeft] = 0;
    return m_state.HookHandle != 0;
}

void HookKeys::HookOff()
{
    ReleaseHeldInput();
    m_state.ClaimedPresses = 0;
    m_source.uninstall(m_state.HookHandle);
    m_state.HookHandle = 0;
}

std::intptr_t HookKeys::KeyboardProc(const KeyEvent& event) noexcept
{
    if (event.code != kKeyActionCode)
        return m_source.forward(m_state.HookHandle, event);
    const bool atRest = !AnyArrowHeld(m_state);
    const auto claimed = TranslateKey(m_state, m_injector, event.vkCode, event.message);
    if (atRest && m_listener != nullptr && AnyArrowHeld(m_state))
        m_listener->arrowsStarted();
    if (claimed == 1)
        return 1;
    return m_source.forward(m_state.HookHandle, event);
}
