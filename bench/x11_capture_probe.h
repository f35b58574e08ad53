#pragma once

#include <X11/Xlib.h>

/// Tells whether another client holds an XInput2 passive grab of one key on the root window,
/// without another client ever meeting the trial grab: the trial grab and its release go out
/// in one write inside a server grab, and only then is the grab's answer read. (Core and
/// XInput2 grabs never conflict with each other in the server, so a core XGrabKey cannot see
/// an XInput2 capture.)
class X11CaptureProbe {
public:
    /// On |display|, which the probe then owns for its requests; the first master keyboard.
    explicit X11CaptureProbe(Display* display);
    bool valid() const { return m_opcode != 0 && m_keyboard != 0; }
    /// True when another client holds |keycode| with exactly |modifiers| on the keyboard.
    bool heldByAnother(unsigned keycode, unsigned modifiers);

private:
    Display* m_display;
    int m_opcode = 0;
    int m_keyboard = 0;
};
