// Pavro.exe: builds the Win32 backends, hands them to Form1 and runs the message loop.

#include <windows.h>

#include <iostream>

#include "pavro_version.h"
#include "platform/win32/win32_input_injector.h"
#include "platform/win32/win32_instance_lock.h"
#include "platform/win32/win32_keyboard_hook.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_pointer.h"
#include "platform/win32/win32_registry_store.h"
#include "platform/win32/win32_repeating_timer.h"
#include "platform/win32/win32_settings_window.h"
#include "platform/win32/win32_tray_icon.h"
#include "shell/form1.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // One copy per logged-on session; the name is this program's alone.
    Win32InstanceLock instanceLock("Local\\Pavro.Form1.SingleInstance");
    Win32KeyboardHook keys;
    Win32InputInjector injector;
    Win32Pointer pointer;
    Win32RegistryStore store;
    Win32RepeatingTimer timer;
    Win32SettingsWindow window(instance);
    if (!window.create()) {
        const std::string text = "Pavro could not create its window: " + window.lastError();
        MessageBoxA(nullptr, text.c_str(), "Pavro", MB_OK | MB_ICONERROR);
        return 1;
    }
    Win32TrayIcon tray(instance, window.handle());
    window.addMessageHandler(tray);

    FormPlatform platform{keys,
                          injector,
                          pointer,
                          store,
                          window,
                          tray,
                          timer,
                          instanceLock,
                          AppVersion{PAVRO_VERSION_MAJOR, PAVRO_VERSION_MINOR, PAVRO_VERSION_REVISION},
                          win32DecimalSeparator(),
                          &std::cerr};
    // The window, tray icon and timer report to the form from its construction on.
    Form1 form(platform);

    form.Form_Load();
    if (form.ended())
        return 0;

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.preTranslateMessage(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // WM_QUIT without the real exit (someone destroyed the window): end as "&Exit" would.
    form.sessionEnding();
    return static_cast<int>(message.wParam);
}
