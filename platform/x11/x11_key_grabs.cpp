#include "platform/x11/x11_key_grabs.h"

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include "platform/x11/x11_error_trap.h"

namespace {

// The keys whose unmodified grabs the capture cannot do without.
constexpr KeySym kEssentialKeysyms[] = {XK_Left, XK_Up, XK_Right, XK_Down, XK_Return};

std::vector<XIGrabModifiers> modifierList(const std::bitset<256>& states)
{
    std::vector<XIGrabModifiers> list;
    for (int state = 0; state < 256; ++state)
        if (states[static_cast<std::size_t>(state)])
            list.push_back({state, 0});
    return list;
}

} // namespace

void X11KeyGrabs::plan(Display* display, const X11KeyTable& table)
{
    m_keys.clear();
    m_essential.clear();
    for (unsigned keycode = 0; keycode < 256; ++keycode) {
        if (!table.anyState(keycode))
            continue;
        Key key{keycode, {}, {}};
        for (unsigned state = 0; state < 256; ++state)
            key.wanted[state] = table.vk(keycode, state) != 0;
        m_keys.push_back(key);
    }
    for (KeySym keysym : kEssentialKeysyms)
        if (const KeyCode keycode = XKeysymToKeycode(display, keysym); keycode != 0)
            m_essential.push_back(keycode);
    m_numLock = XkbKeysymToModifiers(display, XK_Num_Lock);

    const Window root = DefaultRootWindow(display);
    X11ErrorTrap trap(display);
    // A grab for any modifiers fails when another client holds any state of the key: one
    // request per key tells the keys that nobody else touches.
    std::vector<unsigned long> serials;
    for (const Key& key : m_keys) {
        serials.push_back(NextRequest(display));
        XGrabKey(display, static_cast<int>(key.keycode), AnyModifier, root, False, GrabModeAsync, GrabModeAsync);
        XUngrabKey(display, static_cast<int>(key.keycode), AnyModifier, root);
    }
    trap.sync();
    std::vector<bool> shared(m_keys.size(), false);
    for (const X11TrappedError& error : trap.errors()) {
        const auto it = std::find(serials.begin(), serials.end(), error.serial);
        if (error.requestCode == X_GrabKey && it != serials.end())
            shared[static_cast<std::size_t>(it - serials.begin())] = true;
    }
    // Only for those, each state on its own. Every trial grab goes again at once, so the
    // server's list of grabs never grows with them.
    const std::size_t errorsBefore = trap.errors().size();
    struct Trial {
        unsigned long serial;
        std::size_t key;
        unsigned state;
    };
    std::vector<Trial> trials;
    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        if (!shared[i])
            continue;
        for (unsigned state = 0; state < 256; ++state) {
            if (!m_keys[i].wanted[state])
                continue;
            trials.push_back({NextRequest(display), i, state});
            XGrabKey(display, static_cast<int>(m_keys[i].keycode), state, root, False, GrabModeAsync, GrabModeAsync);
            XUngrabKey(display, static_cast<int>(m_keys[i].keycode), state, root);
        }
    }
    trap.sync();
    for (std::size_t e = errorsBefore; e < trap.errors().size(); ++e) {
        const X11TrappedError& error = trap.errors()[e];
        const auto it = std::lower_bound(trials.begin(), trials.end(), error.serial,
                                         [](const Trial& trial, unsigned long serial) { return trial.serial < serial; });
        if (error.requestCode == X_GrabKey && it != trials.end() && it->serial == error.serial)
            m_keys[it->key].failed[it->state] = true;
    }
}

bool X11KeyGrabs::essentialStatesTakenSince(Display* display) const
{
    const Window root = DefaultRootWindow(display);
    const unsigned lockStates[] = {0, LockMask, m_numLock, LockMask | m_numLock};
    X11ErrorTrap trap(display);
    for (const Key& key : m_keys) {
        if (std::find(m_essential.begin(), m_essential.end(), key.keycode) == m_essential.end())
            continue;
        for (const unsigned state : lockStates) {
            if (state >= 256 || !key.wanted[state] || key.failed[state])
                continue;
            XGrabKey(display, static_cast<int>(key.keycode), state, root, False, GrabModeAsync, GrabModeAsync);
            XUngrabKey(display, static_cast<int>(key.keycode), state, root);
        }
    }
    trap.sync();
    return std::any_of(trap.errors().begin(), trap.errors().end(),
                       [](const X11TrappedError& error) { return error.requestCode == X_GrabKey; });
}

