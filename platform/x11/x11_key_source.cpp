#include "platform/x11/x11_key_source.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include <sys/socket.h>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>

#include "platform/x11/x11_key_table.h"

namespace {

// True when the connection's socket is closed or broken: nothing left to read, ever.
bool serverGone(int fd) noexcept
{
    char byte = 0;
    const ssize_t peeked = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// XInput 2.1 is the first version that sends raw events to every client that selected them,
// not only to the one holding a grab; below it an arrow's release could never be seen.
constexpr int kXInputMajor = 2;
constexpr int kXInputMinor = 1;

bool inWaylandSession()
{
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    return (waylandDisplay != nullptr && *waylandDisplay != '\0')
        || (sessionType != nullptr && std::string_view(sessionType) == "wayland");
}

// The captured key a virtual-key code of the key table stands for.
std::optional<CapturedKey> capturedKey(std::uint8_t vk) noexcept
{
    if (vk == 13)
        return CapturedKey::Enter;
    if (vk >= 37 && vk <= 40)
        return static_cast<CapturedKey>(vk - 37);
    return std::nullopt;
}

} // namespace

/// The grabbing connection and what decoding its events needs; lives from install() to removal.
struct X11KeySource::Capture {
    std::unique_ptr<X11Connection> connection;
    std::shared_ptr<const X11KeyTable> table;
    X11KeyGrabs grabs;
    int xinputOpcode = -1;
    int xkbEventBase = -1;
    /// The modifiers in effect, followed from XKB state events (raw releases carry none).
    unsigned modifiers = 0;
    /// Per keycode, the virtual-key code delivered with its last press, until its release.
    std::array<std::uint8_t, 256> downVk{};
    /// The connection broke: nothing is read from it again.
    bool gone = false;

    ~Capture()
    {
        if (gone || !connection || !connection->valid())
            return;
        Display* display = connection->display();
        grabs.remove(display);
        // Waits until the server dropped the grabs, so that a new installation on a new
        // connection never meets them.
        XSync(display, True);
    }
};

X11KeySource::X11KeySource() = default;

X11KeySource::~X11KeySource() { release(); }

std::uintptr_t X11KeySource::install(KeySink& sink)
{
    release();
    m_grabCounts = {};
    m_lastError.clear();

    if (inWaylandSession()) {
        // Grabs on the X server would catch keys typed into X11 programs only: refuse, rather
        // than seem to work in some windows and not in others.
        fail("this is a Wayland session: keys typed into its applications cannot be captured");
        return 0;
    }
    auto capture = std::make_unique<Capture>();
    Capture& setup = *capture;
    setup.connection = std::make_unique<X11Connection>();
    if (!setup.connection->valid()) {
        fail("no X display: DISPLAY is unset or its X server cannot be reached");
        return 0;
    }
    Display* display = setup.connection->display();
    const Window root = setup.connection->root();

    int xkbOpcode = 0;
    int xkbErrorBase = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &xkbOpcode, &setup.xkbEventBase, &xkbErrorBase, &xkbMajor, &xkbMinor)) {
        fail("the X server has no keyboard extension (XKB)");
        return 0;
    }
    int xinputEvent = 0;
    int xinputError = 0;
    int xinputMajor = kXInputMajor;
    int xinputMinor = kXInputMinor;
    if (!XQueryExtension(display, "XInputExtension", &setup.xinputOpcode, &xinputEvent, &xinputError)
        || XIQueryVersion(display, &xinputMajor, &xinputMinor) != Success
        || std::pair(xinputMajor, xinputMinor) < std::pair(kXInputMajor, kXInputMinor)) {
        fail("the X server lacks XInput 2.1, needed to see key releases");
        return 0;
    }
    auto table = std::make_shared<X11KeyTable>();
    if (!table->load(display)) {
        fail("the X server's keyboard map could not be read");
        return 0;
    }
    setup.table = std::move(table);

    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierStateMask, XkbModifierStateMask);
    constexpr unsigned long kKeymapEvents = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, kKeymapEvents, kKeymapEvents);
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
        setup.modifiers = state.mods;

    unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(maskBits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof maskBits), maskBits};
    XISelectEvents(display, root, &mask, 1);

    bool reusePlan = m_plannedTable && *m_plannedTable == *setup.table;
    if (reusePlan)
        setup.grabs = m_plannedGrabs;
    // The plan may be reused only while nobody has taken an arrow or Enter since: otherwise the
    // grabs would go through and the keys to the other client, with no failure to report.
    if (reusePlan && setup.grabs.essentialStatesTakenSince(display)) {
        setup.grabs = {};
        reusePlan = false;
    }
    if (!reusePlan)
        setup.grabs.plan(display, *setup.table);
    X11KeyGrabs planned = setup.grabs;
    std::string problem = setup.grabs.apply(display);
    if (!problem.empty() && reusePlan) {
        // Perhaps only the plan is out of date (a client let go of a key since): plan afresh.
        setup.grabs.remove(display);
        setup.grabs = {};
        setup.grabs.plan(display, *setup.table);
        planned = setup.grabs;
        problem = setup.grabs.apply(display);
        reusePlan = false;
    }
    // Only a plan that let the capture work is kept for the next install.
    m_plannedTable = problem.empty() ? setup.table : nullptr;
    m_plannedGrabs = std::move(planned);
    m_grabCounts = setup.grabs.counts();
    m_capture = std::move(capture);
    if (!problem.empty()) {
        fail(std::move(problem));
        return 0;
    }
    XFlush(display);
    // A client may have taken or dropped bindings since the plan: the next dispatch() looks
    // again, and grabs anew only if something changed.
    m_checkPlan = reusePlan;
    m_sink = &sink;
    m_handle = ++m_lastHandle;
    return m_handle;
}

