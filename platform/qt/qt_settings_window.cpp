#include "platform/qt/qt_settings_window.h"

#include <algorithm>

#include <QApplication>
#include <QFont>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWidget>

#include "platform/qt/qt_tray_icon.h"
#include "shell/form1.h"

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidthTwips = 5595;
constexpr int kClientHeightTwips = 1860;

struct TwipRect {
    int left;
    int top;
    int width;
    int height;
};

constexpr std::array<const char*, 4> kLabelCaptions{"Std Speed:", "Fast Speed:", "Switch to Fast in (ms):",
                                                    "Refresh Rate (ms):"};
constexpr std::array<TwipRect, 4> kLabelRects{{{120, 120, 975, 255},
                                               {120, 480, 975, 255},
                                               {120, 840, 1695, 255},
                                               {120, 1200, 1455, 255}}};
constexpr std::array<TwipRect, 4> kSliderRects{{{1920, 125, 2055, 255},
                                                {1920, 485, 2055, 255},
                                                {1920, 844, 2055, 255},
                                                {1920, 1204, 2055, 255}}};
constexpr std::array<TwipRect, 4> kFieldRects{{{4080, 120, 495, 285},
                                               {4080, 480, 495, 285},
                                               {4080, 840, 495, 285},
                                               {4080, 1200, 495, 285}}};
constexpr TwipRect kCmdDefaultRect{4680, 120, 855, 375};
constexpr TwipRect kCmdOnOffRect{4680, 600, 855, 1200};
constexpr std::array<TwipRect, 2> kCheckRects{{{120, 1560, 3855, 255}, {3600, 1800, 1935, 255}}};

int toPixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

void place(QWidget* widget, const TwipRect& rect)
{
    widget->setGeometry(toPixels(rect.left), toPixels(rect.top), toPixels(rect.width), toPixels(rect.height));
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A check box whose click only ever ticks or clears it: the greyed third state comes from
/// stored settings, never from the user, and a click on it ticks the box.
class TwoStateCheckBox final : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override
    {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

}  // namespace

/// The window itself; its close box and state changes go back to the owner.
class Form1Widget final : public QWidget {
public:
    explicit Form1Widget(QtSettingsWindow& owner)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                               | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
        , m_owner(owner)
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (m_owner.m_unloading) {
            event->accept();
            return;
        }
        // The close box only hides; Form1 decides (through its unload handler) what happens.
        event->ignore();
        m_owner.closeRequested();
    }

    void changeEvent(QEvent* event) override
    {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange)
            m_owner.stateChanged();
    }

private:
    QtSettingsWindow& m_owner;
};

