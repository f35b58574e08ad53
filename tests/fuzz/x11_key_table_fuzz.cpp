// The X11 key table decoding arbitrary keycode/state pairs (4 bytes each), against the running
// X server's keymap (the test starts a private Xvfb). The table answers one of our codes or 0,
// exactly what a direct lookup of the keysym under the core modifier bits gives; keycodes
// outside the keymap are none of ours, and anyState agrees with the rows.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstring>

#include "platform/x11/x11_key_table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

Display* display = nullptr;
X11KeyTable* table = nullptr;
int minKeycode = 0;
int maxKeycode = 0;

std::uint8_t directLookup(std::uint32_t keycode, std::uint32_t state)
{
    if (keycode < static_cast<std::uint32_t>(minKeycode) || keycode > static_cast<std::uint32_t>(maxKeycode)
        || keycode > 255)
        return 0;
    unsigned consumed = 0;
    KeySym keysym = NoSymbol;
    if (!XkbLookupKeySym(display, static_cast<KeyCode>(keycode), state & 0xFFu, &consumed, &keysym))
        return 0;
    return vkForKeysym(keysym);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "fuzz_x11_key_table needs an X server ($DISPLAY)\n");
        std::exit(1);
    }
    table = new X11KeyTable;
    FUZZ_CHECK(table->load(display));
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return 0;
    std::uint32_t keycode = 0;
    std::uint32_t state = 0;
    std::memcpy(&keycode, data, 4);
    std::memcpy(&state, data + 4, 4);

    const std::uint8_t vk = table->vk(keycode, state);
    FUZZ_CHECK(vk == 0 || vk == 13 || (vk >= 37 && vk <= 40));
    FUZZ_CHECK(vk == directLookup(keycode, state));

    bool anyOfOurs = false;
    for (std::uint32_t modifiers = 0; modifiers < 256; ++modifiers)
        anyOfOurs = anyOfOurs || table->vk(keycode, modifiers) != 0;
    FUZZ_CHECK(table->anyState(keycode) == anyOfOurs);
    return 0;
}
