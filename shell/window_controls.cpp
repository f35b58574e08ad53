#include "shell/window_controls.h"

#include "engine/numbers.h"

namespace {

constexpr SliderRange kSpeedRange{0, 150, 5, 25};
constexpr SliderRange kDelayRange{0, 1500, 50, 250};

// Each kind's fixed properties: the fields are disabled, the second check box is hidden.
constexpr ControlSpec textBox(int row, TwipRect rect, int tab)
{
    return {ControlName::MotionField, row, ControlKind::TextBox, rect, tab, {}, {}, kRowDefaults[row], false};
}
constexpr ControlSpec label(int row, TwipRect rect, int tab, std::string_view caption)
{
    return {ControlName::MotionLabel, row, ControlKind::Label, rect, tab, caption};
}
constexpr ControlSpec slider(int row, TwipRect rect, int tab, SliderRange range)
{
    return {ControlName::MotionSlider, row, ControlKind::Slider, rect, tab, {}, range, kRowDefaults[row]};
}
constexpr ControlSpec button(ControlName name, TwipRect rect, int tab, std::string_view caption)
{
    return {name, 0, ControlKind::Button, rect, tab, caption};
}
constexpr ControlSpec checkBox(int index, TwipRect rect, int tab, std::string_view caption, bool visible)
{
    return {ControlName::OptionCheck, index, ControlKind::CheckBox, rect, tab, caption, {}, 0, true, visible};
}
constexpr ControlSpec menuItem(ControlName name, std::string_view caption)
{
    return {name, 0, ControlKind::MenuItem, {}, -1, caption};
}

// In tab order, which is also the order in which the views create the controls.
constexpr std::array kControls{
    textBox(0, {4080, 120, 495, 285}, 0),
    textBox(1, {4080, 480, 495, 285}, 1),
    textBox(2, {4080, 840, 495, 285}, 2),
    textBox(3, {4080, 1200, 495, 285}, 3),
    button(ControlName::OnOffButton, {4680, 600, 855, 1200}, 4, kCaptionTurnOn),
    label(0, {120, 120, 975, 255}, 5, "Std Speed:"),
    label(1, {120, 480, 975, 255}, 6, "Fast Speed:"),
    label(2, {120, 840, 1695, 255}, 7, "Switch to Fast in (ms):"),
    label(3, {120, 1200, 1455, 255}, 8, "Refresh Rate (ms):"),
    checkBox(0, {120, 1560, 3855, 255}, 9, "Set cursor as default mode", true),
    checkBox(1, {3600, 1800, 1935, 255}, 10, "Use Q1 Hardware Scancode", false),
    button(ControlName::DefaultsButton, {4680, 120, 855, 375}, 11, "&Default"),
    slider(0, {1920, 125, 2055, 255}, 12, kSpeedRange),
    slider(1, {1920, 485, 2055, 255}, 13, kSpeedRange),
    slider(2, {1920, 844, 2055, 255}, 14, kDelayRange),
    slider(3, {1920, 1204, 2055, 255}, 15, kSpeedRange),
    menuItem(ControlName::OnOffMenuItem, kCaptionTurnOn),
    menuItem(ControlName::SettingsMenuItem, "Settings"),
    menuItem(ControlName::ExitMenuItem, "&Exit"),
};

static_assert(
    [] {
        int next = 0;
        for (const ControlSpec& control : kControls)
            if (control.kind != ControlKind::MenuItem && control.tabIndex != next++)
                return false;
        return true;
    }(),
    "the controls are listed in tab order");

constexpr WindowLayout kLayout{"Cursor", 5595, 1860, kControls};

} // namespace

const WindowLayout& settingsWindowLayout()
{
    return kLayout;
}

WindowControls::WindowControls() : caption(kLayout.caption)
{
    for (const ControlSpec& control : kLayout.controls) {
        const auto i = static_cast<std::size_t>(control.index);
        switch (control.name) {
        case ControlName::MotionField:
            motionFields[i] = decimalText(control.value);
            break;
        case ControlName::MotionSlider: {
            const SliderRange& range = control.range;
            motionSliders[i] = {range.minimum, range.maximum, range.arrowStep, range.pageStep, control.value};
            break;
        }
        case ControlName::OptionCheck:
            optionChecks[i] = control.value;
            break;
        case ControlName::OnOffButton:
            onOffButtonCaption = control.caption;
            break;
        case ControlName::OnOffMenuItem:
            onOffMenuCaption = control.caption;
            break;
        default:
            break;
        }
    }
}
