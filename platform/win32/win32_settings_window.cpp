#include "platform/win32/win32_settings_window.h"

#include <wtsapi32.h>

#include "platform/win32/win32_error.h"
#include "platform/win32/win32_resources.h"
#include "platform/win32/win32_screen_dpi.h"
#include "shell/form1.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroForm1";
constexpr UINT kUnloadMessage = WM_APP + 1;
// The tray callback message of the icon record: the classic choice of WM_MOUSEMOVE.
constexpr UINT kTrayCallbackMessage = WM_MOUSEMOVE;

// Control identifiers start above IDOK / IDCANCEL, which the dialog manager sends for
// Enter and Escape.
enum ControlId : int {
    kIdText = 100,       // 100..103
    kIdLabel = 110,      // 110..113
    kIdSlider = 120,     // 120..123
    kIdCheck = 130,      // 130..131
    kIdCmdOnOff = 140,
    kIdCmdDefault = 141,
    kIdMenuOnOff = 150,
    kIdMenuSettings = 151,
    kIdMenuExit = 152,
};

// Twip geometry of the window: Left, Top, Width, Height from the client area's corner.
struct TwipRect {
    int left, top, width, height;
};
constexpr int kClientWidthTwips = 5595;
constexpr int kClientHeightTwips = 1860;
constexpr std::array<TwipRect, 4> kLabelRects{{{120, 120, 975, 255}, {120, 480, 975, 255},
                                               {120, 840, 1695, 255}, {120, 1200, 1455, 255}}};
constexpr std::array<TwipRect, 4> kSliderRects{{{1920, 125, 2055, 255}, {1920, 485, 2055, 255},
                                                {1920, 844, 2055, 255}, {1920, 1204, 2055, 255}}};
constexpr std::array<TwipRect, 4> kTextRects{{{4080, 120, 495, 285}, {4080, 480, 495, 285},
                                              {4080, 840, 495, 285}, {4080, 1200, 495, 285}}};
constexpr std::array<const wchar_t*, 4> kLabelTexts{L"Std Speed:", L"Fast Speed:", L"Switch to Fast in (ms):",
                                                    L"Refresh Rate (ms):"};
constexpr std::array<const wchar_t*, 4> kInitialTexts{L"25", L"80", L"250", L"25"};
constexpr TwipRect kCmdDefaultRect{4680, 120, 855, 375};
constexpr TwipRect kCmdOnOffRect{4680, 600, 855, 1200};
constexpr std::array<TwipRect, 2> kCheckRects{{{120, 1560, 3855, 255}, {3600, 1800, 1935, 255}}};
constexpr std::array<const wchar_t*, 2> kCheckTexts{L"Set cursor as default mode", L"Use Q1 Hardware Scancode"};

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

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
    if (m_window != nullptr && IsWindow(m_window)) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_bigIcon != nullptr)
        DestroyIcon(m_bigIcon);
    if (m_smallIcon != nullptr)
        DestroyIcon(m_smallIcon);
}

int Win32SettingsWindow::pixelsFromTwips(int twips, int dpi)
{
    return MulDiv(twips, dpi, 1440);
}

int Win32SettingsWindow::twipsPerPixelX() const
{
    return 1440 / m_dpi > 0 ? 1440 / m_dpi : 1;
}

