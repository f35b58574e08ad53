#pragma once

#include <cstdint>
#include <span>
#include <string_view>

/// The controls of the settings window and of its popup menu. Arrays of controls share one
/// name and are told apart by ControlSpec::index.
enum class ControlName : std::uint8_t {
    MotionField,   ///< the four number fields, disabled
    OnOffButton,
    MotionLabel,   ///< the four row labels
    OptionCheck,   ///< 0 "start with pointer control on", 1 the hidden scancode option
    DefaultsButton,
    MotionSlider,  ///< the four sliders
    OnOffMenuItem,
    SettingsMenuItem,
    ExitMenuItem,
};

enum class ControlKind : std::uint8_t { TextBox, Button, Label, CheckBox, Slider, MenuItem };

/// A position in twips (1/1440 inch; 15 to the pixel at 96 dpi) from the client area's top
/// left corner.
struct TwipRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct SliderRange {
    std::int16_t minimum = 0;
    std::int16_t maximum = 0;
    std::int16_t arrowStep = 0;
    std::int16_t pageStep = 0;
};

/// One control as the window is created.
struct ControlSpec {
    ControlName name{};
    int index = 0;
    ControlKind kind{};
    TwipRect rect{};     ///< menu items have none
    int tabIndex = -1;   ///< position in the keyboard tab order; -1 for menu items
    /// Shown text; "&" marks the next letter as the access key (Alt+letter) and is not shown.
    std::string_view caption{};
    SliderRange range{};     ///< sliders only
    std::int16_t value = 0;  ///< slider position, number in a text box, check box state (0, 1, 2)
    bool enabled = true;
    bool visible = true;
};

/// The whole settings window: its caption, client area in twips and its controls in tab
/// order, then the popup menu's items in menu order. A view builds itself from this, in
/// this order, and reports the user's actions by ControlName and index.
struct WindowLayout {
    std::string_view caption;
    int clientWidth = 0;
    int clientHeight = 0;
    std::span<const ControlSpec> controls;
};
