#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

/// Which of the program's two images an icon shows.
enum class TrayImage : std::uint8_t {
    None,      ///< no image set yet
    Inactive,  ///< pointer control off
    Active,    ///< pointer control on; also the window's and the program file's icon
};

/// The one tray-icon record. The fields carry the values of the classic notification-area
/// call; a backend maps them onto what its platform really takes.
struct TrayIconData {
    std::uint32_t cbSize = 0;
    std::uintptr_t hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;  ///< 1 message, 2 icon, 4 tip
    std::uint32_t uCallbackMessage = 0;
    TrayImage hIcon = TrayImage::None;
    /// A fixed 20-character field; the tooltip is the text up to the first NUL.
    std::array<char16_t, 20> szTip{};

    /// The tooltip as shown: szTip up to its first NUL, as UTF-8 (the field is ASCII in practice).
    std::string tipText() const;
};

/// Pointer events on the icon, as codes the backend reports back to Form1::trayEvent.
inline constexpr std::int32_t kTrayLeftDoubleClick = 515;
inline constexpr std::int32_t kTrayRightButtonUp = 517;

/// The program's icon in the desktop's notification area.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    /// Shows the icon; false when the platform refused. With no notification area yet, the
    /// icon must appear once one does.
    virtual bool add(const TrayIconData& data) = 0;
    /// Changes the image (and tip) of the icon added before.
    virtual bool modify(const TrayIconData& data) = 0;
    /// Removes the icon; harmless when none is shown.
    virtual bool remove(const TrayIconData& data) = 0;
    /// A balloon message from the icon, for failures the user must hear about. Where the
    /// platform has no balloons the backend falls back to a dialog.
    virtual void showMessage(std::string_view title, std::string_view text) = 0;
};

inline std::string TrayIconData::tipText() const
{
    std::string text;
    for (char16_t c : szTip) {
        if (c == u'\0')
            break;
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return text;
}
