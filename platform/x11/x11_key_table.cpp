#include "platform/x11/x11_key_table.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/keysym.h>

std::uint8_t vkForKeysym(unsigned long keysym) noexcept
{
    switch (keysym) {
    case XK_Return:
    case XK_KP_Enter:
        return 13;
    case XK_Left:
    case XK_KP_Left:
        return 37;
    case XK_Up:
    case XK_KP_Up:
        return 38;
    case XK_Right:
    case XK_KP_Right:
        return 39;
    case XK_Down:
    case XK_KP_Down:
        return 40;
    default:
        return 0;
    }
}

X11KeyTable::X11KeyTable()
    : m_vk(std::make_unique<std::array<Row, 256>>())
{
}

bool X11KeyTable::load(Display* display)
{
    for (Row& row : *m_vk)
        row.fill(0);
    m_anyState.fill(false);

    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    bool lookedUp = false;
    for (int keycode = minKeycode; keycode <= maxKeycode && keycode < 256; ++keycode) {
        for (unsigned state = 0; state < 256; ++state) {
            unsigned consumed = 0;
            KeySym keysym = NoSymbol;
            // Group 1 (state bits 13-14 clear): the group a user switches to does not move the
            // arrow keys in any common layout.
            if (!XkbLookupKeySym(display, static_cast<KeyCode>(keycode), state, &consumed, &keysym))
                continue;
            lookedUp = true;
            const std::uint8_t vk = vkForKeysym(keysym);
            (*m_vk)[static_cast<unsigned>(keycode)][state] = vk;
            if (vk != 0)
                m_anyState[static_cast<unsigned>(keycode)] = true;
        }
    }
    return lookedUp;
}
