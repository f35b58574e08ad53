#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_view.h"
#include "platform/win32/win32_window_messages.h"

class Form1;

/// Form1 in plain Win32 controls: four rows of label, slider and disabled text box, the
/// buttons "&Default" and "&Turn On", the check box "Set cursor as default mode" and the
/// hidden scancode box, at fixed twip positions scaled to the screen's dpi (15 twips per
/// pixel at 96 dpi), client area 5595 x 1860 twips. The window also receives the tray
/// callbacks and the system's session, power and lock notifications, and reports all of
/// them to Form1. It mirrors what Form1 sets without reporting it back as a user action.
class Win32SettingsWindow final : public SettingsView {
public:
    explicit Win32SettingsWindow(HINSTANCE instance);
    Win32SettingsWindow(const Win32SettingsWindow&) = delete;
    Win32SettingsWindow& operator=(const Win32SettingsWindow&) = delete;
    ~Win32SettingsWindow() override;

    /// Creates the window (hidden) with its controls. False when the system refused; the
    /// reason is in lastError().
    bool create();
    std::string lastError() const { return m_lastError; }
    /// Where the user's actions and the platform's events go. Before this call they are dropped.
    void attach(Form1& form) { m_form = &form; }
    /// Offers every message of the window to |handler| first (the tray's "TaskbarCreated").
    void addMessageHandler(Win32MessageHandler& handler) { m_handlers.push_back(&handler); }
    /// For the message loop: the dialog keys (Tab, access keys Alt+D / Alt+T). True when
    /// the message was consumed and must not be dispatched.
    bool preTranslateMessage(MSG& message);
    HWND handle() const { return m_window; }

    void setFieldText(int index, std::string_view text) override;
    void setSliderRange(int index, std::int16_t minimum, std::int16_t maximum, std::int16_t arrowStep,
                        std::int16_t pageStep) override;
    void setSliderValue(int index, std::int16_t value) override;
    void setCheckValue(int index, std::int16_t value) override;
    void setButtonOnOffCaption(std::string_view caption) override;
    void setMenuOnOffCaption(std::string_view caption) override;
    void setCaption(std::string_view caption) override;
    void show() override;
    void hide() override;
    WindowState windowState() const override;
    void setWindowState(WindowState state) override;
    void setForeground() override;
    /// Returns after the user chose or dismissed; the chosen item's handler has then run.
    void popupMenu() override;
    std::uintptr_t windowHandle() const override { return reinterpret_cast<std::uintptr_t>(m_window); }
    int twipsPerPixelX() const override;
    void unload() override;

    /// Pixels for |twips| at |dpi| (15 twips per pixel at 96 dpi), rounded to nearest.
    static int pixelsFromTwips(int twips, int dpi);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND createControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, DWORD exStyle, int id,
                       int left, int top, int width, int height);
    void onScroll(HWND bar, int code, int position);
    void onCommand(int id, int notification);
    bool isTrayCallback(WPARAM wParam, LPARAM lParam) const;
    void renewKeyCapture();

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HFONT m_font = nullptr;
    int m_dpi = 96;
    std::array<HWND, 4> m_text{};
    std::array<HWND, 4> m_label{};
    std::array<HWND, 4> m_slider{};
    std::array<int, 4> m_sliderValue{};
    std::array<HWND, 2> m_check{};
    HWND m_cmdOnOff = nullptr;
    HWND m_cmdDefault = nullptr;
    HWND m_lastFocus = nullptr;
    std::wstring m_menuOnOffCaption = L"&Turn On";
    Form1* m_form = nullptr;
    std::vector<Win32MessageHandler*> m_handlers;
    std::string m_lastError;
    bool m_inPopup = false;
    bool m_sessionNotifications = false;
};
