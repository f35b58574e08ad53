#include "platform/x11/x11_key_source.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include "platform/x11/x11_error_trap.h"

namespace {

// XInput 2.1 is the first version that sends raw events to every client that selected them,
// not only to the one holding a grab; below it an arrow's release could never be seen.
constexpr int kXInputMajor = 2;
constexpr int kXInputMinor = 1;

// The keys whose unmodified grabs install() cannot do without.
constexpr KeySym kEssentialKeysyms[] = {XK_Left, XK_Up, XK_Right, XK_Down, XK_Return};

bool inWaylandSession()
{
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    return (waylandDisplay != nullptr && *waylandDisplay != '\0')
        || (sessionType != nullptr && std::string_view(sessionType) == "wayland");
}

} // namespace

X11KeySource::X11KeySource() = default;

X11KeySource::~X11KeySource()
{
    release();
}

std::uintptr_t X11KeySource::install(KeyEventSink& sink)
{
    release();
    m_grabCounts = {};
    m_lastError.clear();

    if (QCoreApplication::instance() == nullptr) {
        fail("key capture needs a running Qt application");
        return 0;
    }
    if (inWaylandSession()) {
        // Grabs on the X server would catch keys typed into X11 programs only: refuse, rather
        // than seem to work in some windows and not in others.
        fail("this is a Wayland session: keys typed into its applications cannot be captured");
        return 0;
    }
    m_connection = std::make_unique<X11Connection>();
    if (!m_connection->valid()) {
        fail("no X display: DISPLAY is unset or its X server cannot be reached");
        return 0;
    }
    Display* display = m_connection->display();
    const Window root = m_connection->root();

    int xkbOpcode = 0;
    int xkbErrorBase = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &xkbOpcode, &m_xkbEventBase, &xkbErrorBase, &xkbMajor, &xkbMinor)) {
        fail("the X server has no keyboard extension (XKB)");
        return 0;
    }
    int xinputEvent = 0;
    int xinputError = 0;
    int xinputMajor = kXInputMajor;
    int xinputMinor = kXInputMinor;
    if (!XQueryExtension(display, "XInputExtension", &m_xinputOpcode, &xinputEvent, &xinputError)
        || XIQueryVersion(display, &xinputMajor, &xinputMinor) != Success
        || std::pair(xinputMajor, xinputMinor) < std::pair(kXInputMajor, kXInputMinor)) {
        fail("the X server lacks XInput 2.1, needed to see key releases");
        return 0;
    }
    if (!m_table.load(display)) {
        fail("the X server's keyboard map could not be read");
        return 0;
    }

    // A held key reaches this connection as repeated presses only. Releases are taken from raw
    // events, never from core ones, so this matters only to what the grab itself is sent.
    Bool repeatDetectable = False;
    XkbSetDetectableAutoRepeat(display, True, &repeatDetectable);

    // Raw releases carry no modifier state: follow it from the server's state notifications.
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierStateMask, XkbModifierStateMask);
    constexpr unsigned long kKeymapEvents = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, kKeymapEvents, kKeymapEvents);
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
        m_modifiers = state.mods;

    unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(maskBits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof maskBits), maskBits};
    XISelectEvents(display, root, &mask, 1);

    if (std::string reason = grabKeys(); !reason.empty()) {
        fail(std::move(reason));
        return 0;
    }

    m_keymapTimer = std::make_unique<QTimer>();
    m_keymapTimer->setSingleShot(true);
    m_keymapTimer->setInterval(0);
    QObject::connect(m_keymapTimer.get(), &QTimer::timeout, [this] { followKeymap(); });
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
    m_sink = &sink;
    m_handle = ++m_lastHandle;
    // The round trips above may have queued events that the socket will not announce again.
    readEvents();
    return m_handle;
}

std::string X11KeySource::grabKeys()
{
    Display* display = m_connection->display();
    const Window root = m_connection->root();

    m_grabCounts = {};
    std::vector<Grab> attempted;
    std::vector<unsigned long> serials;
    attempted.reserve(2048);
    serials.reserve(2048);
    std::vector<bool> failed;
    {
        X11ErrorTrap trap(display);
        for (unsigned keycode = 0; keycode < 256; ++keycode) {
            if (!m_table.anyState(keycode))
                continue;
            // One grab per modifier state that makes this key one of ours: AnyModifier would
            // fail as a whole where a window manager owns a few combinations, and a keypad key
            // is left alone in the states where it types a digit.
            for (unsigned modifiers = 0; modifiers < 256; ++modifiers) {
                if (m_table.vk(keycode, modifiers) == 0)
                    continue;
                serials.push_back(NextRequest(display));
                attempted.push_back({keycode, modifiers});
                // The keyboard freezes when the grab fires, until readEvents() drops the grab:
                // keys typed meanwhile wait in the server instead of going to us.
                XGrabKey(display, static_cast<int>(keycode), modifiers, root, False, GrabModeAsync,
                         GrabModeSync);
            }
        }
        trap.sync();
        failed.assign(attempted.size(), false);
        for (const X11TrappedError& error : trap.errors()) {
            if (error.requestCode != X_GrabKey)
                continue;
            const auto it = std::lower_bound(serials.begin(), serials.end(), error.serial);
            if (it != serials.end() && *it == error.serial)
                failed[static_cast<std::size_t>(it - serials.begin())] = true;
        }
    }

    for (std::size_t i = 0; i < attempted.size(); ++i) {
        if (failed[i]) {
            ++m_grabCounts.failed;
        } else {
            ++m_grabCounts.succeeded;
            m_grabs.push_back(attempted[i]);
        }
    }

    const unsigned numLock = XkbKeysymToModifiers(display, XK_Num_Lock);
    const unsigned lockStates[] = {0u, LockMask, numLock, LockMask | numLock};
    for (KeySym keysym : kEssentialKeysyms) {
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        if (keycode == 0)
            continue;
        for (unsigned modifiers : lockStates) {
            const auto held = std::find_if(attempted.begin(), attempted.end(), [&](const Grab& grab) {
                return grab.keycode == keycode && grab.modifiers == modifiers;
            });
            if (held != attempted.end() && failed[static_cast<std::size_t>(held - attempted.begin())])
                return "another program holds the arrow keys or Enter";
        }
    }
    if (m_grabs.empty())
        return "the keyboard map has no arrow keys or Enter to capture";
    return {};
}