void X11KeySource::fail(std::string reason)
{
    m_lastError = std::move(reason);
    release();
}

void X11KeySource::uninstall(std::uintptr_t handle)
{
    if (handle != 0 && handle == m_handle)
        release();
}

void X11KeySource::release() noexcept
{
    // Drops the grabs and closes the connection.
    m_capture.reset();
    m_sink = nullptr;
    m_handle = 0;
    m_checkPlan = false;
    m_keymapChanged = false;
}

int X11KeySource::pollFd() const noexcept
{
    if (!m_capture || m_capture->gone)
        return -1;
    return ConnectionNumber(m_capture->connection->display());
}

void X11KeySource::dispatch() noexcept
{
    if (!m_capture || m_capture->gone || m_sink == nullptr)
        return;
    Display* display = m_capture->connection->display();
    // The server went away. Xlib would end the process from this thread (its I/O error handler
    // calls exit), racing the UI thread's own orderly end: stop reading instead and leave the
    // loss to the UI thread's connection, which sees it too.
    if (serverGone(ConnectionNumber(display))) {
        m_capture->gone = true;
        return;
    }
    // Drained in full: Xlib may hold events in its own queue that the socket no longer
    // announces (the round trips of install() and of a regrab queue some). The capture is
    // looked up anew each time: the sink may not remove it, but a keymap change may regrab.
    while (m_capture && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
    if (m_capture && (m_keymapChanged || m_checkPlan))
        followKeymap();
}

bool X11KeySource::settle()
{
    if (!m_capture || m_capture->gone)
        return false;
    XSync(m_capture->connection->display(), False);
    dispatch();
    return true;
}

void X11KeySource::handle(XEvent& event) noexcept
{
    Capture& capture = *m_capture;
    Display* display = capture.connection->display();
    if (event.type == GenericEvent) {
        if (event.xcookie.extension != capture.xinputOpcode || !XGetEventData(display, &event.xcookie))
            return;
        if (event.xcookie.evtype == XI_KeyPress) {
            // Only grabbed keys come as presses. The grab fired and froze the keyboard: drop it
            // right away so that everything after this press reaches its window as usual.
            const auto* press = static_cast<const XIDeviceEvent*>(event.xcookie.data);
            XIUngrabDevice(display, press->deviceid, press->time);
            XFlush(display);
            const unsigned keycode = static_cast<unsigned>(press->detail) & 0xFFu;
            const unsigned state = static_cast<unsigned>(press->mods.effective);
            const std::uint8_t vk = capture.table->vk(keycode, state);
            if (vk != 0)
                capture.downVk[keycode] = vk;
            if (const auto key = capturedKey(vk))
                m_sink->keyChanged({*key, true, (state & Mod1Mask) != 0});
        } else if (event.xcookie.evtype == XI_RawKeyRelease) {
            const auto keycode = static_cast<unsigned>(static_cast<const XIRawEvent*>(event.xcookie.data)->detail);
            if (keycode < 256) {
                // A key pressed through our grab is released as what it was pressed as, even
                // if NumLock changed meanwhile; one pressed before (or past) the grabs counts
                // as what it reports now.
                std::uint8_t vk = capture.downVk[keycode];
                capture.downVk[keycode] = 0;
                if (vk == 0)
                    vk = capture.table->vk(keycode, capture.modifiers);
                if (const auto key = capturedKey(vk))
                    m_sink->keyChanged({*key, false, (capture.modifiers & Mod1Mask) != 0});
            }
        }
        XFreeEventData(display, &event.xcookie);
        return;
    }
    if (event.type == capture.xkbEventBase) {
        auto& xkb = reinterpret_cast<XkbEvent&>(event);
        if (xkb.any.xkb_type == XkbStateNotify) {
            capture.modifiers = xkb.state.mods;
        } else if (xkb.any.xkb_type == XkbMapNotify || xkb.any.xkb_type == XkbNewKeyboardNotify) {
            // Read once the events at hand are handled: a burst of these comes with one change.
            m_keymapChanged = true;
        }
    }
}

void X11KeySource::followKeymap() noexcept
{
    m_keymapChanged = false;
    // A new keyboard notification also comes whenever input switches between two physical
    // keyboards with the same map: regrab only when some key really changed meaning, or when
    // a plan reused at install turns out to be out of date.
    const bool checkPlan = std::exchange(m_checkPlan, false);
    try {
        // A connection of its own: trial grabs on the grabbing one would find only our own.
        X11Connection connection;
        auto fresh = std::make_shared<X11KeyTable>();
        if (!connection.valid() || !fresh->load(connection.display()))
            return;
        const bool sameMap = *fresh == *m_capture->table;
        if (sameMap && !checkPlan)
            return;
        X11KeyGrabs grabs;
        grabs.plan(connection.display(), *fresh);
        const bool samePlan = sameMap && grabs.samePlan(m_plannedGrabs);
        m_plannedTable = fresh;
        m_plannedGrabs = grabs;
        if (samePlan)
            return;
        m_grabCounts = grabs.counts();
        // Round trips to the server, which never waits for us: a grabbed press meanwhile waits
        // there a millisecond or so, and is read by the dispatch that follows.
        Display* display = m_capture->connection->display();
        m_capture->grabs.remove(display);
        m_capture->grabs = std::move(grabs);
        m_capture->grabs.apply(display);  // whatever could be grabbed is kept
        m_capture->table = std::move(fresh);
    } catch (const std::bad_alloc&) {
        // The old grabs stay: keys keep working as they were mapped.
    }
}
