#include "platform/qt/qt_tray_icon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QStyleHints>

#include <cstddef>
#include <ostream>

#include "pavro_icon_pixels.h"
#include "platform/program_event_sink.h"

namespace {

// A panel started in the same login as Pavro may take a moment to claim the notification area.
constexpr int kTrayGraceMs = 8000;

constexpr const char* kNoTrayText =
    "No notification area (system tray) was found. Pavro keeps running and its icon appears when a "
    "panel with a notification area starts; meanwhile, start Pavro again to switch pointer control "
    "on or off.";

// Whether the session bus has a desktop notification service, running or started on demand.
bool notificationServiceAvailable()
{
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr)
        return false;
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    return bus->isServiceRegistered(service).value() || bus->activatableServiceNames().value().contains(service);
}

// Whether a StatusNotifierWatcher is on the session bus: without one Qt never makes the icon a
// StatusNotifierItem.
bool statusNotifierWatcherPresent()
{
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus != nullptr && bus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

} // namespace

QtTrayIcon::QtTrayIcon(ErrorStream errors) : m_errors(errors)
{
    m_trayCheck.setSingleShot(true);
    m_trayCheck.setInterval(kTrayGraceMs);
    QObject::connect(&m_trayCheck, &QTimer::timeout, [this] {
        if (m_icon.isVisible() && !QSystemTrayIcon::isSystemTrayAvailable())
            reportMissingTray();
    });
    QObject::connect(&m_icon, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
}

void QtTrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (!m_sink)
        return;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        // An XEmbed icon follows the first click of a double click with DoubleClick; a
        // StatusNotifierItem host only ever activates, once per click.
        if (m_statusNotifierItem && pairsWithLastActivation())
            m_sink->trayEvent(TrayEvent::LeftDoubleClick);
        break;
    case QSystemTrayIcon::DoubleClick:
        m_sink->trayEvent(TrayEvent::LeftDoubleClick);
        break;
    case QSystemTrayIcon::Context:
        // On X11 Context comes with the right button press; Qt reports no release for the
        // icon, so the press stands for it. A StatusNotifierItem host sends it only when it
        // asks the item to show its menu itself.
        m_sink->trayEvent(TrayEvent::RightButtonUp);
        break;
    default:
        break;
    }
}

bool QtTrayIcon::pairsWithLastActivation()
{
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    if (m_sinceActivation.isValid() && m_sinceActivation.elapsed() <= interval) {
        // A third activation right after a pair starts a new pair rather than completing one.
        m_sinceActivation.invalidate();
        return true;
    }
    m_sinceActivation.start();
    return false;
}

void QtTrayIcon::exportMenu()
{
    // The popup is made here only where it may be exported: elsewhere it stays unmade until it
    // first pops up (a menu brings the widget style with it, 0.2 MB).
    if (!m_menuSource || !statusNotifierWatcherPresent())
        return;
    QMenu* menu = m_menuSource();
    if (menu == nullptr)
        return;
    // Qt gives a context menu a platform menu, which it exports over DBusMenu, only when it
    // made the icon a StatusNotifierItem: that is how the kind of host is known. An XEmbed icon
    // keeps no context menu, as Qt would pop it up on the right button's press by itself, past
    // the logic that pops it up.
    m_icon.setContextMenu(menu);
    m_statusNotifierItem = menu->platformMenu() != nullptr;
    if (!m_statusNotifierItem)
        m_icon.setContextMenu(nullptr);
}

// The images are made from pixels compiled in, not decoded from a file: an image decoder and
// the plugins it looks through would stay in the program's memory for as long as it runs. Each
// image comes at every size it was drawn for, so a panel or window list gets its exact size.
QIcon QtTrayIcon::icon(TrayImage image)
{
    const std::uint32_t* pixels = nullptr;
    switch (image) {
    case TrayImage::Active:
        pixels = kActiveIconPixels;
        break;
    case TrayImage::Inactive:
        pixels = kInactiveIconPixels;
        break;
    case TrayImage::None:
        break;
    }
    QIcon icon;
    // Width and height come first, a width of 0 ends the list; the image reads the pixels in
    // place, the pixmap copies them.
    while (pixels != nullptr && pixels[0] != 0) {
        const int width = static_cast<int>(pixels[0]);
        const int height = static_cast<int>(pixels[1]);
        icon.addPixmap(QPixmap::fromImage(
            QImage(reinterpret_cast<const uchar*>(pixels + 2), width, height, QImage::Format_ARGB32)));
        pixels += 2 + static_cast<std::ptrdiff_t>(width) * height;
    }
    return icon;
}

bool QtTrayIcon::add(TrayImage image, std::string_view tip)
{
    m_icon.setIcon(icon(image));
    m_icon.setToolTip(QString::fromUtf8(tip.data(), static_cast<qsizetype>(tip.size())));
    exportMenu();
    // With no notification area yet, show() only records the wish: Qt docks the icon as soon
    // as a tray host takes the selection.
    m_icon.show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        m_trayCheck.start();
    return true;
}

void QtTrayIcon::reportMissingTray()
{
    if (m_errors)
        *m_errors << "Pavro: " << kNoTrayText << '\n' << std::flush;
    showMessage("Pavro", kNoTrayText);
}

bool QtTrayIcon::modify(TrayImage image)
{
    m_icon.setIcon(icon(image));
    return true;
}

bool QtTrayIcon::remove()
{
    m_trayCheck.stop();
    m_icon.hide();
    return true;
}

void QtTrayIcon::showMessage(std::string_view title, std::string_view text)
{
    const QString qtTitle = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    const QString qtText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (m_icon.isVisible() && QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages()) {
        // An XEmbed icon shows Qt's own balloon beside it. A StatusNotifierItem's message is a
        // desktop notification, sent whether or not a service will show it.
        m_icon.showMessage(qtTitle, qtText, QSystemTrayIcon::Warning, 15000);
        if (!m_statusNotifierItem || notificationServiceAvailable())
            return;
    }
    showDialog(qtTitle, qtText);
}

void QtTrayIcon::showDialog(const QString& qtTitle, const QString& qtText)
{
    auto* box = new QMessageBox(QMessageBox::Warning, qtTitle, qtText, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}
