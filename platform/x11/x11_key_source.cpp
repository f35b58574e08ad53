#include "platform/x11/x11_key_source.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>

#include "platform/x11/x11_key_queue.h"
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

void ring(int eventFd) noexcept
{
    const std::uint64_t one = 1;
    // Cannot block (non-blocking) and cannot fail short of a counter near 2^64.
    [[maybe_unused]] const ssize_t written = write(eventFd, &one, sizeof one);
}

void drain(int eventFd) noexcept
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(eventFd, &count, sizeof count);
}

} // namespace

/// Owns the grabbing connection and the thread that reads it. Between start() and destruction
/// that thread alone touches the connection, the key table and the decoding state below; the
/// UI thread talks to it only through the queue and the atomics, none of which ever waits.
class X11KeySource::Reader {
public:
    struct Setup {
        std::unique_ptr<X11Connection> connection;
        std::shared_ptr<const X11KeyTable> table;
        X11KeyGrabs grabs;
        int xinputOpcode = -1;
        int xkbEventBase = -1;
        unsigned modifiers = 0;
        int wakeUi = -1;
    };

    explicit Reader(Setup setup) : m_setup(std::move(setup)) {}
    /// Stops the thread if running, then drops the grabs and closes the connection.
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    /// False when the thread could not be started; the grabs are then dropped on destruction.
    bool start();
    /// Stops and joins the thread; the connection is this thread's again until destruction.
    void stop() noexcept;

    X11KeyQueue& queue() noexcept { return m_queue; }
    /// The UI thread drained its eventfd and is about to drain the queue: the next event
    /// signals it again. Everything queued before the signal that this takes back is visible
    /// to the drain that follows (see wakeUi()).
    void acknowledgeWake() noexcept { m_uiWakePending.exchange(false, std::memory_order_acq_rel); }
    /// True once after the keyboard map changed.
    bool takeKeymapChange() noexcept { return m_keymapChanged.exchange(false); }
    /// The table the grabs follow (shared read-only with the thread).
    const std::shared_ptr<const X11KeyTable>& table() const noexcept { return m_uiTable; }
    /// Returns once the thread queued every event the server sent before the call; false
    /// after |timeoutMs|.
    bool settle(int timeoutMs) noexcept;
    /// Has the thread grab anew for |table|, between two events.
    void regrab(std::shared_ptr<const X11KeyTable> table, X11KeyGrabs grabs);

private:
    struct Regrab {
        std::shared_ptr<const X11KeyTable> table;
        X11KeyGrabs grabs;
    };

    void run() noexcept;
    void handle(XEvent& event) noexcept;
    void hand(std::uint32_t message, std::uint8_t vk) noexcept;
    void wakeUi() noexcept;

    Setup m_setup;
    std::shared_ptr<const X11KeyTable> m_uiTable = m_setup.table;
    X11KeyQueue m_queue;
    /// Per keycode, the virtual-key code delivered with its last press, until its release.
    std::array<std::uint8_t, 256> m_downVk{};
    int m_wakeSelf = -1;
    std::atomic<bool> m_stop{false};
    /// A signal is on its way to the UI thread that it has not acknowledged yet.
    std::atomic<bool> m_uiWakePending{false};
    std::atomic<bool> m_keymapChanged{false};
    std::atomic<Regrab*> m_pendingRegrab{nullptr};
    std::atomic<unsigned> m_settleRequested{0};
    std::atomic<unsigned> m_settled{0};
    std::thread m_thread;
};

X11KeySource::Reader::~Reader()
{
    stop();
    if (m_wakeSelf >= 0)
        close(m_wakeSelf);
    delete m_pendingRegrab.exchange(nullptr);
    Display* display = m_setup.connection->display();
    m_setup.grabs.remove(display);
    // Waits until the server dropped the grabs, so that a new installation on a new
    // connection never meets them.
    XSync(display, True);
}

void X11KeySource::Reader::stop() noexcept
{
    if (m_thread.joinable()) {
        m_stop.store(true);
        ring(m_wakeSelf);
        m_thread.join();
    }
}

bool X11KeySource::Reader::start()
{
    m_wakeSelf = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeSelf < 0)
        return false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void X11KeySource::Reader::regrab(std::shared_ptr<const X11KeyTable> table, X11KeyGrabs grabs)
{
    m_uiTable = table;
    delete m_pendingRegrab.exchange(new Regrab{std::move(table), std::move(grabs)});
    ring(m_wakeSelf);
}

