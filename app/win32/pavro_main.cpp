// Pavro.exe: builds the Win32 backends and the input loop's thread, hands them to TrayProgram and runs
// the UI thread's message loop.

#include <windows.h>

#include <ostream>

#include "engine/pointer_control.h"
#include "pavro_version.h"
#include "platform/win32/win32_capture_watch.h"
#include "platform/win32/win32_diagnostic_log.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_input_injector.h"
#include "platform/win32/win32_input_loop.h"
#include "platform/win32/win32_instance_lock.h"
#include "platform/win32/win32_keyboard_hook.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_pointer.h"
#include "platform/win32/win32_registry_store.h"
#include "platform/win32/win32_repeating_timer.h"
#include "platform/win32/win32_settings_window.h"
#include "platform/win32/win32_tick_timer.h"
#include "platform/win32/win32_tray_icon.h"
#include "shell/tray_program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // A GUI program has no console: what the user must know is shown, and the reasons are
    // kept in a short log for later.
    Win32DiagnosticLog logFile(L"Pavro");
    std::ostream log(&logFile);
    // One copy per logged-on session; the name is this program's alone.
    Win32InstanceLock instanceLock("Local\\Pavro.Form1.SingleInstance");
    // The key path: used on the input loop's thread only, once the loop runs.
    Win32KeyboardHook keys;
    Win32InputInjector injector;
    Win32Pointer pointer;
    Win32TickTimer tickTimer;
    PointerControl pointerControl(keys, injector, pointer);
    Win32RegistryStore store{std::string(kAppName)};
    Win32RepeatingTimer timer;
    Win32SettingsWindow window(instance);
    if (!window.create()) {
        const std::string text = "Pavro could not create its window: " + window.lastError();
        log << text << '\n';
        MessageBoxW(nullptr, win32Widen(text).c_str(), L"Pavro", MB_OK | MB_ICONERROR);
        return 1;
    }
    // The watch reports to the window, which has the program renew the capture or let go of what is
    // held; the loop stops it before it goes.
    Win32CaptureWatch watch(keys, window.handle(), &log);
    Win32InputLoop input(pointerControl, &watch, tickTimer);
    Win32TrayIcon tray(instance, window.handle());
    window.addMessageHandler(tray);

    ProgramPlatform platform{input,
                          store,
                          window,
                          tray,
                          timer,
                          instanceLock,
                          AppVersion{PAVRO_VERSION_MAJOR, PAVRO_VERSION_MINOR, PAVRO_VERSION_REVISION},
                          win32DecimalSeparator(),
                          &log};
    // The window, tray icon and timer report to the program from its construction on.
    TrayProgram program(platform);

    program.onStartup();
    if (program.ended()) {
        // A second launch that could not switch the running copy: this program has no console.
        // The program has logged the reason; with the log shared, a second copy can write it.
        if (program.exitCode() != 0)
            MessageBoxW(nullptr, win32Widen(program.exitReason()).c_str(), L"Pavro", MB_OK | MB_ICONERROR);
        return program.exitCode();
    }
    log << "Pavro " << PAVRO_VERSION_TEXT << " started\n";

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.preTranslateMessage(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // WM_QUIT without the real exit (someone destroyed the window): end as "&Exit" would.
    program.sessionEnding();
    log << "Pavro ended\n";
    // A session that ends may take the process at any moment: no box waits for the user then.
    if (program.exitSaveFailed() && !window.sessionEnded())
        MessageBoxW(nullptr,
                    L"Pavro could not save all of its settings: the next start may use older values. "
                    L"The log in %LOCALAPPDATA%\\Pavro tells more.",
                    L"Pavro", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    return static_cast<int>(message.wParam);
}
