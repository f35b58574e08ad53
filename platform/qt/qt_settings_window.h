#pragma once

#include <memory>
#include <vector>

#include "platform/settings_view.h"

class QMenu;
class QObject;
class QWidget;
class Form1Widget;

/// The settings window "Form1" and the tray popup, as Qt widgets built from the layout, at
/// their twip positions (15 to the logical pixel). Every value comes from the logic; the
/// widgets only mirror it, and what the user does goes to the event sink, as does the
/// desktop session's end. Values set here never come back as user actions.
class QtSettingsWindow final : public SettingsView {
public:
    QtSettingsWindow();
    ~QtSettingsWindow() override;
    QtSettingsWindow(const QtSettingsWindow&) = delete;
    QtSettingsWindow& operator=(const QtSettingsWindow&) = delete;

    void createControls(const FormLayout& layout) override;
    void setEventSink(FormEventSink* sink) override { m_sink = sink; }
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
    std::uintptr_t windowHandle() const override;
    int twipsPerPixelX() const override;
    void unload() override;

    /// The top-level widget, for tests and screenshots.
    QWidget* widget() const;

private:
    friend class Form1Widget;
    void closeRequested();
    void stateChanged();
    void connectControl(QObject* made, const ControlSpec& control);
    /// The widget or menu action made for |name| (at |index|), null before createControls.
    QObject* find(ControlName name, int index = 0) const;

    std::unique_ptr<Form1Widget> m_widget;
    std::unique_ptr<QMenu> m_menu;
    const FormLayout* m_layout = nullptr;
    std::vector<QObject*> m_controls;  ///< parallel to m_layout->controls
    FormEventSink* m_sink = nullptr;
    bool m_unloading = false;
};
