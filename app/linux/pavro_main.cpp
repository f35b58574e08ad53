// Pavro on Linux: Qt for the window, tray, timer and store; Xlib for keys, clicks and pointer in
// an X11 session, evdev and uinput in a Wayland one.

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>

#include <cstdio>
#include <cstdlib>
#include <ext/stdio_sync_filebuf.h>
#include <ostream>

#include "linux_input.h"
#include "pavro_version.h"
#include "platform/qt/qt_exit_signals.h"
#include "platform/qt/qt_instance_lock.h"
#include "platform/qt/qt_repeating_timer.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_settings_window.h"
#include "platform/qt/qt_tray_icon.h"
#include "shell/tray_program.h"

namespace {

// The running program while its event loop runs, for the exit handler below.
TrayProgram* g_runningForExit = nullptr;

// WORKAROUND: a broken display connection ends the process from inside Qt's xcb plugin (and
// Xlib's I/O error handler) with exit(1), past everything the program would do on its own.
// exit() still runs the handlers registered with atexit, so the settings are saved here.
extern "C" void saveOnAbruptExit()
{
    if (g_runningForExit != nullptr)
        g_runningForExit->displayLost();
}

// Standard error, made when the first message comes (see ErrorStream): no <iostream> here,
// which would set up its streams and the C++ locale at start for every run. The buffer is the
// one std::cerr itself writes through.
std::ostream& standardError()
{
    static __gnu_cxx::stdio_sync_filebuf<char> buffer(stderr);
    static std::ostream stream(&buffer);
    return stream;
}

// What the command line asks for; ends the program with a usage message when it asks for
// nothing known.
LaunchRequest launchRequest(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Drive the mouse pointer with the arrow keys and Enter. Without an option: starts Pavro, or "
        "switches pointer control in the copy that runs."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Show the running copy's settings window (starting Pavro "
                                                     "when none runs)."));
    const QCommandLineOption exit(QStringLiteral("exit"),
                                  QStringLiteral("End the running copy as its Exit menu item does, saving the "
                                                 "settings."));
    parser.addOption(settings);
    parser.addOption(exit);
    const bool parsed = parser.parse(app.arguments());
    if (parsed && parser.isSet(help))
        parser.showHelp(0);
    if (parsed && parser.isSet(version))
        parser.showVersion();
    if (!parsed || !parser.positionalArguments().isEmpty() || (parser.isSet(settings) && parser.isSet(exit))) {
        if (!parsed)
            std::fprintf(stderr, "Pavro: %s\n", qPrintable(parser.errorText()));
        std::fputs(qPrintable(parser.helpText()), stderr);
        std::exit(2);
    }
    if (parser.isSet(settings))
        return LaunchRequest::ShowSettings;
    return parser.isSet(exit) ? LaunchRequest::Exit : LaunchRequest::SwitchOnOff;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before the QApplication starts threads of its own, which would inherit it otherwise.
    QtExitSignals::holdStopSignal();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Pavro"));
    QApplication::setApplicationVersion(QStringLiteral(PAVRO_VERSION_TEXT));
    const LaunchRequest request = launchRequest(app);

    // Installed first, so a termination request during start-up waits for the loop and then
    // takes the ordinary exit.
    QtExitSignals exitSignals;

    LinuxInput input;
    QtSettingsStore store;
    QtSettingsWindow window;
    const ErrorStream errors(&standardError);
    QtTrayIcon tray(errors);
    tray.setMenuSource([&window] { return window.trayMenu(); });
    QtRepeatingTimer timer;
    QtInstanceLock instance(QStringLiteral("Pavro"), errors);

    ProgramPlatform platform{input.loop(), store, window, tray, timer, instance,
                          AppVersion{PAVRO_VERSION_MAJOR, PAVRO_VERSION_MINOR, PAVRO_VERSION_REVISION},
                          QLocale::system().decimalPoint().toStdString(), errors};
    // The window, tray icon and timer report to the program from its construction on.
    TrayProgram program(platform);
    exitSignals.setEventSink(&program);

    program.onStartup(request);
    if (program.ended())
        return program.exitCode();
    // Registered after the store was first used, so the store's own static state is torn
    // down after this handler runs, not before.
    g_runningForExit = &program;
    std::atexit(saveOnAbruptExit);
    const int result = QApplication::exec();
    g_runningForExit = nullptr;
    exitSignals.setEventSink(nullptr);
    return result;
}
