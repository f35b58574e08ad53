// A test driver: a flood of random key events sent with XTest at full speed over the five keys
// Pavro captures, the modifiers and a few ordinary keys, ending with every key up (the five
// released under Alt). Writes the events an application should receive (every key that is not
// one of the five, in order) to a file, one "KeyPress name" / "KeyRelease name" line each, to
// compare with the probe's log.
// At most one of Shift, Control and Alt is held at a time: the window manager owns the arrows
// under two of them together and binds Alt+space, and what it does with them is not under test
// here.
// Usage: key_flood <seed> <events> <expected file>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Key {
    KeySym keysym;
    bool engine;    // one of the five captured keys: never reaches the application
    bool modifier;  // Shift, Control or Alt: at most one held at a time
    KeyCode keycode = 0;
    bool down = false;
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <seed> <events> <expected file>\n", argv[0]);
        return 2;
    }
    std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)));
    const long events = std::strtol(argv[2], nullptr, 10);
    std::FILE* expected = std::fopen(argv[3], "w");
    Display* display = XOpenDisplay(nullptr);
    if (!expected || !display) {
        std::fprintf(stderr, "key_flood: cannot open %s\n", expected ? "the display" : argv[3]);
        return 1;
    }

    std::vector<Key> keys = {
        {XK_Left, true, false},      {XK_Up, true, false},        {XK_Right, true, false},
        {XK_Down, true, false},      {XK_Return, true, false},    {XK_Shift_L, false, true},
        {XK_Control_L, false, true}, {XK_Alt_L, false, true},     {XK_Num_Lock, false, false},
        {XK_a, false, false},        {XK_b, false, false},        {XK_c, false, false},
    };
    for (Key& key : keys) {
        key.keycode = XKeysymToKeycode(display, key.keysym);
        if (key.keycode == 0) {
            std::fprintf(stderr, "key_flood: no keycode for %s\n", XKeysymToString(key.keysym));
            return 1;
        }
    }

    auto send = [&](Key& key, bool press) {
        XTestFakeKeyEvent(display, key.keycode, press ? True : False, CurrentTime);
        key.down = press;
        if (!key.engine) {
            // Named as the probe names them: the keysym of the key's first level.
            const char* name = XKeysymToString(XkbKeycodeToKeysym(display, key.keycode, 0, 0));
            std::fprintf(expected, "%s %s\n", press ? "KeyPress" : "KeyRelease", name ? name : "?");
        }
    };

    std::uniform_int_distribution<std::size_t> pick(0, keys.size() - 1);
    for (long sent = 0; sent < events;) {
        Key& key = keys[pick(random)];
        if (key.down) {
            send(key, false);
        } else {
            bool modifierHeld = false;
            for (const Key& other : keys)
                modifierHeld = modifierHeld || (other.modifier && other.down);
            if (key.modifier && modifierHeld)
                continue;
            send(key, true);
        }
        ++sent;
        if (sent % 64 == 0)
            XFlush(display);
    }
    // The end: the five keys down, then Alt, then every release, so that each of the five goes
    // up under a modifier whatever the random part left held. Its last release is what must end
    // each press (an earlier one lost would leave nothing stuck once the key went down again).
    for (Key& key : keys) {
        if (key.modifier && key.down)
            send(key, false);
    }
    for (Key& key : keys) {
        if (key.engine && !key.down)
            send(key, true);
    }
    Key& alt = *std::find_if(keys.begin(), keys.end(), [](const Key& key) { return key.keysym == XK_Alt_L; });
    send(alt, true);
    for (Key& key : keys) {
        if (key.down && &key != &alt)
            send(key, false);
    }
    send(alt, false);
    XSync(display, False);
    std::fclose(expected);
    XCloseDisplay(display);
    return 0;
}
