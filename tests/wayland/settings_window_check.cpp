// Opens the settings window as the popup's "Settings" does, through Pavro's own start-up and
// Qt backends, on whatever Qt platform is chosen; prints the window's client size, whether the
// display showed it, and every control's geometry; saves a picture; then takes the menu's exit.
// Usage: settings_window_check PICTURE.png

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <iostream>

#include "engine/pointer_control.h"
#include "pavro_version.h"
#include "platform/evdev/evdev_key_source.h"
#include "platform/evdev/evdev_pointer.h"
#include "platform/posix/posix_input_loop.h"
#include "platform/qt/qt_instance_lock.h"
#include "platform/qt/qt_repeating_timer.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_settings_window.h"
#include "platform/qt/qt_tray_icon.h"
#include "shell/tray_program.h"
#include "tests/qt/qt_test_peers.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Pavro"));
    if (argc != 2)
        return 2;

    EvdevKeySource keys;
    EvdevPointer pointer;
    PointerControl core(keys, pointer, pointer);
    PosixInputLoop input(core, keys);
    QtSettingsStore store;
    QtSettingsWindow window;
    QtTrayIcon tray(&std::cerr);
    QtRepeatingTimer timer;
    QtInstanceLock instance(QStringLiteral("Pavro"), &std::cerr);
    ProgramPlatform platform{input, store, window, tray, timer, instance,
                          AppVersion{PAVRO_VERSION_MAJOR, PAVRO_VERSION_MINOR, PAVRO_VERSION_REVISION},
                          QLocale::system().decimalPoint().toStdString(), &std::cerr};
    TrayProgram program(platform);  // the window, tray icon and timer report to it from here on
    program.onStartup();
    if (program.ended())
        return 3;

    program.controlClicked(ControlName::SettingsMenuItem);
    QWidget* top = TestPeer<QtSettingsWindow>::widget(window);
    QElapsedTimer waited;
    waited.start();
    while (!(top->windowHandle() && top->windowHandle()->isExposed()) && waited.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();

    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("exposed %d\n", top->windowHandle() && top->windowHandle()->isExposed() ? 1 : 0);
    std::printf("client %dx%d\n", top->width(), top->height());
    for (const QWidget* child : top->findChildren<QWidget*>()) {
        if (!child->isVisible())
            continue;
        const QRect r = child->geometry();
        std::printf("control %s %d,%d %dx%d\n", child->metaObject()->className(), r.x(), r.y(), r.width(),
                    r.height());
    }
    top->grab().save(QString::fromLocal8Bit(argv[1]));
    std::fflush(stdout);

    // The exit ends the event loop, so it is taken from inside the loop.
    QTimer::singleShot(0, [&program] { program.controlClicked(ControlName::ExitMenuItem); });
    return QApplication::exec();
}
