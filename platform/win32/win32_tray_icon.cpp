#include "platform/win32/win32_tray_icon.h"

#include <cstring>
#include <string>

#include "platform/program_event_sink.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_resources.h"

namespace {

constexpr UINT kIconId = 1;
constexpr UINT kCallbackMessage = WM_MOUSEMOVE;
// At logon the shell's notification area may refuse icons (or time out) for a while after the
// taskbar is there: the icon is tried again at this interval for this long before the user is
// told. The timer's id is apart from the window's own timers.
constexpr UINT_PTR kRetryTimer = 0x7452;
constexpr UINT kRetryMs = 2000;
constexpr DWORD kRetryForMs = 120'000;
constexpr const char* kCouldNotShowText =
    "Pavro could not show its icon in the notification area. Start Pavro again to switch pointer control on or off.";

// The small-icon size at the main monitor's current scale, which the taskbar draws at. Per
// monitor aware, this process's own system metrics keep the scale it started with, so the
// size is asked for at the monitor's dpi where the system can (Windows 10 1607 on).
int smallIconSize()
{
    using DpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    using MetricsForDpi = int(WINAPI*)(int, UINT);
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    const auto dpiForMonitor = shcore != nullptr ? reinterpret_cast<DpiForMonitor>(reinterpret_cast<void*>(
                                                       GetProcAddress(shcore, "GetDpiForMonitor")))
                                                 : nullptr;
    const auto metricsForDpi = reinterpret_cast<MetricsForDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    UINT dpiX = 0;
    UINT dpiY = 0;
    int size = 0;
    if (dpiForMonitor != nullptr && metricsForDpi != nullptr
        && dpiForMonitor(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), 0, &dpiX, &dpiY) == S_OK)
        size = metricsForDpi(SM_CXSMICON, dpiX);
    if (shcore != nullptr)
        FreeLibrary(shcore);
    return size > 0 ? size : GetSystemMetrics(SM_CXSMICON);
}

// The resource holds the image at 16, 20, 24, 32, 40, 48, 64 and 256 px: the system picks the nearest.
HICON loadIcon(HINSTANCE instance, int id, int size)
{
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

template <std::size_t N>
void copyText(wchar_t (&target)[N], const std::wstring& text)
{
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(target, text.data(), length * sizeof(wchar_t));
    target[length] = L'\0';
}

struct MessageBoxText {
    std::wstring title;
    std::wstring text;
};

// The fallback dialog runs on a thread of its own: a modal box on the UI thread would run a
// nested message loop in which timer ticks and tray events re-enter the handler that asked
// for the message.
DWORD WINAPI messageBoxThread(LPVOID parameter)
{
    MessageBoxText* message = static_cast<MessageBoxText*>(parameter);
    MessageBoxW(nullptr, message->text.c_str(), message->title.c_str(),
                MB_OK | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST);
    delete message;
    return 0;
}

} // namespace

Win32TrayIcon::Win32TrayIcon(HINSTANCE instance, HWND window)
    : m_instance(instance)
    , m_window(window)
    , m_taskbarCreated(RegisterWindowMessageW(L"TaskbarCreated"))
{
    loadImages();
}

Win32TrayIcon::~Win32TrayIcon()
{
    if (m_shown || m_retrying)
        remove();
    destroyImages();
}

void Win32TrayIcon::loadImages()
{
    const int size = smallIconSize();
    m_active = loadIcon(m_instance, IDI_PAVRO_ACTIVE, size);
    m_inactive = loadIcon(m_instance, IDI_PAVRO_INACTIVE, size);
}

void Win32TrayIcon::destroyImages()
{
    if (m_active != nullptr)
        DestroyIcon(m_active);
    if (m_inactive != nullptr)
        DestroyIcon(m_inactive);
    m_active = nullptr;
    m_inactive = nullptr;
}

HICON Win32TrayIcon::iconFor(TrayImage image) const
{
    switch (image) {
    case TrayImage::Active:
        return m_active;
    case TrayImage::Inactive:
        return m_inactive;
    case TrayImage::None:
        break;
    }
    return nullptr;
}

NOTIFYICONDATAW Win32TrayIcon::toNative(TrayImage image) const
{
    // WORKAROUND: the classic record of six 32-bit fields and a 20-byte tip (cbSize 44) is a
    // 32-bit layout. A 64-bit program that passes it gets TRUE back and an empty slot with no
    // tooltip and no callbacks, so the real structure carries the same values.
    NOTIFYICONDATAW native{};
    native.cbSize = sizeof native;
    native.hWnd = m_window;
    native.uID = kIconId;
    native.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    native.uCallbackMessage = kCallbackMessage;
    native.hIcon = iconFor(image);
    copyText(native.szTip, m_tip);
    return native;
}

bool Win32TrayIcon::show()
{
    NOTIFYICONDATAW native = toNative(m_image);
    // Modify first: an add that timed out may still have reached the shell, and a second add
    // of the same icon fails.
    return Shell_NotifyIconW(NIM_MODIFY, &native) != FALSE || Shell_NotifyIconW(NIM_ADD, &native) != FALSE;
}

