#pragma once

#include <cstdint>
#include <string_view>

#include "platform/window_layout.h"

class ProgramEventSink;

enum class WindowState : std::int16_t { Normal = 0, Minimized = 1 };

/// The settings window and its popup menu as the logic sees it. The logic owns every
/// control's state; the view only mirrors what it is told, and reports the user's actions
/// and the window's events to its ProgramEventSink. Values set here never come back as user
/// actions. Captions carry "&" before the access key; the view shows it as an underline.
class SettingsView {
public:
    virtual ~SettingsView() = default;
    /// Builds the controls and the popup menu from |layout|, hidden until show(). Called once,
    /// before any other call; |layout| outlives the view.
    virtual void createControls(const WindowLayout& layout) = 0;
    /// Where the user's actions and the window's events go from now on; none (nullptr): dropped.
    virtual void setEventSink(ProgramEventSink* sink) = 0;
    virtual void setFieldText(int index, std::string_view text) = 0;  ///< motionFields(0..3), UTF-8
    virtual void setSliderValue(int index, std::int16_t value) = 0;   ///< motionSliders(0..3)
    virtual void setCheckValue(int index, std::int16_t value) = 0;    ///< optionChecks(0..1): 0, 1 or 2 (greyed)
    virtual void setButtonOnOffCaption(std::string_view caption) = 0; ///< OnOffButton
    virtual void setMenuOnOffCaption(std::string_view caption) = 0;   ///< OnOffMenuItem in the popup
    virtual void setCaption(std::string_view caption) = 0;            ///< the window's title
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual WindowState windowState() const = 0;
    virtual void setWindowState(WindowState state) = 0;
    /// Brings the window (or, while hidden, the program) to the front; failures are ignored.
    virtual void setForeground() = 0;
    /// Pops up the menu at the pointer. May return before or after the user chose; a chosen
    /// item is reported as controlClicked.
    virtual void popupMenu() = 0;
    /// Destroys the window and ends the program's event loop (after the current handler returns).
    virtual void unload() = 0;
};