bool X11KeySource::Reader::settle(int timeoutMs) noexcept
{
    const unsigned request = m_settleRequested.fetch_add(1) + 1;
    ring(m_wakeSelf);
    for (int waited = 0; m_settled.load() != request; ++waited) {
        if (waited >= timeoutMs * 10)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

void X11KeySource::Reader::run() noexcept
{
    Display* display = m_setup.connection->display();
    pollfd watched[2] = {{ConnectionNumber(display), POLLIN, 0}, {m_wakeSelf, POLLIN, 0}};
    for (;;) {
        // Drained in full: Xlib may hold events in its own queue that the socket no longer
        // announces (the round trips of install() and of a regrab queue some).
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            handle(event);
        }
        if (m_stop.load())
            return;
        if (std::unique_ptr<Regrab> job{m_pendingRegrab.exchange(nullptr)}) {
            // Round trips to the server, which never waits for us: a grabbed press meanwhile
            // waits there a millisecond or so.
            m_setup.grabs.remove(display);
            m_setup.grabs = std::move(job->grabs);
            m_setup.grabs.apply(display);  // whatever could be grabbed is kept
            m_setup.table = std::move(job->table);
            continue;
        }
        if (const unsigned request = m_settleRequested.load(); request != m_settled.load()) {
            XSync(display, False);
            m_settled.store(request);
            continue;  // drains what the round trip queued before sleeping again
        }
        poll(watched, 2, -1);
        if (watched[1].revents & POLLIN)
            drain(m_wakeSelf);
        // The server went away. Xlib would end the process from this thread (its I/O error
        // handler calls exit), racing the UI thread's own orderly end: stop reading instead and
        // leave the loss to the UI thread's connection, which sees it too.
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && serverGone(watched[0].fd))
            return;
    }
}

void X11KeySource::Reader::handle(XEvent& event) noexcept
{
    Display* display = m_setup.connection->display();
    if (event.type == GenericEvent) {
        if (event.xcookie.extension != m_setup.xinputOpcode || !XGetEventData(display, &event.xcookie))
            return;
        if (event.xcookie.evtype == XI_KeyPress) {
            // Only grabbed keys come as presses. The grab fired and froze the keyboard: drop
            // it right away so that everything after this press reaches its window as usual.
            const auto* press = static_cast<const XIDeviceEvent*>(event.xcookie.data);
            XIUngrabDevice(display, press->deviceid, press->time);
            const unsigned keycode = static_cast<unsigned>(press->detail) & 0xFFu;
            const unsigned state = static_cast<unsigned>(press->mods.effective);
            const std::uint8_t vk = m_setup.table->vk(keycode, state);
            const std::uint32_t message = (state & Mod1Mask) ? kWmSysKeyDown : kWmKeyDown;
            const bool queued = vk != 0 && m_queue.push(message, vk);
            XFlush(display);
            if (vk != 0)
                m_downVk[keycode] = vk;
            if (queued)
                wakeUi();
        } else if (event.xcookie.evtype == XI_RawKeyRelease) {
            const auto keycode = static_cast<unsigned>(static_cast<const XIRawEvent*>(event.xcookie.data)->detail);
            if (keycode < 256) {
                // A key pressed through our grab is released as what it was pressed as, even
                // if NumLock changed meanwhile; one pressed before (or past) the grabs counts
                // as what it reports now.
                std::uint8_t vk = m_downVk[keycode];
                m_downVk[keycode] = 0;
                if (vk == 0)
                    vk = m_setup.table->vk(keycode, m_setup.modifiers);
                if (vk != 0)
                    hand((m_setup.modifiers & Mod1Mask) ? kWmSysKeyUp : kWmKeyUp, vk);
            }
        }
        XFreeEventData(display, &event.xcookie);
        return;
    }
    if (event.type == m_setup.xkbEventBase) {
        auto& xkb = reinterpret_cast<XkbEvent&>(event);
        if (xkb.any.xkb_type == XkbStateNotify) {
            // Raw releases carry no modifier state: it is followed from these.
            m_setup.modifiers = xkb.state.mods;
        } else if (xkb.any.xkb_type == XkbMapNotify || xkb.any.xkb_type == XkbNewKeyboardNotify) {
            // Reading the new map takes a while: the UI thread does it, on a connection of its own.
            m_keymapChanged.store(true);
            wakeUi();
        }
    }
}