void X11KeySource::followKeymap()
{
    if (!m_connection)
        return;
    Display* display = m_connection->display();
    X11KeyTable fresh;
    // A new keyboard notification also comes whenever input switches between two physical
    // keyboards with the same map: regrab only when some key really changed meaning.
    if (fresh.load(display) && !(fresh == m_table)) {
        for (const Grab& grab : m_grabs)
            XUngrabKey(display, static_cast<int>(grab.keycode), grab.modifiers, m_connection->root());
        m_grabs.clear();
        m_table = std::move(fresh);
        // Nobody is waiting for a result here: whatever could be grabbed is kept.
        grabKeys();
    }
    // Reading the map and syncing made Xlib read the socket: events it queued meanwhile (a
    // grabbed press that froze the keyboard among them) will not be announced again.
    readEvents();
}

void X11KeySource::fail(std::string reason)
{
    m_lastError = std::move(reason);
    release();
}

std::intptr_t X11KeySource::forward(std::uintptr_t, const KeyEvent&) noexcept
{
    return 0;
}

void X11KeySource::uninstall(std::uintptr_t handle)
{
    if (handle != 0 && handle == m_handle)
        release();
}

void X11KeySource::release()
{
    m_keymapTimer.reset();
    if (m_notifier) {
        m_notifier->setEnabled(false);
        if (m_reading)
            m_notifier.release()->deleteLater();  // its signal is running now: a sink uninstalled
        else
            m_notifier.reset();
    }
    if (m_connection && m_connection->valid()) {
        Display* display = m_connection->display();
        const Window root = m_connection->root();
        for (const Grab& grab : m_grabs)
            XUngrabKey(display, static_cast<int>(grab.keycode), grab.modifiers, root);
        // Thaws the keyboard should a grab have fired that was not dropped yet.
        XUngrabKeyboard(display, CurrentTime);
        XSync(display, True);
    }
    m_connection.reset();
    m_grabs.clear();
    m_downVk.fill(0);
    m_modifiers = 0;
    m_sink = nullptr;
    m_handle = 0;
}

void X11KeySource::readEvents() noexcept
{
    // Drained in full: Xlib may hold events in its own queue that the socket no longer announces.
    // The connection is looked up anew each time, as a sink may uninstall from inside deliver().
    m_reading = true;
    while (m_connection && XPending(m_connection->display()) > 0) {
        XEvent event;
        XNextEvent(m_connection->display(), &event);
        handleEvent(event);
    }
    m_reading = false;
}

void X11KeySource::handleEvent(XEvent& event) noexcept
{
    Display* display = m_connection->display();
    if (event.type == KeyPress) {
        // Only grabbed keys come as core presses. The grab fired and froze the keyboard: drop
        // it right away so that everything after this press reaches its window as usual.
        XUngrabKeyboard(display, event.xkey.time);
        XFlush(display);
        const std::uint8_t vk = m_table.vk(event.xkey.keycode, event.xkey.state);
        if (vk == 0)
            return;
        m_downVk[event.xkey.keycode & 0xFFu] = vk;
        deliver((event.xkey.state & Mod1Mask) ? kWmSysKeyDown : kWmKeyDown, vk);
        return;
    }
    if (event.type == GenericEvent) {
        if (event.xcookie.extension != m_xinputOpcode || !XGetEventData(display, &event.xcookie))
            return;
        unsigned keycode = 256;
        if (event.xcookie.evtype == XI_RawKeyRelease)
            keycode = static_cast<unsigned>(static_cast<const XIRawEvent*>(event.xcookie.data)->detail);
        XFreeEventData(display, &event.xcookie);
        if (keycode >= 256)
            return;
        // A key pressed through our grab is released as what it was pressed as, even if
        // NumLock changed meanwhile; one pressed before (or past) the grabs counts as what it
        // reports now.
        std::uint8_t vk = m_downVk[keycode];
        m_downVk[keycode] = 0;
        if (vk == 0)
            vk = m_table.vk(keycode, m_modifiers);
        if (vk != 0)
            deliver((m_modifiers & Mod1Mask) ? kWmSysKeyUp : kWmKeyUp, vk);
        return;
    }
    if (event.type == m_xkbEventBase) {
        auto& xkb = reinterpret_cast<XkbEvent&>(event);
        switch (xkb.any.xkb_type) {
        case XkbStateNotify:
            m_modifiers = xkb.state.mods;
            break;
        case XkbMapNotify:
            XkbRefreshKeyboardMapping(&xkb.map);
            if (m_keymapTimer)
                m_keymapTimer->start();
            break;
        case XkbNewKeyboardNotify:
            if (m_keymapTimer)
                m_keymapTimer->start();
            break;
        default:
            break;
        }
    }
}

void X11KeySource::deliver(std::uint32_t message, std::uint8_t vk) noexcept
{
    if (m_sink == nullptr)
        return;
    const KeyEvent event{kKeyActionCode, message, vk, 0};
    m_sink->KeyboardProc(event);
}
