#pragma once

#include <cstdint>

#include <string>

#include "platform/instance_lock.h"
#include "platform/repeating_timer.h"
#include "platform/window_layout.h"

/// How the user moved a slider, for backends whose sliders report raw scroll actions.
enum class ScrollAction { ArrowLeft, ArrowRight, PageLeft, PageRight, ToMinimum, ToMaximum, ThumbReleased };

/// The pointer events on the tray icon that the program acts on.
enum class TrayEvent : std::uint8_t { LeftDoubleClick, RightButtonUp };

/// Receives what the desktop backends deliver upward: the user's actions on the window, the
/// tray icon and the popup menu, the timer's ticks and the system's events. The program's
/// window logic implements it; each backend is handed it through setEventSink() on its
/// interface and drops events while it has none. Every call comes on the UI thread, never
/// in the middle of another, and is harmless after the program ended.
class ProgramEventSink : public TimerTickSink {
public:
    virtual ~ProgramEventSink() = default;
    /// A button was pressed or a popup item chosen.
    virtual void controlClicked(ControlName control) = 0;
    /// The user moved slider |index| to |value| (arrow, track, keyboard, thumb released).
    virtual void motionSliderMoved(int index, int value) = 0;
    /// The same as a raw scroll action; |thumbPosition| counts only for ThumbReleased.
    virtual void motionSliderScrolled(int index, ScrollAction action, int thumbPosition) = 0;
    /// The user set check box |index| to |value| (0 or 1).
    virtual void optionCheckChanged(int index, int value) = 0;
    virtual void trayEvent(TrayEvent event) = 0;
    /// The window's close box.
    virtual void closeRequested() = 0;
    /// The window was minimized or restored.
    virtual void windowResized() = 0;
    /// The system asks the program to end (session end, logout, shutdown, SIGTERM).
    virtual void sessionEnding() = 0;
    /// After a resume or unlock: the system may have dropped the key capture. Also once the
    /// process continues after suspendKeyCapture().
    virtual void renewKeyCapture() = 0;
    /// The foreground window or the input desktop changed: the keys' releases may no longer
    /// reach the capture (Pointer::inReach tells). Only some backends can tell.
    virtual void inputMayBeOutOfReach() {}
    /// The process is about to stop (Ctrl+Z in its terminal): the key capture and any button
    /// it pressed must go first, since a stopped process can neither serve nor release them.
    virtual void suspendKeyCapture() = 0;
    /// A later launch asks this running copy to show its settings window or to end (as
    /// "&Exit" does). False, with |reason|, when it could not be done all.
    virtual bool instanceRequest(LaunchRequest request, std::string& reason)
    {
        (void)request;
        reason = "the running copy takes no requests";
        return false;
    }
    /// The watched settings store may have changed. |watching| false: the store can no longer
    /// be watched, and is read on every tick from now on.
    virtual void storeChanged(bool watching) = 0;
};
