#pragma once

#include <array>
#include <memory>

#include "platform/settings_view.h"

class Form1;
class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollBar;
class QWidget;
class Form1Widget;

/// The settings window "Form1" and the tray popup, as Qt widgets. The controls sit at fixed
/// positions given in twips (15 to the logical pixel) in a 373 x 124 client area. Every value
/// comes from Form1; the widgets only mirror it, and what the user does goes back to Form1.
/// Values set here never come back as user actions.
class QtSettingsWindow final : public SettingsView {
public:
    QtSettingsWindow();
    ~QtSettingsWindow() override;
    QtSettingsWindow(const QtSettingsWindow&) = delete;
    QtSettingsWindow& operator=(const QtSettingsWindow&) = delete;

    /// User actions go to |form| from now on; before, they are dropped.
    void attach(Form1& form);

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

    std::unique_ptr<Form1Widget> m_widget;
    std::array<QScrollBar*, 4> m_sliders{};
    std::array<QLineEdit*, 4> m_fields{};
    std::array<QCheckBox*, 2> m_checks{};
    QPushButton* m_cmdDefault = nullptr;
    QPushButton* m_cmdOnOff = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_mnuOnOff = nullptr;
    Form1* m_form = nullptr;
    bool m_unloading = false;
};
