#pragma once

#include <memory>

#include "platform/input_injector.h"
#include "platform/input_loop.h"
#include "platform/key_event_source.h"
#include "platform/pointer.h"

class EvdevKeySource;
class EvdevPointer;
class PointerControl;
class PosixInputLoop;
class X11InputInjector;
class X11KeySource;
class X11Pointer;

/// The input backends that fit this session, chosen at start: X11's (grabs, XTest, warps) in an
/// X11 session; evdev's (grabbed keyboards, uinput devices) in a Wayland session, also when Qt
/// itself runs through XWayland, whose X server sees neither the other programs' keys nor the
/// real pointer. Needs the QApplication. The key path runs on an input loop of its own.
class LinuxInput {
public:
    LinuxInput();
    ~LinuxInput();
    LinuxInput(const LinuxInput&) = delete;
    LinuxInput& operator=(const LinuxInput&) = delete;

    /// The UI thread's side of the key path.
    InputLoop& loop();

private:
    std::unique_ptr<X11KeySource> m_x11Keys;
    std::unique_ptr<X11InputInjector> m_x11Injector;
    std::unique_ptr<X11Pointer> m_x11Pointer;
    std::unique_ptr<EvdevKeySource> m_evdevKeys;
    std::unique_ptr<EvdevPointer> m_evdevPointer;
    std::unique_ptr<PointerControl> m_core;
    /// Last: it stops before what it runs goes.
    std::unique_ptr<PosixInputLoop> m_loop;
};

/// A Wayland session: $WAYLAND_DISPLAY set, $XDG_SESSION_TYPE "wayland", or Qt on Wayland.
bool isWaylandSession();
