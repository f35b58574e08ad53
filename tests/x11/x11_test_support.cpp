#include "tests/x11/x11_test_support.h"

#include <algorithm>

#include <poll.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/x11/x11_key_source.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

std::vector<X11KeySource*> g_pumped;

} // namespace

PumpedSource::PumpedSource(X11KeySource& source) : m_source(source) { g_pumped.push_back(&source); }

PumpedSource::~PumpedSource() { g_pumped.erase(std::find(g_pumped.begin(), g_pumped.end(), &m_source)); }

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        // The sources' sockets and Qt's, a millisecond at a time.
        std::vector<pollfd> watched;
        for (X11KeySource* source : g_pumped)
            if (source->pollFd() >= 0)
                watched.push_back({source->pollFd(), POLLIN, 0});
        poll(watched.data(), watched.size(), 1);
        for (X11KeySource* source : g_pumped)
            source->dispatch();
        QCoreApplication::processEvents();
    }
    return true;
}

bool RecordingSink::keyChanged(const KeyChange& change) noexcept
{
    const std::uint32_t message = change.down ? (change.alt ? kSysDown : kDown) : (change.alt ? kSysUp : kUp);
    const std::uint32_t code = change.key == CapturedKey::Enter ? 13 : 37 + static_cast<std::uint32_t>(change.key);
    m_events.emplace_back(message, code);
    return true;
}

bool RecordingSink::contains(Pair pair) const
{
    return std::find(m_events.begin(), m_events.end(), pair) != m_events.end();
}

ProbeWindow::ProbeWindow()
{
    Display* display = m_connection.display();
    if (display == nullptr)
        return;
    m_window = XCreateSimpleWindow(display, m_connection.root(), kX, kY, kWidth, kHeight, 0, 0, 0);
    XSelectInput(display, m_window,
                 KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    XMapRaised(display, m_window);
    XFlush(display);
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    drain();
    if (!waitUntil([this] { return m_mapped; }))
        return;
    XSetInputFocus(display, m_window, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    m_ready = true;
}

ProbeWindow::~ProbeWindow()
{
    m_notifier.reset();
    if (m_window != 0) {
        XDestroyWindow(m_connection.display(), m_window);
        XSync(m_connection.display(), False);
    }
}

bool ProbeWindow::received(int type, unsigned detail) const
{
    return std::find(m_events.begin(), m_events.end(), ProbeEvent{type, detail}) != m_events.end();
}

void ProbeWindow::drain()
{
    Display* display = m_connection.display();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case KeyPress:
        case KeyRelease:
            m_events.push_back({event.type, event.xkey.keycode});
            break;
        case ButtonPress:
        case ButtonRelease:
            m_events.push_back({event.type, event.xbutton.button});
            break;
        case MapNotify:
            m_mapped = true;
            break;
        default:
            break;
        }
    }
}

XTestKeyboard::XTestKeyboard() = default;

XTestKeyboard::~XTestKeyboard()
{
    if (m_connection.display() == nullptr)
        return;
    for (unsigned keycode : std::vector<unsigned>(m_down))
        send(keycode, false);
    setNumLock(false);
}

unsigned XTestKeyboard::keycode(unsigned long keysym) const
{
    return XKeysymToKeycode(m_connection.display(), keysym);
}

void XTestKeyboard::press(unsigned long keysym)
{
    send(keycode(keysym), true);
}

void XTestKeyboard::release(unsigned long keysym)
{
    send(keycode(keysym), false);
}

void XTestKeyboard::tap(unsigned long keysym)
{
    press(keysym);
    release(keysym);
}

void XTestKeyboard::tapKeycode(unsigned keycode)
{
    send(keycode, true);
    send(keycode, false);
}

void XTestKeyboard::remap(unsigned keycode, unsigned long keysym)
{
    KeySym symbol = keysym;
    XChangeKeyboardMapping(m_connection.display(), static_cast<int>(keycode), 1, &symbol, 1);
    XSync(m_connection.display(), False);
}

unsigned XTestKeyboard::unusedKeycode() const
{
    Display* display = m_connection.display();
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    int perKeycode = 0;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1,
                                      &perKeycode);
    unsigned found = 0;
    for (int keycode = maxKeycode; keycode >= minKeycode && found == 0; --keycode) {
        const KeySym* row = map + (keycode - minKeycode) * perKeycode;
        if (std::all_of(row, row + perKeycode, [](KeySym k) { return k == NoSymbol; }))
            found = static_cast<unsigned>(keycode);
    }
    XFree(map);
    return found;
}

void XTestKeyboard::setNumLock(bool on)
{
    Display* display = m_connection.display();
    const unsigned mask = XkbKeysymToModifiers(display, XK_Num_Lock);
    XkbLockModifiers(display, XkbUseCoreKbd, mask, on ? mask : 0);
    XSync(display, False);
}

void XTestKeyboard::send(unsigned keycode, bool pressed)
{
    Display* display = m_connection.display();
    XTestFakeKeyEvent(display, keycode, pressed ? True : False, CurrentTime);
    // Synced so the server has taken the event in before the test goes on.
    XSync(display, False);
    if (pressed)
        m_down.push_back(keycode);
    else
        std::erase(m_down, keycode);
}
