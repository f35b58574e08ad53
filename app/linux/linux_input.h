#pragma once

#include <memory>

#include "platform/input_injector.h"
#include "platform/key_event_source.h"
#include "platform/pointer.h"

class EvdevKeySource;
class EvdevPointer;
class QSocketNotifier;
class X11InputInjector;
class X11KeySource;
class X11Pointer;

/// The input backends that fit this session, chosen at start: X11's (grabs, XTest, warps) in an
/// X11 session; evdev's (grabbed keyboards, uinput devices) in a Wayland session, also when Qt
/// itself runs through XWayland, whose X server sees neither the other programs' keys nor the
/// real pointer. Needs the QApplication.
class LinuxInput {
public:
    LinuxInput();
    ~LinuxInput();
    LinuxInput(const LinuxInput&) = delete;
    LinuxInput& operator=(const LinuxInput&) = delete;

    KeyEventSource& keys() { return *m_keys; }
    InputInjector& injector() { return *m_injector; }
    Pointer& pointer() { return *m_pointer; }

private:
    std::unique_ptr<X11KeySource> m_x11Keys;
    std::unique_ptr<X11InputInjector> m_x11Injector;
    std::unique_ptr<X11Pointer> m_x11Pointer;
    std::unique_ptr<EvdevKeySource> m_evdevKeys;
    std::unique_ptr<EvdevPointer> m_evdevPointer;
    std::unique_ptr<QSocketNotifier> m_evdevNotifier;
    KeyEventSource* m_keys = nullptr;
    InputInjector* m_injector = nullptr;
    Pointer* m_pointer = nullptr;
};

/// A Wayland session: $WAYLAND_DISPLAY set, $XDG_SESSION_TYPE "wayland", or Qt on Wayland.
bool isWaylandSession();
