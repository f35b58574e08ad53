#include "linux_input.h"

#include <cstdlib>
#include <string_view>

#include <QGuiApplication>
#include <QSocketNotifier>

#include "platform/evdev/evdev_key_source.h"
#include "platform/evdev/evdev_pointer.h"
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
    if (isWaylandSession()) {
        m_evdevKeys = std::make_unique<EvdevKeySource>();
        m_evdevPointer = std::make_unique<EvdevPointer>();
        m_evdevNotifier = std::make_unique<QSocketNotifier>(m_evdevKeys->pollFd(), QSocketNotifier::Read);
        QObject::connect(m_evdevNotifier.get(), &QSocketNotifier::activated, [this] { m_evdevKeys->dispatch(); });
        m_keys = m_evdevKeys.get();
        m_injector = m_evdevPointer.get();
        m_pointer = m_evdevPointer.get();
    } else {
        m_x11Keys = std::make_unique<X11KeySource>();
        m_x11Injector = std::make_unique<X11InputInjector>();
        m_x11Pointer = std::make_unique<X11Pointer>();
        m_keys = m_x11Keys.get();
        m_injector = m_x11Injector.get();
        m_pointer = m_x11Pointer.get();
    }
}

LinuxInput::~LinuxInput() = default;
