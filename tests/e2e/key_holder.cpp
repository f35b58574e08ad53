// A test fixture: another program that holds the arrow keys and Enter (plain and with the lock
// modifiers) through passive grabs on the root window, so that Pavro cannot capture them.
// Prints "holding" once the grabs are in place, then waits until killed.

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdio>

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const Window root = DefaultRootWindow(display);
    const KeySym keys[] = {XK_Left, XK_Up, XK_Right, XK_Down, XK_Return};
    const unsigned lockStates[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
    for (KeySym key : keys) {
        for (unsigned modifiers : lockStates)
            XGrabKey(display, XKeysymToKeycode(display, key), modifiers, root, False, GrabModeAsync, GrabModeAsync);
    }
    XSync(display, False);
    std::printf("holding\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}
