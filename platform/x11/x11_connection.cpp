#include "platform/x11/x11_connection.h"

#include <X11/Xlib.h>

X11Connection::X11Connection()
    : m_display(XOpenDisplay(nullptr))
{
}

unsigned long X11Connection::root() const noexcept
{
    return m_display ? DefaultRootWindow(m_display.get()) : None;
}

void X11Connection::Closer::operator()(Display* display) const noexcept
{
    XCloseDisplay(display);
}
