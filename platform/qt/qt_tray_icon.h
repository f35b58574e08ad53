#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <iosfwd>

#include "platform/error_stream.h"
#include "platform/tray_icon.h"

class QMenu;

/// The notification-area icon: a QSystemTrayIcon showing the active or the inactive image
/// (compiled into the program). A single left click does nothing. With no notification area the
/// icon waits and docks once one appears; if none has appeared a few seconds after start, the
/// user is told (a dialog, and a line on |errors|) how to switch pointer control meanwhile.
///
/// Qt hosts the icon in one of two ways, chosen once when the icon is made: as an XEmbed window
/// docked in the panel, which sees the mouse itself (a double click, the right button), or as a
/// StatusNotifierItem over D-Bus, whose host draws the icon, calls "Activate" once per click and
/// shows the item's exported menu itself. On the latter, two activations within the desktop's
/// double-click interval are the double click, and the popup (from the menu source) is exported
/// as the item's menu, so the host's own right click offers Pavro's items.
class QtTrayIcon final : public TrayIcon {
public:
    explicit QtTrayIcon(ErrorStream errors = {});

    void setEventSink(ProgramEventSink* sink) override { m_sink = sink; }
    /// Where the popup comes from, for a host that shows the menu itself: asked once, when the
    /// icon is added and a StatusNotifierItem host may be there. The menu must outlive this icon.
    void setMenuSource(std::function<QMenu*()> source) { m_menuSource = std::move(source); }
    bool add(TrayImage image, std::string_view tip) override;
    bool modify(TrayImage image) override;
    bool remove() override;
    /// On a StatusNotifierItem host the message becomes a desktop notification, and a dialog
    /// when the session runs no notification service (a notification would be lost).
    void showMessage(std::string_view title, std::string_view text) override;

    /// The image of |image|, as the tray and the window show it.
    static QIcon icon(TrayImage image);

private:
    void reportMissingTray();
    void activated(QSystemTrayIcon::ActivationReason reason);
    /// True when this activation completes a pair within the double-click interval.
    bool pairsWithLastActivation();
    void exportMenu();
    void showDialog(const QString& title, const QString& text);

    QSystemTrayIcon m_icon;
    QTimer m_trayCheck;
    ErrorStream m_errors;
    ProgramEventSink* m_sink = nullptr;
    std::function<QMenu*()> m_menuSource;
    /// The icon is a StatusNotifierItem: the host reports clicks as activations.
    bool m_statusNotifierItem = false;
    QElapsedTimer m_sinceActivation;  ///< invalid when no activation waits for its pair
};