QtSettingsWindow::QtSettingsWindow()
    : m_widget(std::make_unique<Form1Widget>(*this))
    , m_menu(std::make_unique<QMenu>())
{
    QWidget* form = m_widget.get();
    form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(QStringLiteral("Cursor"));
    form->setWindowIcon(QtTrayIcon::icon(TrayImage::Active));
    form->setFixedSize(toPixels(kClientWidthTwips), toPixels(kClientHeightTwips));
    // The positions were laid out for the classic 8-point dialog font (11 pixels at 96 dpi);
    // the desktop's larger default would clip the labels and captions.
    QFont font = form->font();
    font.setPixelSize(11);
    form->setFont(font);

    static constexpr std::array<int, 4> kMaxima{150, 150, 1500, 150};
    static constexpr std::array<int, 4> kArrowSteps{5, 5, 50, 5};
    static constexpr std::array<int, 4> kPageSteps{25, 25, 250, 25};
    static constexpr std::array<int, 4> kInitialValues{25, 80, 250, 25};
    for (int i = 0; i < 4; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        auto* label = new QLabel(QString::fromLatin1(kLabelCaptions[slot]), form);
        label->setObjectName(QStringLiteral("lblName%1").arg(i));
        place(label, kLabelRects[slot]);
        // A label has no frame, so widening it up to the slider changes nothing visible but
        // spares a font wider than the classic one the clipping of its last letters.
        const int room = toPixels(kSliderRects[slot].left) - label->x() - 2;
        if (label->sizeHint().width() > label->width())
            label->resize(std::min(label->sizeHint().width(), room), label->height());
        // Still too wide for the room (a wide desktop font): a pixel or two smaller, not clipped.
        for (int pixels = 10; pixels >= 9 && label->sizeHint().width() > label->width(); --pixels) {
            QFont smaller = label->font();
            smaller.setPixelSize(pixels);
            label->setFont(smaller);
        }

        auto* slider = new QScrollBar(Qt::Horizontal, form);
        slider->setObjectName(QStringLiteral("HScroll1_%1").arg(i));
        slider->setRange(0, kMaxima[slot]);
        slider->setSingleStep(kArrowSteps[slot]);
        slider->setPageStep(kPageSteps[slot]);
        slider->setValue(kInitialValues[slot]);
        // Nothing happens while the thumb is dragged; the new value counts once it is let go.
        slider->setTracking(false);
        slider->setFocusPolicy(Qt::StrongFocus);
        place(slider, kSliderRects[slot]);
        QObject::connect(slider, &QScrollBar::valueChanged, [this, i](int value) {
            if (m_form)
                m_form->HScroll1_UserChange(i, value);
        });
        m_sliders[slot] = slider;

        auto* field = new QLineEdit(QString::number(kInitialValues[slot]), form);
        field->setObjectName(QStringLiteral("Text1_%1").arg(i));
        field->setEnabled(false);
        place(field, kFieldRects[slot]);
        m_fields[slot] = field;
    }

    m_cmdDefault = new QPushButton(QStringLiteral("&Default"), form);
    m_cmdDefault->setObjectName(QStringLiteral("cmdDefault"));
    place(m_cmdDefault, kCmdDefaultRect);
    QObject::connect(m_cmdDefault, &QPushButton::clicked, [this] {
        if (m_form)
            m_form->cmdDefault_Click();
    });

    m_cmdOnOff = new QPushButton(QString::fromLatin1(kCaptionTurnOn), form);
    m_cmdOnOff->setObjectName(QStringLiteral("cmdOnOff"));
    place(m_cmdOnOff, kCmdOnOffRect);
    QObject::connect(m_cmdOnOff, &QPushButton::clicked, [this] {
        if (m_form)
            m_form->cmdOnOff_Click();
    });

    static constexpr std::array<const char*, 2> kCheckCaptions{"Set cursor as default mode",
                                                               "Use Q1 Hardware Scancode"};
    for (int i = 0; i < 2; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        auto* check = new TwoStateCheckBox(QString::fromLatin1(kCheckCaptions[slot]), form);
        check->setObjectName(QStringLiteral("chkDefault%1").arg(i));
        place(check, kCheckRects[slot]);
        // clicked() comes from the user only; values set by Form1 use setCheckState.
        QObject::connect(check, &QCheckBox::clicked, [this, i](bool checked) {
            if (m_form)
                m_form->chkDefault_UserChange(i, checked ? 1 : 0);
        });
        m_checks[slot] = check;
    }
    // The scancode option only travels from the store through the box back to the store.
    m_checks[1]->setTristate(true);
    m_checks[1]->hide();

    QWidget::setTabOrder(m_cmdOnOff, m_checks[0]);
    QWidget::setTabOrder(m_checks[0], m_cmdDefault);
    QWidget::setTabOrder(m_cmdDefault, m_sliders[0]);
    for (std::size_t i = 0; i + 1 < m_sliders.size(); ++i)
        QWidget::setTabOrder(m_sliders[i], m_sliders[i + 1]);
    QWidget::setTabOrder(m_sliders[3], m_cmdOnOff);
    m_cmdOnOff->setFocus();

    m_menu->setObjectName(QStringLiteral("mnuSet"));
    m_mnuOnOff = m_menu->addAction(QString::fromLatin1(kCaptionTurnOn));
    QObject::connect(m_mnuOnOff, &QAction::triggered, [this] {
        if (m_form)
            m_form->mnuOnOff_Click();
    });
    QObject::connect(m_menu->addAction(QStringLiteral("Settings")), &QAction::triggered, [this] {
        if (m_form)
            m_form->mnuSettings_Click();
    });
    QObject::connect(m_menu->addAction(QStringLiteral("&Exit")), &QAction::triggered, [this] {
        if (m_form)
            m_form->mnuExit_Click();
    });
}

