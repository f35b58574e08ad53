#include "platform/qt/qt_tray_icon.h"

#include <QMessageBox>

#include "shell/form1.h"

QtTrayIcon::QtTrayIcon()
{
    QObject::connect(&m_icon, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (!m_form)
            return;
        // A double click arrives as Trigger followed by DoubleClick: only the second counts,
        // so a single click stays without effect. On X11, Context comes with the right button
        // press; Qt reports no release for the icon, so the press stands for it.
        if (reason == QSystemTrayIcon::DoubleClick)
            m_form->trayEvent(kTrayLeftDoubleClick);
        else if (reason == QSystemTrayIcon::Context)
            m_form->trayEvent(kTrayRightButtonUp);
    });
}

void QtTrayIcon::attach(Form1& form)
{
    m_form = &form;
}

// The icons are compiled into this static library; nothing else refers to that object, so the
// linker would drop it unless it is named here. Q_INIT_RESOURCE must not be used inside a
// namespace.
static void loadIconResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(pavro);
        return true;
    }();
    (void)loaded;
}

QIcon QtTrayIcon::icon(TrayImage image)
{
    loadIconResources();
    switch (image) {
    case TrayImage::Active:
        return QIcon(QStringLiteral(":/icons/pavro-active.ico"));
    case TrayImage::Inactive:
        return QIcon(QStringLiteral(":/icons/pavro-inactive.ico"));
    case TrayImage::None:
        break;
    }
    return {};
}

void QtTrayIcon::apply(const TrayIconData& data)
{
    if (data.uFlags & 2u)
        m_icon.setIcon(icon(data.hIcon));
    if (data.uFlags & 4u)
        m_icon.setToolTip(QString::fromStdString(data.tipText()));
}

bool QtTrayIcon::add(const TrayIconData& data)
{
    apply(data);
    // With no notification area yet, show() only records the wish: Qt docks the icon as soon
    // as a tray host takes the selection.
    m_icon.show();
    return true;
}

bool QtTrayIcon::modify(const TrayIconData& data)
{
    apply(data);
    return true;
}

bool QtTrayIcon::remove(const TrayIconData&)
{
    m_icon.hide();
    return true;
}

void QtTrayIcon::showMessage(std::string_view title, std::string_view text)
{
    const QString qtTitle = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    const QString qtText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (m_icon.isVisible() && QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages()) {
        m_icon.showMessage(qtTitle, qtText, QSystemTrayIcon::Warning, 15000);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, qtTitle, qtText, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}