bool Win32TrayIcon::add(TrayImage image, std::string_view tip)
{
    m_image = image;
    m_tip = win32Widen(std::string(tip));
    m_wanted = true;
    // An elevated copy would otherwise never hear from the (unelevated) shell: the system
    // filters messages from lower integrity levels unless the window lets them through.
    if (m_window != nullptr) {
        if (m_taskbarCreated != 0)
            ChangeWindowMessageFilterEx(m_window, m_taskbarCreated, MSGFLT_ALLOW, nullptr);
        ChangeWindowMessageFilterEx(m_window, kCallbackMessage, MSGFLT_ALLOW, nullptr);
    }
    m_shown = show();
    // With no taskbar yet, or one whose notification area is not ready (at logon), the icon
    // is tried again, and added at once when the taskbar announces itself ("TaskbarCreated").
    // Only an icon still refused after a while leaves the user without a way to reach the
    // program but a second launch: then they are told.
    if (!m_shown && m_window != nullptr) {
        m_retrying = true;
        m_retryStart = GetTickCount();
        SetTimer(m_window, kRetryTimer, kRetryMs, nullptr);
    }
    return m_shown;
}

void Win32TrayIcon::stopRetrying()
{
    if (m_retrying && m_window != nullptr)
        KillTimer(m_window, kRetryTimer);
    m_retrying = false;
}

void Win32TrayIcon::retry()
{
    if (!m_retrying)
        return;
    m_shown = show();
    if (m_shown) {
        stopRetrying();
    } else if (GetTickCount() - m_retryStart >= kRetryForMs) {
        stopRetrying();
        showMessage("Pavro", kCouldNotShowText);
    }
}

bool Win32TrayIcon::modify(TrayImage image)
{
    m_image = image;
    NOTIFYICONDATAW native = toNative(image);
    return Shell_NotifyIconW(NIM_MODIFY, &native) != FALSE;
}

bool Win32TrayIcon::remove()
{
    stopRetrying();
    NOTIFYICONDATAW native = toNative(m_image);
    m_shown = false;
    m_wanted = false;
    return Shell_NotifyIconW(NIM_DELETE, &native) != FALSE;
}

void Win32TrayIcon::showMessage(std::string_view title, std::string_view text)
{
    const std::wstring wideTitle = win32Widen(std::string(title));
    const std::wstring wideText = win32Widen(std::string(text));
    if (m_shown) {
        NOTIFYICONDATAW balloon{};
        balloon.cbSize = sizeof balloon;
        balloon.hWnd = m_window;
        balloon.uID = kIconId;
        balloon.uFlags = NIF_INFO;
        balloon.dwInfoFlags = NIIF_WARNING;
        copyText(balloon.szInfoTitle, wideTitle);
        copyText(balloon.szInfo, wideText);
        if (Shell_NotifyIconW(NIM_MODIFY, &balloon))
            return;
    }
    auto* message = new MessageBoxText{wideTitle, wideText};
    HANDLE thread = CreateThread(nullptr, 0, messageBoxThread, message, 0, nullptr);
    if (thread == nullptr) {
        delete message;
        return;
    }
    CloseHandle(thread);
}

bool Win32TrayIcon::isCallback(WPARAM wParam, LPARAM lParam) const
{
    // WORKAROUND: the icon's callback message is WM_MOUSEMOVE, so a real pointer move over the
    // client area arrives as the same message. The icon's callbacks carry the icon id in
    // wParam and a mouse message code in lParam (high word 0); a real move at the client
    // point (code, 0), which a window wider than 513 pixels (high dpi) has, is told apart by
    // the pointer really being there, over this window.
    if (lParam < WM_MOUSEFIRST || lParam > WM_MOUSELAST || m_sink == nullptr || wParam != kIconId)
        return false;
    if (!IsWindowVisible(m_window))
        return true;
    POINT pointer{};
    if (!GetCursorPos(&pointer) || WindowFromPoint(pointer) != m_window)
        return true;
    ScreenToClient(m_window, &pointer);
    return !(pointer.x == static_cast<LONG>(lParam) && pointer.y == 0);
}

bool Win32TrayIcon::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (window != m_window)
        return false;
    result = 0;
    if (message == kCallbackMessage && isCallback(wParam, lParam)) {
        if (lParam == WM_LBUTTONDBLCLK)
            m_sink->trayEvent(TrayEvent::LeftDoubleClick);
        else if (lParam == WM_RBUTTONUP)
            m_sink->trayEvent(TrayEvent::RightButtonUp);
        return true;
    }
    if (message == WM_TIMER && wParam == kRetryTimer) {
        retry();
        return true;
    }
    if (m_taskbarCreated == 0 || message != m_taskbarCreated || !m_wanted)
        return false;
    // The old images stay valid until the shell holds the new ones.
    const HICON oldActive = m_active;
    const HICON oldInactive = m_inactive;
    loadImages();
    m_shown = show();
    if (m_shown)
        stopRetrying();
    if (oldActive != nullptr)
        DestroyIcon(oldActive);
    if (oldInactive != nullptr)
        DestroyIcon(oldInactive);
    return true;
}
