#include "platform/win32/win32_input_injector.h"

#include <windows.h>

namespace {

// No position and no extra information: the click lands where the pointer is. The system
// refuses injection into windows of a higher integrity level (UIPI) without telling the
// caller; that click is simply not seen, as the interface allows.
void sendButton(DWORD flags) noexcept
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

} // namespace

void Win32InputInjector::leftButtonDown() noexcept
{
    sendButton(MOUSEEVENTF_LEFTDOWN);
}

void Win32InputInjector::leftButtonUp() noexcept
{
    sendButton(MOUSEEVENTF_LEFTUP);
}
