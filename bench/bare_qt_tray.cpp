// The floor for Pavro's memory: a bare Qt Widgets program with a hidden window and a tray icon,
// nothing else. Runs until it is killed; bench/run reads its resident size beside Pavro's.
#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QWidget window;
    window.hide();
    QPixmap image(32, 32);
    image.fill(QColor(40, 120, 200));
    QSystemTrayIcon tray{QIcon(image)};
    tray.setToolTip(QStringLiteral("bare"));
    tray.show();
    return QApplication::exec();
}