void X11KeySource::Reader::hand(std::uint32_t message, std::uint8_t vk) noexcept
{
    if (m_queue.push(message, vk))
        wakeUi();
}

void X11KeySource::Reader::wakeUi() noexcept
{
    // One signal per drain of the UI thread, however many events it finds. Both sides change
    // the flag with an acq_rel read-modify-write, so the changes fall in one order in which
    // each reads the one just before it:
    // - after the UI thread's acknowledgement, this reads false and rings; the ring also comes
    //   after the eventfd drain that preceded the acknowledgement, so that drain cannot eat it;
    // - before it, this reads true and does not ring, but the acknowledgement reads what this
    //   wrote, so the pops that follow it see everything queued before this call.
    // A plain store of false would synchronize with nothing: on a weakly ordered CPU the pops
    // could miss an event (an arrow's release, say) that this thread then rang for no more.
    if (!m_uiWakePending.exchange(true, std::memory_order_acq_rel))
        ring(m_setup.wakeUi);
}

X11KeySource::X11KeySource() = default;

X11KeySource::~X11KeySource()
{
    release();
    m_notifier.reset();
    if (m_wakeUi >= 0)
        close(m_wakeUi);
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
    // The connection is used by the reading thread and, around it, by this one. Xlib 1.8 and
    // later do this themselves; older ones need it before the connection opens.
    XInitThreads();
    Reader::Setup setup;
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
    if (m_wakeUi < 0) {
        // Kept, with its notifier, for the source's life: a sink may uninstall from inside
        // deliverQueued(), which the notifier is running.
        m_wakeUi = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_wakeUi >= 0) {
            m_notifier = std::make_unique<QSocketNotifier>(m_wakeUi, QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { deliverQueued(); });
        }
    }
    setup.wakeUi = m_wakeUi;
    m_reader = std::make_unique<Reader>(std::move(setup));
    if (problem.empty() && (m_wakeUi < 0 || !m_reader->start()))
        problem = "the key capture could not start its reading thread";
    if (!problem.empty()) {
        fail(std::move(problem));
        return 0;
    }
    m_notifier->setEnabled(true);

    m_keymapTimer = std::make_unique<QTimer>();
    m_keymapTimer->setSingleShot(true);
    m_keymapTimer->setInterval(0);
    QObject::connect(m_keymapTimer.get(), &QTimer::timeout, [this] { followKeymap(); });
    // A client may have taken or dropped bindings since the plan: look again once the capture
    // is in place, and grab anew only if something changed.
    m_checkPlan = reusePlan;
    if (reusePlan)
        m_keymapTimer->start();
    m_sink = &sink;
    m_handle = ++m_lastHandle;
    return m_handle;
}

void X11KeySource::followKeymap()
{
    if (!m_reader)
        return;
    // A connection of this thread's own: the grabbing one belongs to the reader.
    X11Connection connection;
    auto fresh = std::make_shared<X11KeyTable>();
    // A new keyboard notification also comes whenever input switches between two physical
    // keyboards with the same map: regrab only when some key really changed meaning, or when
    // a plan reused at install turns out to be out of date.
    const bool checkPlan = std::exchange(m_checkPlan, false);
    if (!connection.valid() || !fresh->load(connection.display()))
        return;
    const bool sameMap = *fresh == *m_reader->table();
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
    m_reader->regrab(std::move(fresh), std::move(grabs));
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
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_reader)
        m_reader->stop();
    // Drops the grabs and closes the connection; what the thread queued goes too.
    m_reader.reset();
    if (m_wakeUi >= 0)
        drain(m_wakeUi);
    m_sink = nullptr;
    m_handle = 0;
}

bool X11KeySource::settle(int timeoutMs)
{
    if (!m_reader || !m_reader->settle(timeoutMs))
        return false;
    deliverQueued();
    return true;
}

void X11KeySource::deliverQueued() noexcept
{
    drain(m_wakeUi);
    if (!m_reader)
        return;
    m_reader->acknowledgeWake();
    std::uint32_t message = 0;
    std::uint32_t vk = 0;
    // The reader is looked up anew each time: a sink may uninstall (or install again) from
    // inside KeyboardProc.
    while (m_reader && m_sink != nullptr && m_reader->queue().pop(message, vk)) {
        const KeyEvent event{kKeyActionCode, message, vk, 0};
        m_sink->KeyboardProc(event);
    }
    if (m_reader && m_reader->takeKeymapChange() && m_keymapTimer)
        m_keymapTimer->start();
}
