#pragma once

#include <memory>

// Xlib's own names, declared without <X11/Xlib.h>: its macros (None, Bool, KeyPress, Status...)
// break Qt's headers when they come first, so headers that others include stay free of it.
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

/// One Xlib connection of our own, closed when the object goes. Closing it also drops every
/// grab and selection made through it, which is why each backend that grabs owns its own.
class X11Connection {
public:
    /// Opens the display named by $DISPLAY; valid() says whether that worked.
    X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    X11Connection(X11Connection&&) noexcept = default;
    X11Connection& operator=(X11Connection&&) noexcept = default;

    bool valid() const noexcept { return m_display != nullptr; }
    /// Null when the display could not be opened.
    Display* display() const noexcept { return m_display.get(); }
    /// The default screen's root Window; 0 (None) when not valid().
    unsigned long root() const noexcept;

private:
    struct Closer {
        void operator()(Display* display) const noexcept;
    };
    std::unique_ptr<Display, Closer> m_display;
};
