// Test fixture for the Wine end-to-end tests: a focused window that writes every keyboard
// and left-button message it receives to the file named on its command line, one line each
// ("KEYDOWN 39", "SYSKEYDOWN 18", "LBUTTONDOWN"), flushed at once. The pointer-control
// program must keep the arrows and Enter from ever showing up here.
// With "--taskbar-created" instead of a file it only tells every top-level window that the
// taskbar was created, as the shell does after a restart or a display-scale change, and ends.
// With "--left-button" it only tells by its exit status whether the desktop's left button is
// down (1) or up (0), as the system's input state has it (injected presses included).
// With "--refusing-tray FILE" it stands in for a taskbar whose notification area is not ready
// (at logon): a "Shell_TrayWnd" window, found before the shell's own, that refuses every icon.
// It writes FILE once it is there and ends when FILE is deleted.
// With "--pointer FILE" it is the same focused window and also logs every change of the
// pointer's position, polled each millisecond, as "MOVE x y milliseconds" (performance counter).

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

std::FILE* g_log = nullptr;
CRITICAL_SECTION g_logLock;

void logLine(const char* what, unsigned long value, bool withValue)
{
    if (g_log == nullptr)
        return;
    EnterCriticalSection(&g_logLock);
    if (withValue)
        std::fprintf(g_log, "%s %lu\n", what, value);
    else
        std::fprintf(g_log, "%s\n", what);
    std::fflush(g_log);
    LeaveCriticalSection(&g_logLock);
}

DWORD WINAPI pointerThread(LPVOID)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    POINT last{-1, -1};
    for (;;) {
        POINT now{};
        if (GetCursorPos(&now) && (now.x != last.x || now.y != last.y)) {
            LARGE_INTEGER counter{};
            QueryPerformanceCounter(&counter);
            EnterCriticalSection(&g_logLock);
            std::fprintf(g_log, "MOVE %ld %ld %.3f\n", now.x, now.y,
                         double(counter.QuadPart) * 1000.0 / double(frequency.QuadPart));
            std::fflush(g_log);
            LeaveCriticalSection(&g_logLock);
            last = now;
        }
        Sleep(1);
    }
}

LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
        logLine("KEYDOWN", static_cast<unsigned long>(wParam), true);
        return 0;
    case WM_KEYUP:
        logLine("KEYUP", static_cast<unsigned long>(wParam), true);
        return 0;
    case WM_SYSKEYDOWN:
        logLine("SYSKEYDOWN", static_cast<unsigned long>(wParam), true);
        return 0;
    case WM_SYSKEYUP:
        logLine("SYSKEYUP", static_cast<unsigned long>(wParam), true);
        return 0;
    case WM_LBUTTONDOWN:
        logLine("LBUTTONDOWN", 0, false);
        return 0;
    case WM_LBUTTONUP:
        logLine("LBUTTONUP", 0, false);
        return 0;
    case WM_SETFOCUS:
        logLine("FOCUS", 0, false);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK refusingTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return FALSE;
    return DefWindowProcA(window, message, wParam, lParam);
}

int refusingTray(HINSTANCE instance, const char* readyFile)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = refusingTrayProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&windowClass);
    if (CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "Shell_TrayWnd", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                        instance, nullptr)
        == nullptr)
        return 1;
    std::FILE* ready = std::fopen(readyFile, "wb");
    if (ready == nullptr)
        return 1;
    std::fclose(ready);
    while (GetFileAttributesA(readyFile) != INVALID_FILE_ATTRIBUTES) {
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    if (commandLine == nullptr || commandLine[0] == '\0')
        return 2;
    if (std::strcmp(commandLine, "--taskbar-created") == 0)
        return PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0) ? 0 : 1;
    if (std::strcmp(commandLine, "--left-button") == 0)
        return (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0 ? 1 : 0;
    if (std::strncmp(commandLine, "--refusing-tray ", 16) == 0)
        return refusingTray(instance, commandLine + 16);
    InitializeCriticalSection(&g_logLock);
    const bool pointer = std::strncmp(commandLine, "--pointer ", 10) == 0;
    if (pointer)
        commandLine += 10;
    // Binary mode: plain "\n" line ends for the shell that reads the log.
    g_log = std::fopen(commandLine, "wb");
    if (g_log == nullptr)
        return 2;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = probeProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "PavroProbe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "PavroProbe", "PavroProbe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 700,
                                  500, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    SetForegroundWindow(window);
    SetFocus(window);
    if (pointer)
        CreateThread(nullptr, 0, pointerThread, nullptr, 0, nullptr);

    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    std::fclose(g_log);
    return 0;
}
