#include "platform/x11/x11_input_injector.h"

#include <X11/Xlib.h>

#include <X11/extensions/XTest.h>

namespace {
constexpr unsigned kLeftButton = 1;
}

X11InputInjector::X11InputInjector()
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    m_usable = m_connection.valid()
        && XTestQueryExtension(m_connection.display(), &eventBase, &errorBase, &major, &minor);
}

void X11InputInjector::leftButtonDown() noexcept
{
    sendLeftButton(true);
}

void X11InputInjector::leftButtonUp() noexcept
{
    sendLeftButton(false);
}

void X11InputInjector::sendLeftButton(bool pressed) noexcept
{
    if (!m_usable)
        return;
    Display* display = m_connection.display();
    XTestFakeButtonEvent(display, kLeftButton, pressed ? True : False, CurrentTime);
    // Sent now rather than whenever Xlib's buffer fills; flushing writes, it waits for no reply.
    XFlush(display);
}
