#include "platform/win32/win32_settings_window.h"

#include <wtsapi32.h>

#include "platform/program_event_sink.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_resources.h"
#include "platform/win32/win32_screen_dpi.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroForm1";
constexpr UINT kUnloadMessage = WM_APP + 1;
// Session notifications refused at logon (the session service not yet running) are asked
// for again at this interval, this many times.
constexpr UINT_PTR kSessionRetryTimer = 1;
constexpr UINT kSessionRetryMs = 2000;
constexpr int kSessionRetries = 60;
// A control's identifier is this plus its position in the layout; it starts above IDOK and
// IDCANCEL, which the dialog manager sends for Enter and Escape.
constexpr int kFirstControlId = 100;

#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// The window class and styles of each kind of control.
struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ControlClass controlClass(ControlKind kind)
{
    switch (kind) {
    case ControlKind::TextBox: return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::Label: return {L"STATIC", SS_LEFT, 0};
    case ControlKind::Button: return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    // Three-state boxes that the program ticks itself: a click goes only between 0 and 1,
    // the greyed state comes only from a stored value.
    case ControlKind::CheckBox: return {L"BUTTON", BS_3STATE | WS_TABSTOP, 0};
    case ControlKind::Slider: return {L"SCROLLBAR", SBS_HORZ | WS_TABSTOP, 0};
    case ControlKind::MenuItem: break;
    }
    return {nullptr, 0, 0};
}

std::wstring wide(std::string_view text)
{
    return win32Widen(std::string(text));
}

} // namespace

Win32SettingsWindow::Win32SettingsWindow(HINSTANCE instance)
    : m_instance(instance)
{
}

Win32SettingsWindow::~Win32SettingsWindow()
{
    m_names.clear();
    if (m_window != nullptr && IsWindow(m_window)) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_bigIcon != nullptr)
        DestroyIcon(m_bigIcon);
    if (m_smallIcon != nullptr)
        DestroyIcon(m_smallIcon);
    if (m_font != nullptr)
        DeleteObject(m_font);
}

int Win32SettingsWindow::pixelsFromTwips(int twips, int dpi)
{
    return MulDiv(twips, dpi, 1440);
}

bool Win32SettingsWindow::create()
{
    m_bigIcon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_PAVRO_ACTIVE), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_PAVRO_ACTIVE), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = m_instance;
    windowClass.hIcon = m_bigIcon;
    windowClass.hIconSm = m_smallIcon;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        m_lastError = win32ErrorText(GetLastError());
        return false;
    }

    m_window = CreateWindowExW(kWindowExStyle, kWindowClass, L"", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, m_instance, this);
    if (m_window == nullptr) {
        m_lastError = win32ErrorText(GetLastError());
        return false;
    }
    m_dpi = win32WindowDpi(m_window);
    m_font = makeFont(m_dpi);
    registerSessionNotifications();
    return true;
}

void Win32SettingsWindow::registerSessionNotifications()
{
    m_sessionNotifications = WTSRegisterSessionNotification(m_window, NOTIFY_FOR_THIS_SESSION) != FALSE;
    if (m_sessionNotifications || m_sessionRetries >= kSessionRetries) {
        KillTimer(m_window, kSessionRetryTimer);
        return;
    }
    if (m_sessionRetries++ == 0)
        SetTimer(m_window, kSessionRetryTimer, kSessionRetryMs, nullptr);
}

HFONT Win32SettingsWindow::makeFont(int dpi)
{
    // Without a font every control would use the bold system font, in which the labels wrap
    // and the buttons clip. The dialog font's height is in pixels of the screen's dpi; a
    // monitor of another scale gets it scaled the same way as the twips.
    LOGFONTW font{};
    if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font) == 0)
        return nullptr;
    font.lfHeight = MulDiv(font.lfHeight, dpi, win32ScreenDpi());
    return CreateFontIndirectW(&font);
}

