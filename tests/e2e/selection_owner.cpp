// A test helper: prints the window that owns an X selection (for example _NET_SYSTEM_TRAY_S0,
// held by the tray panel once it is ready) and exits 0, or exits 1 when nobody owns it.
// Usage: selection_owner <selection name>

#include <X11/Xlib.h>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <selection name>\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    const Window owner = XGetSelectionOwner(display, XInternAtom(display, argv[1], False));
    XCloseDisplay(display);
    if (owner == None)
        return 1;
    std::printf("0x%lx\n", owner);
    return 0;
}
