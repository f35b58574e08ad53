#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_view.h"
#include "platform/win32/win32_accessible_names.h"
#include "platform/win32/win32_window_messages.h"

/// The settings window in plain Win32 controls, built from the layout at its twip positions
/// scaled to its monitor's dpi (15 twips per pixel at 96 dpi), again when it moves to a
/// monitor of another scale. The window also receives the
/// system's session, power and lock notifications, and reports them with the user's actions
/// to the event sink. It mirrors what the logic sets without reporting it back as a user
/// action.
class Win32SettingsWindow final : public SettingsView {
public:
    explicit Win32SettingsWindow(HINSTANCE instance);
    Win32SettingsWindow(const Win32SettingsWindow&) = delete;
    Win32SettingsWindow& operator=(const Win32SettingsWindow&) = delete;
    ~Win32SettingsWindow() override;

    /// Creates the window (hidden); createControls() fills and sizes it. False when the
    /// system refused; the reason is in lastError().
    bool create();
    std::string lastError() const { return m_lastError; }
    /// Offers every message of the window to |handler| first (the tray icon's messages).
    void addMessageHandler(Win32MessageHandler& handler) { m_handlers.push_back(&handler); }
    /// For the message loop: the dialog keys (Tab, access keys Alt+D / Alt+T). True when
    /// the message was consumed and must not be dispatched.
    bool preTranslateMessage(MSG& message);
    HWND handle() const { return m_window; }
    /// True once the system said the session ends: the process may be ended at any moment,
    /// and nothing may wait for the user any more.
    bool sessionEnded() const { return m_sessionEnded; }

    void createControls(const WindowLayout& layout) override;
    void setEventSink(ProgramEventSink* sink) override { m_sink = sink; }
    void setFieldText(int index, std::string_view text) override;
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
    void unload() override;

    /// Pixels for |twips| at |dpi| (15 twips per pixel at 96 dpi), rounded to nearest.
    static int pixelsFromTwips(int twips, int dpi);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND createControl(const ControlSpec& control, int id);
    /// Gives each slider and value box the name of its row's label, for screen readers.
    void nameControlsByLabels();
    /// The dialog font at |dpi|, owned by the caller; nullptr when the system has none.
    static HFONT makeFont(int dpi);
    /// Sizes the window so that its client area is the layout's at the current dpi, its top
    /// left corner at |topLeft| (where it is when none).
    void fitClientArea(std::optional<POINT> topLeft);
    /// Lays the window out again at |dpi|, its top left corner where the |suggested| window
    /// rectangle has it.
    void applyDpi(int dpi, const RECT& suggested);
    /// The position in the layout of control |name| (at |index|); -1 when there is none.
    int find(ControlName name, int index = 0) const;
    void onScroll(HWND bar, int code, int position);
    void onCommand(int id, int notification);
    void renewKeyCapture();
    /// Asks for the session notifications (unlock, connect); a refusal is retried on a timer.
    void registerSessionNotifications();

    /// What the window keeps of each control of the layout, at the same position.
    struct Control {
        HWND handle = nullptr;
        int value = 0;         ///< a slider's value as the logic holds it
        std::wstring caption;  ///< a menu item's caption
    };

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HFONT m_font = nullptr;
    int m_dpi = 96;
    const WindowLayout* m_layout = nullptr;
    std::vector<Control> m_controls;
    Win32AccessibleNames m_names;
    HWND m_firstFocus = nullptr;
    HWND m_lastFocus = nullptr;
    ProgramEventSink* m_sink = nullptr;
    std::vector<Win32MessageHandler*> m_handlers;
    std::string m_lastError;
    bool m_inPopup = false;
    bool m_sessionNotifications = false;
    bool m_sessionEnded = false;
    int m_sessionRetries = 0;
};
