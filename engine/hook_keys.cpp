#include "engine/hook_keys.h"

#include "engine/key_translation.h"

HookKeys::HookKeys(PavroState& state, KeyEventSource& source, InputInjector& injector)
    : m_state(state), m_source(source), m_injector(injector)
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

void HookKeys::HookOff()
{
    ReleaseHeldInput();
    m_state.ClaimedPresses = 0;
    m_source.uninstall(m_state.HookHandle);
    m_state.HookHandle = 0;
}

std::intptr_t HookKeys::KeyboardProc(const KeyEvent& event) noexcept
{
    if (event.code == kKeyActionCode && TranslateKey(m_state, m_injector, event.vkCode, event.message) == 1)
        return 1;
    return m_source.forward(m_state.HookHandle, event);
}
