#pragma once

#include <vector>

#include <X11/Xlib.h>

/// One protocol error the server sent back for a request of ours.
struct X11TrappedError {
    unsigned long serial = 0;  ///< the failing request's serial (NextRequest before it was sent)
    unsigned char errorCode = 0;
    unsigned char requestCode = 0;
};

/// Catches the X protocol errors of one connection while it lives, instead of Xlib's default
/// handler, which prints and exits. Xlib has one process-wide handler: this one is installed on
/// construction and the previous one restored on destruction; errors of other connections are
/// handed to the previous handler. Errors arrive asynchronously, so the destructor first syncs:
/// every request sent inside the scope is answered before the scope ends. Use only on the thread
/// that owns the connection, outside the key path (it allocates and makes a round trip).
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    /// Waits until the server has processed every request sent so far, so that errors() is complete.
    void sync();
    const std::vector<X11TrappedError>& errors() const noexcept { return m_errors; }

private:
    static int handle(Display* display, XErrorEvent* error);

    Display* m_display;
    int (*m_previousHandler)(Display*, XErrorEvent*) = nullptr;
    X11ErrorTrap* m_outer = nullptr;
    std::vector<X11TrappedError> m_errors;
};