void Win32SettingsWindow::applyDpi(int dpi, const RECT& suggested)
{
    // The same twips at the new scale: the window takes the rectangle the system suggests
    // (keeping it on the monitor it moved to), every control its scaled place and font.
    m_dpi = dpi > 0 ? dpi : 96;
    HFONT old = m_font;
    m_font = makeFont(m_dpi);
    // The suggested size is the old one scaled, frame and all; the frame does not scale
    // exactly, so the size is worked out again for the client area at the new dpi.
    fitClientArea(POINT{suggested.left, suggested.top});
    for (std::size_t i = 0; m_layout != nullptr && i < m_controls.size(); ++i) {
        HWND handle = m_controls[i].handle;
        if (handle == nullptr)
            continue;
        const TwipRect& r = m_layout->controls[i].rect;
        SetWindowPos(handle, nullptr, pixelsFromTwips(r.left, m_dpi), pixelsFromTwips(r.top, m_dpi),
                     pixelsFromTwips(r.width, m_dpi), pixelsFromTwips(r.height, m_dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
    }
    if (old != nullptr)
        DeleteObject(old);
}

void Win32SettingsWindow::fitClientArea(std::optional<POINT> topLeft)
{
    if (m_layout == nullptr)
        return;
    const int width = pixelsFromTwips(m_layout->clientWidth, m_dpi);
    const int height = pixelsFromTwips(m_layout->clientHeight, m_dpi);
    RECT frame{0, 0, width, height};
    win32AdjustWindowRect(frame, kWindowStyle, kWindowExStyle, m_dpi);
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (topLeft ? 0 : SWP_NOMOVE);
    const POINT at = topLeft.value_or(POINT{0, 0});
    int frameWidth = frame.right - frame.left;
    int frameHeight = frame.bottom - frame.top;
    SetWindowPos(m_window, nullptr, at.x, at.y, frameWidth, frameHeight, flags);
    // WORKAROUND: a frame drawn other than the metrics say (a theme, a system that scales the
    // frame itself) is measured and made up for once.
    RECT client{};
    if (GetClientRect(m_window, &client) && (client.right != width || client.bottom != height)) {
        frameWidth += width - client.right;
        frameHeight += height - client.bottom;
        SetWindowPos(m_window, nullptr, 0, 0, frameWidth, frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Win32SettingsWindow::createControls(const WindowLayout& layout)
{
    m_layout = &layout;
    SetWindowTextW(m_window, wide(layout.caption).c_str());
    fitClientArea(std::nullopt);
    // Creation order is the tab order.
    m_controls.resize(layout.controls.size());
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
        const ControlSpec& control = layout.controls[i];
        Control& made = m_controls[i];
        made.value = control.value;
        if (control.kind == ControlKind::MenuItem)
            made.caption = wide(control.caption);
        else
            made.handle = createControl(control, kFirstControlId + static_cast<int>(i));
    }
    nameControlsByLabels();
}

void Win32SettingsWindow::nameControlsByLabels()
{
    // A slider and the box beside it say nothing of what they set: each takes the name of the
    // label of its row, for a screen reader. A slider also carries it as its (never drawn)
    // text, which the system reads where there is no annotation.
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const ControlSpec& control = m_layout->controls[i];
        const int label = find(ControlName::MotionLabel, control.index);
        if ((control.kind != ControlKind::Slider && control.kind != ControlKind::TextBox) || label < 0)
            continue;
        const std::wstring name =
            Win32AccessibleNames::fromLabel(wide(m_layout->controls[static_cast<std::size_t>(label)].caption));
        HWND handle = m_controls[i].handle;
        if (control.kind == ControlKind::Slider)
            SetWindowTextW(handle, name.c_str());
        // The label just above its value box in the z-order as well: the system's own rule for
        // a control without text, where no annotation is read. Neither is a tab stop, so the
        // tab order stays.
        HWND labelHandle = m_controls[static_cast<std::size_t>(label)].handle;
        HWND above = GetWindow(handle, GW_HWNDPREV);
        if (control.kind == ControlKind::TextBox && labelHandle != nullptr && above != labelHandle)
            SetWindowPos(labelHandle, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        m_names.name(handle, name);
    }
}

HWND Win32SettingsWindow::createControl(const ControlSpec& control, int id)
{
    const ControlClass kind = controlClass(control.kind);
    if (kind.name == nullptr)
        return nullptr;
    const std::wstring text =
        control.kind == ControlKind::TextBox ? std::to_wstring(control.value) : wide(control.caption);
    DWORD style = kind.style;
    if (!control.enabled)
        style |= WS_DISABLED;
    if (control.visible)
        style |= WS_VISIBLE;
    const TwipRect& r = control.rect;
    HWND handle = CreateWindowExW(kind.exStyle, kind.name, text.c_str(), WS_CHILD | style,
                                  pixelsFromTwips(r.left, m_dpi), pixelsFromTwips(r.top, m_dpi),
                                  pixelsFromTwips(r.width, m_dpi), pixelsFromTwips(r.height, m_dpi), m_window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
    if (handle == nullptr)
        return nullptr;
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    if (control.kind == ControlKind::Slider) {
        // The steps are the logic's: it turns each scroll action into a value. The page size
        // stays 0, so the thumb can reach the maximum.
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_POS | SIF_PAGE;
        info.nMin = control.range.minimum;
        info.nMax = control.range.maximum;
        info.nPos = control.value;
        SetScrollInfo(handle, SB_CTL, &info, FALSE);
    }
    // The first control in tab order that can take the focus has it when the window first shows.
    if (m_firstFocus == nullptr && (style & WS_TABSTOP) && control.enabled && control.visible)
        m_firstFocus = handle;
    return handle;
}

int Win32SettingsWindow::find(ControlName name, int index) const
{
    if (m_layout == nullptr)
        return -1;
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const ControlSpec& control = m_layout->controls[i];
        if (control.name == name && control.index == index)
            return static_cast<int>(i);
    }
    return -1;
}

bool Win32SettingsWindow::preTranslateMessage(MSG& message)
{
    if (m_window == nullptr || !IsWindowVisible(m_window))
        return false;
    return IsDialogMessageW(m_window, &message) != FALSE;
}

// The setters below change what the controls show without any notification that this
// window handles (SetWindowText on an edit sends EN_CHANGE, which is ignored; SetScrollPos
// and BM_SETCHECK send nothing), so nothing the logic sets comes back to it as a user action.

void Win32SettingsWindow::setFieldText(int index, std::string_view text)
{
    const int at = find(ControlName::MotionField, index);
    if (at >= 0)
        SetWindowTextW(m_controls[static_cast<std::size_t>(at)].handle, wide(text).c_str());
}

void Win32SettingsWindow::setSliderValue(int index, std::int16_t value)
{
    const int at = find(ControlName::MotionSlider, index);
    if (at < 0)
        return;
    Control& slider = m_controls[static_cast<std::size_t>(at)];
    slider.value = value;
    SetScrollPos(slider.handle, SB_CTL, value, TRUE);
}

void Win32SettingsWindow::setCheckValue(int index, std::int16_t value)
{
    // 0, 1 and 2 are BST_UNCHECKED, BST_CHECKED and BST_INDETERMINATE.
    const int at = find(ControlName::OptionCheck, index);
    if (at >= 0)
        SendMessageW(m_controls[static_cast<std::size_t>(at)].handle, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void Win32SettingsWindow::setButtonOnOffCaption(std::string_view caption)
{
    const int at = find(ControlName::OnOffButton);
    if (at >= 0)
        SetWindowTextW(m_controls[static_cast<std::size_t>(at)].handle, wide(caption).c_str());
}

void Win32SettingsWindow::setMenuOnOffCaption(std::string_view caption)
{
    const int at = find(ControlName::OnOffMenuItem);
    if (at >= 0)
        m_controls[static_cast<std::size_t>(at)].caption = wide(caption);
}

void Win32SettingsWindow::setCaption(std::string_view caption)
{
    SetWindowTextW(m_window, wide(caption).c_str());
}

void Win32SettingsWindow::show()
{
    ShowWindow(m_window, IsIconic(m_window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(m_window);
}

void Win32SettingsWindow::hide()
{
    ShowWindow(m_window, SW_HIDE);
}

WindowState Win32SettingsWindow::windowState() const
{
    return IsIconic(m_window) ? WindowState::Minimized : WindowState::Normal;
}

void Win32SettingsWindow::setWindowState(WindowState state)
{
    if (state == WindowState::Minimized) {
        if (!IsIconic(m_window))
            ShowWindow(m_window, SW_MINIMIZE);
    } else if (IsIconic(m_window)) {
        ShowWindow(m_window, SW_RESTORE);
    }
}

void Win32SettingsWindow::setForeground()
{
    SetForegroundWindow(m_window);
}

void Win32SettingsWindow::popupMenu()
{
    // A second right click while the menu is open arrives inside its loop; one menu at a time.
    if (m_inPopup || m_window == nullptr || m_layout == nullptr)
        return;
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    for (std::size_t i = 0; i < m_controls.size(); ++i)
        if (m_layout->controls[i].kind == ControlKind::MenuItem)
            AppendMenuW(menu, MF_STRING, kFirstControlId + i, m_controls[i].caption.c_str());
    POINT at{};
    GetCursorPos(&at);
    const UINT alignment = GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    m_inPopup = true;
    const int chosen = static_cast<int>(TrackPopupMenu(menu, alignment | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
                                                       at.x, at.y, 0, m_window, nullptr));
    m_inPopup = false;
    // WORKAROUND: a menu tracked for a window that is not really active stays open or
    // reopens on the next click unless a message reaches the window after it closes.
    PostMessageW(m_window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    // 0 when the menu was dismissed.
    const auto item = static_cast<std::size_t>(chosen - kFirstControlId);
    if (m_sink != nullptr && chosen >= kFirstControlId && item < m_controls.size())
        m_sink->controlClicked(m_layout->controls[item].name);
}

void Win32SettingsWindow::unload()
{
    if (m_window == nullptr)
        return;
    ShowWindow(m_window, SW_HIDE);
    // The window goes once the handler that asked for it has returned; its WM_DESTROY ends
    // the message loop.
    PostMessageW(m_window, kUnloadMessage, 0, 0);
}

void Win32SettingsWindow::renewKeyCapture()
{
    if (m_sink != nullptr)
        m_sink->renewKeyCapture();
}

void Win32SettingsWindow::onScroll(HWND bar, int code, int position)
{
    std::size_t at = 0;
    while (at < m_controls.size() && m_controls[at].handle != bar)
        ++at;
    if (at == m_controls.size() || m_layout->controls[at].kind != ControlKind::Slider || m_sink == nullptr)
        return;
    ScrollAction action{};
    switch (code) {
    case SB_LINELEFT:
        action = ScrollAction::ArrowLeft;
        break;
    case SB_LINERIGHT:
        action = ScrollAction::ArrowRight;
        break;
    case SB_PAGELEFT:
        action = ScrollAction::PageLeft;
        break;
    case SB_PAGERIGHT:
        action = ScrollAction::PageRight;
        break;
    case SB_LEFT:
        action = ScrollAction::ToMinimum;
        break;
    case SB_RIGHT:
        action = ScrollAction::ToMaximum;
        break;
    case SB_THUMBPOSITION:
        action = ScrollAction::ThumbReleased;
        break;
    default:
        // SB_THUMBTRACK (the thumb is being dragged) and SB_ENDSCROLL change nothing.
        return;
    }
    m_sink->motionSliderScrolled(m_layout->controls[at].index, action, position);
    // The control moves its thumb while dragged; put it back where the logic holds the value
    // (unchanged when the action changed nothing, e.g. a click at the maximum).
    SetScrollPos(bar, SB_CTL, m_controls[at].value, TRUE);
}

void Win32SettingsWindow::onCommand(int id, int notification)
{
    const auto at = static_cast<std::size_t>(id - kFirstControlId);
    if (m_sink == nullptr || notification != BN_CLICKED || id < kFirstControlId || at >= m_controls.size())
        return;
    const ControlSpec& control = m_layout->controls[at];
    if (control.kind == ControlKind::Button) {
        m_sink->controlClicked(control.name);
    } else if (control.kind == ControlKind::CheckBox) {
        HWND check = m_controls[at].handle;
        const LRESULT current = SendMessageW(check, BM_GETCHECK, 0, 0);
        const int value = current == BST_CHECKED ? 0 : 1;
        SendMessageW(check, BM_SETCHECK, static_cast<WPARAM>(value), 0);
        m_sink->optionCheckChanged(control.index, value);
    }
}

LRESULT CALLBACK Win32SettingsWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32SettingsWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (self->m_window == nullptr)
        self->m_window = window;
    return self->handleMessage(message, wParam, lParam);
}

LRESULT Win32SettingsWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    for (Win32MessageHandler* handler : m_handlers) {
        LRESULT result = 0;
        if (handler->handleMessage(m_window, message, wParam, lParam, result))
            return result;
    }
    switch (message) {
    case WM_HSCROLL:
        onScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        if (m_sink != nullptr)
            m_sink->closeRequested();
        else
            ShowWindow(m_window, SW_HIDE);
        return 0;
    case WM_SIZE:
        if (m_sink != nullptr)
            m_sink->windowResized();
        return 0;
    case WM_ACTIVATE:
        // Dialog behaviour: the focus comes back to the control that had it, and the first
        // time to "&Turn On".
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus != nullptr && IsChild(m_window, focus))
                m_lastFocus = focus;
        } else if (HIWORD(wParam) == 0) {
            SetFocus(m_lastFocus != nullptr ? m_lastFocus : m_firstFocus);
        }
        return 0;
    case WM_QUERYENDSESSION:
        // The session may end: the program ends with it, after WM_ENDSESSION saved everything.
        return TRUE;
    case WM_ENDSESSION:
        // The process is killed soon after this returns: the real exit (settings saved, icon
        // and hook removed) runs now, synchronously.
        m_sessionEnded = wParam != FALSE;
        if (m_sessionEnded && m_sink != nullptr)
            m_sink->sessionEnding();
        return 0;
    case WM_POWERBROADCAST:
        // The system may have dropped the low-level hook across a suspend.
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND)
            renewKeyCapture();
        return TRUE;
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_SESSION_UNLOCK || wParam == WTS_CONSOLE_CONNECT || wParam == WTS_REMOTE_CONNECT)
            renewKeyCapture();
        return 0;
    case WM_DPICHANGED:
        // Moved to a monitor of another scale, or the scale changed (per-monitor awareness).
        applyDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case kRenewKeyCaptureMessage:
        renewKeyCapture();
        return 0;
    case kInputChangedMessage:
        if (m_sink != nullptr)
            m_sink->inputMayBeOutOfReach();
        return 0;
    case WM_TIMER:
        if (wParam == kSessionRetryTimer && !m_sessionNotifications)
            registerSessionNotifications();
        return 0;
    case kUnloadMessage:
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        KillTimer(m_window, kSessionRetryTimer);
        if (m_sessionNotifications)
            WTSUnRegisterSessionNotification(m_window);
        m_sessionNotifications = false;
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND window = m_window;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}
