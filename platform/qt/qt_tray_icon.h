#pragma once

#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

#include <iosfwd>

#include "platform/error_stream.h"
#include "platform/tray_icon.h"

/// The notification-area icon: a QSystemTrayIcon showing the active or the inactive image
/// (compiled into the program). A single left click does nothing. With no notification area the
/// icon waits and docks once one appears; if none has appeared a few seconds after start, the
/// user is told (a dialog, and a line on |errors|) how to switch pointer control meanwhile.
class QtTrayIcon final : public TrayIcon {
public:
    explicit QtTrayIcon(ErrorStream errors = {});

    void setEventSink(FormEventSink* sink) override { m_sink = sink; }
    bool add(TrayImage image, std::string_view tip) override;
    bool modify(TrayImage image) override;
    bool remove() override;
    void showMessage(std::string_view title, std::string_view text) override;

    /// The image of |image|, as the tray and the window show it.
    static QIcon icon(TrayImage image);

private:
    void reportMissingTray();

    QSystemTrayIcon m_icon;
    QTimer m_trayCheck;
    ErrorStream m_errors;
    FormEventSink* m_sink = nullptr;
};