bool Win32SettingsWindow::create()
{
    m_dpi = win32ScreenDpi();
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

    RECT frame{0, 0, pixelsFromTwips(kClientWidthTwips, m_dpi), pixelsFromTwips(kClientHeightTwips, m_dpi)};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
    m_window = CreateWindowExW(kWindowExStyle, kWindowClass, L"Cursor", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                               frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, m_instance, this);
    if (m_window == nullptr) {
        m_lastError = win32ErrorText(GetLastError());
        return false;
    }
    // Without a font every control would use the bold system font, in which the labels wrap
    // and the buttons clip.
    m_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    // Creation order is the tab order: the text boxes (disabled, never focused), "&Turn On",
    // the labels, the two check boxes, "&Default", the sliders.
    for (int i = 0; i < 4; ++i) {
        const TwipRect& r = kTextRects[static_cast<std::size_t>(i)];
        m_text[static_cast<std::size_t>(i)] =
            createControl(L"EDIT", kInitialTexts[static_cast<std::size_t>(i)],
                          ES_LEFT | ES_AUTOHSCROLL | WS_DISABLED, WS_EX_CLIENTEDGE, kIdText + i, r.left, r.top,
                          r.width, r.height);
    }
    m_cmdOnOff = createControl(L"BUTTON", L"&Turn On", BS_PUSHBUTTON | WS_TABSTOP, 0, kIdCmdOnOff, kCmdOnOffRect.left,
                               kCmdOnOffRect.top, kCmdOnOffRect.width, kCmdOnOffRect.height);
    for (int i = 0; i < 4; ++i) {
        const TwipRect& r = kLabelRects[static_cast<std::size_t>(i)];
        m_label[static_cast<std::size_t>(i)] = createControl(L"STATIC", kLabelTexts[static_cast<std::size_t>(i)],
                                                             SS_LEFT, 0, kIdLabel + i, r.left, r.top, r.width, r.height);
    }
    for (int i = 0; i < 2; ++i) {
        const TwipRect& r = kCheckRects[static_cast<std::size_t>(i)];
        // Three-state boxes that the program ticks itself: a click goes only between 0 and 1,
        // the greyed state comes only from a stored value.
        m_check[static_cast<std::size_t>(i)] =
            createControl(L"BUTTON", kCheckTexts[static_cast<std::size_t>(i)], BS_3STATE | WS_TABSTOP, 0,
                          kIdCheck + i, r.left, r.top, r.width, r.height);
    }
    ShowWindow(m_check[1], SW_HIDE);
    m_cmdDefault = createControl(L"BUTTON", L"&Default", BS_PUSHBUTTON | WS_TABSTOP, 0, kIdCmdDefault,
                                 kCmdDefaultRect.left, kCmdDefaultRect.top, kCmdDefaultRect.width,
                                 kCmdDefaultRect.height);
    const std::array<int, 4> initialValues{25, 80, 250, 25};
    const std::array<int, 4> maxima{150, 150, 1500, 150};
    for (int i = 0; i < 4; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const TwipRect& r = kSliderRects[index];
        m_slider[index] = createControl(L"SCROLLBAR", L"", SBS_HORZ | WS_TABSTOP, 0, kIdSlider + i, r.left, r.top,
                                        r.width, r.height);
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_POS | SIF_PAGE;
        info.nMin = 0;
        info.nMax = maxima[index];
        info.nPage = 0;
        info.nPos = initialValues[index];
        SetScrollInfo(m_slider[index], SB_CTL, &info, FALSE);
        m_sliderValue[index] = initialValues[index];
    }

    if (WTSRegisterSessionNotification(m_window, NOTIFY_FOR_THIS_SESSION))
        m_sessionNotifications = true;
    return true;
}

HWND Win32SettingsWindow::createControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, DWORD exStyle,
                                        int id, int left, int top, int width, int height)
{
    HWND control = CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style,
                                   pixelsFromTwips(left, m_dpi), pixelsFromTwips(top, m_dpi),
                                   pixelsFromTwips(width, m_dpi), pixelsFromTwips(height, m_dpi), m_window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
    if (control != nullptr)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    return control;
}

bool Win32SettingsWindow::preTranslateMessage(MSG& message)
{
    if (m_window == nullptr || !IsWindowVisible(m_window))
        return false;
    return IsDialogMessageW(m_window, &message) != FALSE;
}

// The setters below change what the controls show without any notification that this
// window handles (SetWindowText on an edit sends EN_CHANGE, which is ignored; SetScrollPos
// and BM_SETCHECK send nothing), so nothing Form1 sets comes back to it as a user action.

void Win32SettingsWindow::setFieldText(int index, std::string_view text)
{
    if (index < 0 || index > 3)
        return;
    SetWindowTextW(m_text[static_cast<std::size_t>(index)], wide(text).c_str());
}

void Win32SettingsWindow::setSliderRange(int index, std::int16_t minimum, std::int16_t maximum, std::int16_t,
                                         std::int16_t)
{
    if (index < 0 || index > 3)
        return;
    // The steps are Form1's: it turns each scroll action into a value. The page size stays 0,
    // so the thumb can reach the maximum.
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE;
    info.nMin = minimum;
    info.nMax = maximum;
    SetScrollInfo(m_slider[static_cast<std::size_t>(index)], SB_CTL, &info, TRUE);
}

void Win32SettingsWindow::setSliderValue(int index, std::int16_t value)
{
    if (index < 0 || index > 3)
        return;
    m_sliderValue[static_cast<std::size_t>(index)] = value;
    SetScrollPos(m_slider[static_cast<std::size_t>(index)], SB_CTL, value, TRUE);
}

