#include "linux_input.h"

#include <cstdlib>
#include <string_view>

#include <QGuiApplication>

#include "engine/pointer_control.h"

#include "platform/evdev/evdev_key_source.h"
#include "platform/evdev/evdev_pointer.h"
#include "platform/posix/posix_input_loop.h"
#include "platform/x11/x11_input_injector.h"
#include "platform/x11/x11_key_source.h"
#include "platform/x11/x11_pointer.h"

bool isWaylandSession()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display != nullptr && *display != '\0') || (type != nullptr && std::string_view(type) == "wayland")
        || QGuiApplication::platformName() == QStringLiteral("wayland");
}

LinuxInput::LinuxInput()
{
    KeyEventSource* keys = nullptr;
    InputInjector* injector = nullptr;
    Pointer* pointer = nullptr;
    if (isWaylandSession()) {
        m_evdevKeys = std::make_unique<EvdevKeySource>();
        m_evdevPointer = std::make_unique<EvdevPointer>();
        keys = m_evdevKeys.get();
        injector = m_evdevPointer.get();
        pointer = m_evdevPointer.get();
    } else {
        m_x11Keys = std::make_unique<X11KeySource>();
        m_x11Injector = std::make_unique<X11InputInjector>();
        m_x11Pointer = std::make_unique<X11Pointer>();
        keys = m_x11Keys.get();
        injector = m_x11Injector.get();
        pointer = m_x11Pointer.get();
    }
    m_core = std::make_unique<PointerControl>(*keys, *injector, *pointer);
    m_loop = std::make_unique<PosixInputLoop>(*m_core, *keys);
}

LinuxInput::~LinuxInput()
{
    // The loop first: it switches off, and nothing runs the core or the backends after it.
    m_loop.reset();
}

InputLoop& LinuxInput::loop() { return *m_loop; }
