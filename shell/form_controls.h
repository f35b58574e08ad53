#pragma once

#include <array>
#include <cstdint>
#include <string>

/// A slider's range and steps, and its value (always within the range).
struct SliderControl {
    std::int16_t minimum = 0;
    std::int16_t maximum = 0;
    std::int16_t arrowStep = 0;
    std::int16_t pageStep = 0;
    std::int16_t value = 0;
};

/// The repeating timer of the window: the enabled flag and the interval in ms.
struct TimerControl {
    bool enabled = false;
    std::int32_t interval = 25;
};

/// How the user moved a slider, for backends that report raw scroll actions.
enum class ScrollAction { ArrowLeft, ArrowRight, PageLeft, PageRight, ToMinimum, ToMaximum, ThumbReleased };

inline constexpr const char* kCaptionTurnOn = "&Turn On";
inline constexpr const char* kCaptionTurnOff = "&Turn Off";

/// The window's controls as created, before start-up touches them.
struct FormControls {
    std::array<std::string, 4> Text1{"25", "80", "250", "25"};
    std::array<SliderControl, 4> HScroll1{{
        {0, 150, 5, 25, 25},
        {0, 150, 5, 25, 80},
        {0, 1500, 50, 250, 250},
        {0, 150, 5, 25, 25},
    }};
    std::array<std::int16_t, 2> chkDefault{0, 0};
    std::string cmdOnOffCaption = kCaptionTurnOn;
    std::string mnuOnOffCaption = kCaptionTurnOn;
    std::string caption = "Cursor";
    TimerControl Timer1{};
};