std::string X11KeyGrabs::apply(Display* display)
{
    const Window root = DefaultRootWindow(display);
    // Each master keyboard by its own id: a grab for all master devices at once is not
    // taken as a keyboard's, and its keyboard mode is ignored (the keyboard would not freeze
    // when it fires, so keys typed before the reader drops it would come to us).
    m_devices.clear();
    int count = 0;
    if (XIDeviceInfo* devices = XIQueryDevice(display, XIAllMasterDevices, &count)) {
        for (int i = 0; i < count; ++i)
            if (devices[i].use == XIMasterKeyboard)
                m_devices.push_back(devices[i].deviceid);
        XIFreeDeviceInfo(devices);
    }
    unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(maskBits, XI_KeyPress);
    // While one of our grabs is active, raw events reach us through its mask only, not
    // through the selection on the root window: a release the server handles before the
    // grab is dropped would be lost without this.
    XISetMask(maskBits, XI_RawKeyRelease);
    for (const int device : m_devices) {
        XIEventMask mask{device, static_cast<int>(sizeof maskBits), maskBits};
        for (Key& key : m_keys) {
            const int keycode = static_cast<int>(key.keycode);
            // The keyboard freezes when the grab fires, until the reader drops the grab: keys
            // typed meanwhile wait in the server instead of coming to us.
            XIGrabModifiers any{static_cast<int>(XIAnyModifier), 0};
            if (XIGrabKeycode(display, device, keycode, root, XIGrabModeSync, XIGrabModeAsync, False, &mask, 1, &any)
                == 0) {
                // One entry, less the states that are not ours or are another client's.
                std::vector<XIGrabModifiers> exceptions = modifierList(~key.wanted | key.failed);
                if (!exceptions.empty())
                    XIUngrabKeycode(display, device, keycode, root, static_cast<int>(exceptions.size()),
                                    exceptions.data());
                continue;
            }
            // Another client holds XInput2 grabs on this key: ask for each state, in one
            // request, and keep what we got.
            std::vector<XIGrabModifiers> states = modifierList(key.wanted & ~key.failed);
            const int refused = XIGrabKeycode(display, device, keycode, root, XIGrabModeSync, XIGrabModeAsync, False,
                                              &mask, static_cast<int>(states.size()), states.data());
            for (int i = 0; i < refused; ++i)
                key.failed[static_cast<std::size_t>(states[static_cast<std::size_t>(i)].modifiers) & 0xFFu] = true;
        }
    }
    XSync(display, False);

    for (const unsigned keycode : m_essential) {
        const auto key = std::find_if(m_keys.begin(), m_keys.end(), [&](const Key& k) { return k.keycode == keycode; });
        if (key == m_keys.end())
            continue;
        for (const unsigned state : {0u, unsigned(LockMask), m_numLock, LockMask | m_numLock})
            if (key->failed[state & 0xFFu])
                return "another program holds the arrow keys or Enter";
    }
    if (m_devices.empty())
        return "the X server reports no keyboard";
    if (counts().succeeded == 0)
        return "the keyboard map has no arrow keys or Enter to capture";
    return {};
}

void X11KeyGrabs::remove(Display* display) noexcept
{
    const Window root = DefaultRootWindow(display);
    for (const int device : m_devices) {
        for (const Key& key : m_keys) {
            XIGrabModifiers any{static_cast<int>(XIAnyModifier), 0};
            XIUngrabKeycode(display, device, static_cast<int>(key.keycode), root, 1, &any);
        }
    }
    m_devices.clear();
}

bool X11KeyGrabs::samePlan(const X11KeyGrabs& other) const noexcept
{
    return m_keys == other.m_keys && m_essential == other.m_essential && m_numLock == other.m_numLock;
}

X11KeyGrabs::Counts X11KeyGrabs::counts() const noexcept
{
    Counts counts;
    for (const Key& key : m_keys) {
        counts.failed += static_cast<int>(key.failed.count());
        counts.succeeded += static_cast<int>((key.wanted & ~key.failed).count());
    }
    return counts;
}
