// Sweepra.exe: deletes Pavro's stored settings, then shows an empty window "Form1" until
// the user closes it.

#include <windows.h>

#include "platform/win32/win32_registry_store.h"
#include "platform/win32/win32_resources.h"
#include "platform/win32/win32_screen_dpi.h"
#include "remover/sweepra.h"

namespace {

// Client area 4680 x 3090 twips: 312 x 206 pixels at 96 dpi.
constexpr int kClientWidthTwips = 4680;
constexpr int kClientHeightTwips = 3090;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    Win32RegistryStore store;
    // A missing section is nothing to report; a refusal is: the user ran this to delete.
    if (deleteStoredSettings(store, nullptr) == StoreStatus::Failed)
        MessageBoxW(nullptr, L"The stored settings of Pavro could not be deleted.", L"Sweepra",
                    MB_OK | MB_ICONWARNING);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PAVRO_INACTIVE));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"SweepraForm1";
    if (RegisterClassExW(&windowClass) == 0)
        return 1;

    const int dpi = win32ScreenDpi();
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frame{0, 0, MulDiv(kClientWidthTwips, dpi, 1440), MulDiv(kClientHeightTwips, dpi, 1440)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Form1", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                  nullptr);
    if (window == nullptr)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
