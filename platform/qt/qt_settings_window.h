#pragma once

#include <memory>
#include <vector>

#include <QString>

#include "platform/settings_view.h"
#include "platform/test_peer.h"

class QMenu;
class QObject;
class QWidget;
class SettingsWindowWidget;

/// The settings window "Form1" and the tray popup, as Qt widgets built from the layout, at
/// their twip positions (15 to the logical pixel). Every value comes from the logic; the
/// widgets only mirror it, and what the user does goes to the event sink, as does the
/// desktop session's end. Values set here never come back as user actions.
/// The window's controls are made when it is first shown (the popup's items when it first pops
/// up): a program that stays in the tray never loads fonts or lays out text for them. Until
/// then the values set here are kept, and the controls start from them.
class QtSettingsWindow final : public SettingsView {
public:
    QtSettingsWindow();
    ~QtSettingsWindow() override;
    QtSettingsWindow(const QtSettingsWindow&) = delete;
    QtSettingsWindow& operator=(const QtSettingsWindow&) = delete;

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
    void popupMenu() override;
    void unload() override;

    /// The tray popup with its items, made now if it was not yet; it lives as long as this window.
    QMenu* trayMenu();

private:
    friend class SettingsWindowWidget;
    friend struct TestPeer<QtSettingsWindow>;
    /// The top-level widget, for tests.
    QWidget* widget() const;
    void closeRequested();
    void stateChanged();
    /// The window's controls, or (|menuItems|) the popup's items, made once with the values kept.
    void makeControls(bool menuItems);
    void connectControl(QObject* made, const ControlSpec& control);
    /// Gives each row's slider and value box the name of the row's label, for screen readers.
    void nameByLabels();
    /// The position of |name| (at |index|) in the layout; -1 when there is none.
    int find(ControlName name, int index = 0) const;
    /// Keeps |text| (a caption, a field's text) or |value| (a slider's, a check box's) for
    /// control |at| (none when -1), and shows it if the control is made.
    void showText(int at, QString text);
    void showValue(int at, std::int16_t value);
    /// Shows what is kept for control |at| in it, if it is made; never reported as the user's.
    void apply(int at);

    /// What a control shows: its text, or a slider's or check box's value.
    struct Shown {
        QString text;
        std::int16_t value = 0;
    };

    std::unique_ptr<SettingsWindowWidget> m_widget;
    std::unique_ptr<QMenu> m_menu;  ///< made when it first pops up
    const WindowLayout* m_layout = nullptr;
    std::vector<Shown> m_shown;        ///< parallel to m_layout->controls, from createControls on
    std::vector<QObject*> m_controls;  ///< parallel to m_shown; null until made
    bool m_windowMade = false;
    ProgramEventSink* m_sink = nullptr;
    bool m_unloading = false;
};
