// Pavro on Linux: Qt for the window, tray, timer and store; Xlib for keys, clicks and pointer.

#include <QApplication>
#include <QLocale>
#include <QSessionManager>

#include <iostream>

#include "pavro_version.h"
#include "platform/qt/qt_exit_signals.h"
#include "platform/qt/qt_instance_lock.h"
#include "platform/qt/qt_repeating_timer.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_settings_window.h"
#include "platform/qt/qt_tray_icon.h"
#include "platform/x11/x11_input_injector.h"
#include "platform/x11/x11_key_source.h"
#include "platform/x11/x11_pointer.h"
#include "shell/form1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Pavro"));
    QApplication::setApplicationVersion(QStringLiteral(PAVRO_VERSION_TEXT));

    Form1* running = nullptr;
    // Installed first, so a termination request during start-up waits for the loop and then
    // takes the ordinary exit.
    QtExitSignals exitSignals([&running] {
        if (running)
            running->sessionEnding();
    });

    X11KeySource keys;
    X11InputInjector injector;
    X11Pointer pointer;
    QtSettingsStore store;
    QtSettingsWindow window;
    QtTrayIcon tray(&std::cerr);
    QtRepeatingTimer timer;
    QtInstanceLock instance(QStringLiteral("Pavro"), &std::cerr);

    FormPlatform platform{keys, injector, pointer, store, window, tray, timer, instance,
                          AppVersion{PAVRO_VERSION_MAJOR, PAVRO_VERSION_MINOR, PAVRO_VERSION_REVISION},
                          QLocale::system().decimalPoint().toStdString(), &std::cerr};
    Form1 form(platform);
    window.attach(form);
    tray.attach(form);
    timer.attach(form);
    running = &form;

    // The desktop session ending (logout, shutdown) takes the same exit as "&Exit".
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [&form](QSessionManager&) { form.sessionEnding(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&form] { form.sessionEnding(); });

    form.Form_Load();
    if (form.ended())
        return form.exitCode();
    const int result = QApplication::exec();
    running = nullptr;
    return result;
}
