// A test fixture: a plain X window that appends every key and button event it receives to a
// log file, one line each, so end-to-end tests can tell what reached the focused application.
// Usage: key_probe <log file> [x y width height]

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <log file> [x y width height]\n", argv[0]);
        return 2;
    }
    std::FILE* log = std::fopen(argv[1], "a");
    if (!log) {
        std::perror(argv[1]);
        return 1;
    }
    const int x = argc > 5 ? std::atoi(argv[2]) : 100;
    const int y = argc > 5 ? std::atoi(argv[3]) : 100;
    const unsigned width = argc > 5 ? static_cast<unsigned>(std::atoi(argv[4])) : 400;
    const unsigned height = argc > 5 ? static_cast<unsigned>(std::atoi(argv[5])) : 300;

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, width, height, 0,
                                              BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, "pavro-probe");
    XSizeHints hints{};
    hints.flags = USPosition | PPosition;
    hints.x = x;
    hints.y = y;
    XSetWMNormalHints(display, window, &hints);
    XSelectInput(display, window,
                 KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask
                     | FocusChangeMask);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XMapWindow(display, window);

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case MapNotify:
            std::fprintf(log, "mapped 0x%lx\n", window);
            break;
        case KeyPress:
        case KeyRelease: {
            const KeySym keysym = XLookupKeysym(&event.xkey, 0);
            const char* name = XKeysymToString(keysym);
            std::fprintf(log, "%s %s state=0x%x\n", event.type == KeyPress ? "KeyPress" : "KeyRelease",
                         name ? name : "?", event.xkey.state);
            break;
        }
        case ButtonPress:
        case ButtonRelease:
            std::fprintf(log, "%s %u at %d,%d\n", event.type == ButtonPress ? "ButtonPress" : "ButtonRelease",
                         event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root);
            break;
        case FocusIn:
            std::fprintf(log, "FocusIn mode=%d\n", event.xfocus.mode);
            break;
        case ClientMessage:
            if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
                XCloseDisplay(display);
                std::fclose(log);
                return 0;
            }
            break;
        default:
            break;
        }
        std::fflush(log);
    }
}
