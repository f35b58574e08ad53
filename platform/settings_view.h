#pragma once

#include <cstdint>
#include <string_view>

enum class WindowState : std::int16_t { Normal = 0, Minimized = 1 };

/// The settings window as the logic sees it. The logic (Form1) owns every control's state;
/// the view only mirrors what it is told and reports the user's actions back to Form1:
///   slider moved (arrow, track, keyboard, thumb released)  -> Form1::HScroll1_UserChange
///   check box clicked                                      -> Form1::chkDefault_UserChange
///   "&Default" / "&Turn On" pressed                        -> Form1::cmdDefault_Click / cmdOnOff_Click
///   close box                                              -> Form1::closeRequested
///   window minimized or restored                           -> Form1::Form_Resize
///   popup item chosen                                      -> Form1::mnuOnOff_Click / mnuSettings_Click / mnuExit_Click
/// Captions carry "&" before the access key; the view shows it as an underline.
class SettingsView {
public:
    virtual ~SettingsView() = default;
    virtual void setFieldText(int index, std::string_view text) = 0;  ///< Text1(0..3), UTF-8
    virtual void setSliderRange(int index, std::int16_t minimum, std::int16_t maximum,
                                std::int16_t arrowStep, std::int16_t pageStep) = 0;
    virtual void setSliderValue(int index, std::int16_t value) = 0;   ///< HScroll1(0..3)
    virtual void setCheckValue(int index, std::int16_t value) = 0;    ///< chkDefault(0..1): 0, 1 or 2 (greyed)
    virtual void setButtonOnOffCaption(std::string_view caption) = 0; ///< cmdOnOff
    virtual void setMenuOnOffCaption(std::string_view caption) = 0;   ///< mnuOnOff in the popup
    virtual void setCaption(std::string_view caption) = 0;            ///< the window's title
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual WindowState windowState() const = 0;
    virtual void setWindowState(WindowState state) = 0;
    /// Brings the window (or, while hidden, the program) to the front; failures are ignored.
    virtual void setForeground() = 0;
    /// Pops up the menu "&Turn On"/"&Turn Off", "Settings", "&Exit" at the pointer. May return
    /// before or after the user chose; a chosen item calls its Form1 handler.
    virtual void popupMenu() = 0;
    virtual std::uintptr_t windowHandle() const = 0;
    /// Twips per pixel horizontally: 15 at 96 dpi.
    virtual int twipsPerPixelX() const = 0;
    /// Destroys the window and ends the program's event loop (after the current handler returns).
    virtual void unload() = 0;
};
