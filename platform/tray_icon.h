#pragma once

#include <cstdint>
#include <string_view>

class ProgramEventSink;

/// Which of the program's two images an icon shows.
enum class TrayImage : std::uint8_t {
    None,      ///< no image set yet
    Inactive,  ///< pointer control off
    Active,    ///< pointer control on; also the window's and the program file's icon
};

/// The program's icon in the desktop's notification area. Of the pointer events on it, a
/// left double click and the right button's release reach the sink's trayEvent; a single
/// click does nothing.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    /// Where the icon's events go from now on; none (nullptr): dropped.
    virtual void setEventSink(ProgramEventSink* sink) = 0;
    /// Shows the icon with |image| and the tooltip |tip|; false when the platform refused.
    /// With no notification area yet, the icon must appear once one does.
    virtual bool add(TrayImage image, std::string_view tip) = 0;
    /// Changes the image of the icon added before.
    virtual bool modify(TrayImage image) = 0;
    /// Removes the icon; harmless when none is shown.
    virtual bool remove() = 0;
    /// A balloon message from the icon, for failures the user must hear about. Where the
    /// platform has no balloons the backend falls back to a dialog.
    virtual void showMessage(std::string_view title, std::string_view text) = 0;
};
