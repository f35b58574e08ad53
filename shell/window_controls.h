#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/program_event_sink.h"
#include "platform/window_layout.h"

/// A slider's range and steps, and its value (always within the range).
struct SliderControl {
    std::int16_t minimum = 0;
    std::int16_t maximum = 0;
    std::int16_t arrowStep = 0;
    std::int16_t pageStep = 0;
    std::int16_t value = 0;
};

inline constexpr const char* kCaptionTurnOn = "&Turn On";
inline constexpr const char* kCaptionTurnOff = "&Turn Off";

/// The four rows' numbers (standard speed, fast speed, switch-to-fast delay, refresh): the
/// fields' and sliders' initial values, what "&Default" restores and what a stored field
/// that is missing reads as.
inline constexpr std::array<std::int16_t, 4> kRowDefaults{25, 80, 250, 25};

/// The row of the tick interval, and the check box that starts pointer control on.
inline constexpr int kTickIntervalRow = 3;
inline constexpr int kStartOnCheck = 0;

/// The repeating timer of the window: the enabled flag and the interval in ms, which starts
/// at the refresh row's default.
struct TimerControl {
    bool enabled = false;
    std::int32_t interval = kRowDefaults[kTickIntervalRow];
};

/// The settings window as created: its caption, client area and every control with its
/// place, tab order, range, initial value and caption, then the popup menu. The one place
/// these facts are written: the views build themselves from it, WindowControls starts from it.
const WindowLayout& settingsWindowLayout();

/// The window's controls as the logic holds them, as created from settingsWindowLayout().
struct WindowControls {
    WindowControls();

    std::array<std::string, 4> motionFields;
    std::array<SliderControl, 4> motionSliders;
    std::array<std::int16_t, 2> optionChecks{};
    std::string onOffButtonCaption;
    std::string onOffMenuCaption;
    std::string caption;
    TimerControl tickTimer{};
};