void Win32SettingsWindow::setCheckValue(int index, std::int16_t value)
{
    if (index < 0 || index > 1)
        return;
    // 0, 1 and 2 are BST_UNCHECKED, BST_CHECKED and BST_INDETERMINATE.
    SendMessageW(m_check[static_cast<std::size_t>(index)], BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void Win32SettingsWindow::setButtonOnOffCaption(std::string_view caption)
{
    SetWindowTextW(m_cmdOnOff, wide(caption).c_str());
}

void Win32SettingsWindow::setMenuOnOffCaption(std::string_view caption)
{
    m_menuOnOffCaption = wide(caption);
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
    if (m_inPopup || m_window == nullptr)
        return;
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    AppendMenuW(menu, MF_STRING, kIdMenuOnOff, m_menuOnOffCaption.c_str());
    AppendMenuW(menu, MF_STRING, kIdMenuSettings, L"Settings");
    AppendMenuW(menu, MF_STRING, kIdMenuExit, L"&Exit");
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
    if (m_form == nullptr)
        return;
    switch (chosen) {
    case kIdMenuOnOff:
        m_form->mnuOnOff_Click();
        break;
    case kIdMenuSettings:
        m_form->mnuSettings_Click();
        break;
    case kIdMenuExit:
        m_form->mnuExit_Click();
        break;
    default:
        break;
    }
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
    if (m_form != nullptr)
        m_form->renewKeyCapture();
}

bool Win32SettingsWindow::isTrayCallback(WPARAM wParam, LPARAM lParam) const
{
    // WORKAROUND: the icon's callback message is WM_MOUSEMOVE, so a real pointer move over the
    // client area arrives as the same message. The icon's callbacks carry the icon id in
    // wParam and a mouse message code in lParam (high word 0); a real move at the client
    // point (code, 0), which a window wider than 513 pixels (high dpi) has, is told apart by
    // the pointer really being there, over this window.
    if (lParam < WM_MOUSEFIRST || lParam > WM_MOUSELAST || m_form == nullptr)
        return false;
    if (wParam != m_form->state().TrayData.uID)
        return false;
    if (!IsWindowVisible(m_window))
        return true;
    POINT pointer{};
    if (!GetCursorPos(&pointer) || WindowFromPoint(pointer) != m_window)
        return true;
    ScreenToClient(m_window, &pointer);
    return !(pointer.x == static_cast<LONG>(lParam) && pointer.y == 0);
}

void Win32SettingsWindow::onScroll(HWND bar, int code, int position)
{
    int index = -1;
    for (int i = 0; i < 4; ++i)
        if (m_slider[static_cast<std::size_t>(i)] == bar)
            index = i;
    if (index < 0 || m_form == nullptr)
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
    m_form->HScroll1_Scroll(index, action, position);
    // The control moves its thumb while dragged; put it back where Form1 holds the value
    // (unchanged when the action changed nothing, e.g. a click at the maximum).
    SetScrollPos(bar, SB_CTL, m_sliderValue[static_cast<std::size_t>(index)], TRUE);
}

void Win32SettingsWindow::onCommand(int id, int notification)
{
    if (m_form == nullptr || notification != BN_CLICKED)
        return;
    if (id == kIdCmdOnOff) {
        m_form->cmdOnOff_Click();
    } else if (id == kIdCmdDefault) {
        m_form->cmdDefault_Click();
    } else if (id == kIdCheck || id == kIdCheck + 1) {
        const auto index = static_cast<std::size_t>(id - kIdCheck);
        const LRESULT current = SendMessageW(m_check[index], BM_GETCHECK, 0, 0);
        const int value = current == BST_CHECKED ? 0 : 1;
        SendMessageW(m_check[index], BM_SETCHECK, static_cast<WPARAM>(value), 0);
        m_form->chkDefault_UserChange(static_cast<int>(index), value);
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
    case kTrayCallbackMessage:
        if (isTrayCallback(wParam, lParam)) {
            m_form->trayEvent(static_cast<std::int32_t>(lParam));
            return 0;
        }
        break;
    case WM_HSCROLL:
        onScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        if (m_form != nullptr)
            m_form->closeRequested();
        else
            ShowWindow(m_window, SW_HIDE);
        return 0;
    case WM_SIZE:
        if (m_form != nullptr)
            m_form->Form_Resize();
        return 0;
    case WM_ACTIVATE:
        // Dialog behaviour: the focus comes back to the control that had it, and the first
        // time to "&Turn On".
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus != nullptr && IsChild(m_window, focus))
                m_lastFocus = focus;
        } else if (HIWORD(wParam) == 0) {
            SetFocus(m_lastFocus != nullptr ? m_lastFocus : m_cmdOnOff);
        }
        return 0;
    case WM_QUERYENDSESSION:
        // The session may end: the program ends with it, after WM_ENDSESSION saved everything.
        return TRUE;
    case WM_ENDSESSION:
        // The process is killed soon after this returns: the real exit (settings saved, icon
        // and hook removed) runs now, synchronously.
        if (wParam != FALSE && m_form != nullptr)
            m_form->sessionEnding();
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
    case kUnloadMessage:
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
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
