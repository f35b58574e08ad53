#pragma once

#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

#include <iosfwd>

#include "platform/tray_icon.h"

class Form1;

/// The notification-area icon: a QSystemTrayIcon showing the active or the inactive image
/// (from the program's resources). It reports a double click as 515 and the right button as
/// 517 to Form1::trayEvent; a single left click does nothing. With no notification area the
/// icon waits and docks once one appears; if none has appeared a few seconds after start, the
/// user is told (a dialog, and a line on |errors|) how to switch pointer control meanwhile.
class QtTrayIcon final : public TrayIcon {
public:
    explicit QtTrayIcon(std::ostream* errors = nullptr);
    void attach(Form1& form);

    bool add(const TrayIconData& data) override;
    bool modify(const TrayIconData& data) override;
    bool remove(const TrayIconData& data) override;
    void showMessage(std::string_view title, std::string_view text) override;

    /// The image of |image|, as the tray and the window show it.
    static QIcon icon(TrayImage image);

private:
    void apply(const TrayIconData& data);
    void reportMissingTray();

    QSystemTrayIcon m_icon;
    QTimer m_trayCheck;
    std::ostream* m_errors = nullptr;
    Form1* m_form = nullptr;
};
