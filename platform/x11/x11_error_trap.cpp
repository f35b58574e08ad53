#include "platform/x11/x11_error_trap.h"

namespace {
// Xlib's error handler takes no user data: the innermost live trap is found through this.
// Traps are used on the UI thread only.
X11ErrorTrap* g_innermostTrap = nullptr;
}

X11ErrorTrap::X11ErrorTrap(Display* display)
    : m_display(display)
    , m_outer(g_innermostTrap)
{
    // Errors of requests sent before the scope belong to whoever sent them.
    XSync(m_display, False);
    m_previousHandler = XSetErrorHandler(&X11ErrorTrap::handle);
    g_innermostTrap = this;
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(m_display, False);
    g_innermostTrap = m_outer;
    XSetErrorHandler(m_previousHandler);
}

void X11ErrorTrap::sync()
{
    XSync(m_display, False);
}

int X11ErrorTrap::handle(Display* display, XErrorEvent* error)
{
    for (X11ErrorTrap* trap = g_innermostTrap; trap != nullptr; trap = trap->m_outer) {
        if (trap->m_display == display) {
            trap->m_errors.push_back({error->serial, error->error_code, error->request_code});
            return 0;
        }
    }
    // Not ours: the handler that was in place before the outermost trap decides.
    X11ErrorTrap* outermost = g_innermostTrap;
    while (outermost->m_outer != nullptr)
        outermost = outermost->m_outer;
    return outermost->m_previousHandler ? outermost->m_previousHandler(display, error) : 0;
}
