// The floor Pavro's resident memory is measured against: a Qt Widgets program that does only what
// any tray program must, a hidden top-level window (with its native window created) and a tray
// icon. It prints nothing and runs until it is killed.
// Usage: bare_qt_tray

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QWidget window;
    window.winId();

    QPixmap image(16, 16);
    image.fill(Qt::darkGray);
    QSystemTrayIcon tray{QIcon(image)};
    tray.setToolTip(QStringLiteral("bare"));
    tray.show();
    return QApplication::exec();
}