QtSettingsWindow::~QtSettingsWindow()
{
    m_unloading = true;
}

void QtSettingsWindow::attach(Form1& form)
{
    m_form = &form;
}

QWidget* QtSettingsWindow::widget() const
{
    return m_widget.get();
}

void QtSettingsWindow::closeRequested()
{
    if (m_form)
        m_form->closeRequested();
    else
        m_widget->hide();
}

void QtSettingsWindow::stateChanged()
{
    if (m_form)
        m_form->Form_Resize();
}

void QtSettingsWindow::setFieldText(int index, std::string_view text)
{
    if (index < 0 || index >= static_cast<int>(m_fields.size()))
        return;
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    field->setText(fromUtf8(text));
    // Long stored texts would otherwise show their end; the start is what identifies them.
    field->setCursorPosition(0);
}

void QtSettingsWindow::setSliderRange(int index, std::int16_t minimum, std::int16_t maximum,
                                      std::int16_t arrowStep, std::int16_t pageStep)
{
    if (index < 0 || index >= static_cast<int>(m_sliders.size()))
        return;
    QScrollBar* slider = m_sliders[static_cast<std::size_t>(index)];
    const QSignalBlocker quiet(slider);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(arrowStep);
    slider->setPageStep(pageStep);
}

void QtSettingsWindow::setSliderValue(int index, std::int16_t value)
{
    if (index < 0 || index >= static_cast<int>(m_sliders.size()))
        return;
    QScrollBar* slider = m_sliders[static_cast<std::size_t>(index)];
    const QSignalBlocker quiet(slider);
    slider->setValue(value);
}

void QtSettingsWindow::setCheckValue(int index, std::int16_t value)
{
    if (index < 0 || index >= static_cast<int>(m_checks.size()))
        return;
    QCheckBox* check = m_checks[static_cast<std::size_t>(index)];
    const QSignalBlocker quiet(check);
    switch (value) {
    case 0:
        check->setCheckState(Qt::Unchecked);
        break;
    case 1:
        check->setCheckState(Qt::Checked);
        break;
    case 2:
        check->setCheckState(Qt::PartiallyChecked);
        break;
    default:
        break;
    }
}

void QtSettingsWindow::setButtonOnOffCaption(std::string_view caption)
{
    m_cmdOnOff->setText(fromUtf8(caption));
}

void QtSettingsWindow::setMenuOnOffCaption(std::string_view caption)
{
    m_mnuOnOff->setText(fromUtf8(caption));
}

void QtSettingsWindow::setCaption(std::string_view caption)
{
    m_widget->setWindowTitle(fromUtf8(caption));
}

void QtSettingsWindow::show()
{
    m_widget->show();
    m_widget->raise();
    m_widget->activateWindow();
}

void QtSettingsWindow::hide()
{
    m_widget->hide();
}

WindowState QtSettingsWindow::windowState() const
{
    return m_widget->isMinimized() ? WindowState::Minimized : WindowState::Normal;
}

void QtSettingsWindow::setWindowState(WindowState state)
{
    const Qt::WindowStates current = m_widget->windowState();
    if (state == WindowState::Minimized)
        m_widget->setWindowState(current | Qt::WindowMinimized);
    else
        m_widget->setWindowState(current & ~Qt::WindowMinimized);
}

void QtSettingsWindow::setForeground()
{
    if (!m_widget->isVisible())
        return;
    m_widget->raise();
    m_widget->activateWindow();
}

void QtSettingsWindow::popupMenu()
{
    m_menu->popup(QCursor::pos());
}

std::uintptr_t QtSettingsWindow::windowHandle() const
{
    return static_cast<std::uintptr_t>(m_widget->winId());
}

int QtSettingsWindow::twipsPerPixelX() const
{
    const int dpi = m_widget->logicalDpiX();
    return dpi > 0 ? (1440 + dpi / 2) / dpi : kTwipsPerPixel;
}

void QtSettingsWindow::unload()
{
    m_unloading = true;
    m_menu->close();
    m_widget->close();
    // Leaves the event loop once the handler that asked returns; before the loop runs (a
    // second launch ends inside start-up) there is nothing to leave and main() checks ended().
    QCoreApplication::exit(0);
}
