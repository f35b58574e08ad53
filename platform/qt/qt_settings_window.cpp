#include "platform/qt/qt_settings_window.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFont>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSessionManager>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWidget>

#include "platform/program_event_sink.h"
#include "platform/qt/qt_tray_icon.h"

namespace {

constexpr int kTwipsPerPixel = 15;

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

/// A horizontal scroll bar whose Right arrow key steps up and Left steps down. QScrollBar
/// inverts its controls (for the wheel), which on its own makes Right step down.
class ValueScrollBar final : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool rightToLeft = isRightToLeft();
        if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Left) {
            const bool up = (event->key() == Qt::Key_Right) != rightToLeft;
            triggerAction(up ? SliderSingleStepAdd : SliderSingleStepSub);
            event->accept();
            return;
        }
        QScrollBar::keyPressEvent(event);
    }
};

// A label has no frame, so widening it up to its row's slider changes nothing visible but
// spares a font wider than the classic one the clipping of its last letters. Still too wide
// for the room (a wide desktop font): a pixel or two smaller, not clipped.
void fitLabel(QLabel* label, const ControlSpec& control, const WindowLayout& layout)
{
    int room = label->width();
    for (const ControlSpec& other : layout.controls)
        if (other.kind == ControlKind::Slider && other.index == control.index)
            room = toPixels(other.rect.left) - label->x() - 2;
    if (label->sizeHint().width() > label->width())
        label->resize(std::min(label->sizeHint().width(), room), label->height());
    for (int pixels = 10; pixels >= 9 && label->sizeHint().width() > label->width(); --pixels) {
        QFont smaller = label->font();
        smaller.setPixelSize(pixels);
        label->setFont(smaller);
    }
}

// The widget of |control| (not a menu item) on |form|, placed and set up as the layout says.
QWidget* makeWidget(const ControlSpec& control, const WindowLayout& layout, QWidget* form)
{
    const QString caption = fromUtf8(control.caption);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::Label:
        widget = new QLabel(caption, form);
        break;
    case ControlKind::Slider: {
        auto* slider = new ValueScrollBar(Qt::Horizontal, form);
        slider->setRange(control.range.minimum, control.range.maximum);
        slider->setSingleStep(control.range.arrowStep);
        slider->setPageStep(control.range.pageStep);
        slider->setValue(control.value);
        // Nothing happens while the thumb is dragged; the new value counts once it is let go.
        slider->setTracking(false);
        slider->setFocusPolicy(Qt::StrongFocus);
        widget = slider;
        break;
    }
    case ControlKind::TextBox:
        widget = new QLineEdit(QString::number(control.value), form);
        break;
    case ControlKind::Button:
        widget = new QPushButton(caption, form);
        break;
    case ControlKind::CheckBox:
        widget = new TwoStateCheckBox(caption, form);
        break;
    case ControlKind::MenuItem:
        return nullptr;
    }
    place(widget, control.rect);
    if (auto* label = qobject_cast<QLabel*>(widget))
        fitLabel(label, control, layout);
    if (!control.enabled)
        widget->setEnabled(false);
    if (!control.visible)
        widget->hide();
    return widget;
}

}  // namespace

/// The window itself; its close box and state changes go back to the owner.
class SettingsWindowWidget final : public QWidget {
public:
    explicit SettingsWindowWidget(QtSettingsWindow& owner)
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
        // The close box only hides; the logic decides (through its unload handler) what happens.
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

namespace {

/// What a screen reader reads of the window: a dialog named by its caption, whose children are
/// the controls the user can see. Qt would offer a nameless "client" area, hidden controls
/// included.
class SettingsWindowAccessible final : public QAccessibleWidget {
public:
    explicit SettingsWindowAccessible(QWidget* form) : QAccessibleWidget(form, QAccessible::Dialog) {}

    int childCount() const override { return static_cast<int>(shownChildren().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> children = shownChildren();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child == nullptr)
            return -1;
        return static_cast<int>(shownChildren().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> shownChildren() const
    {
        QList<QWidget*> shown;
        for (QObject* child : widget()->children()) {
            auto* control = qobject_cast<QWidget*>(child);
            if (control != nullptr && !control->isWindow() && !control->isHidden())
                shown.append(control);
        }
        return shown;
    }
};

QAccessibleInterface* accessibleSettingsWindow(const QString& /*className*/, QObject* object)
{
    auto* form = dynamic_cast<SettingsWindowWidget*>(object);
    return form != nullptr ? new SettingsWindowAccessible(form) : nullptr;
}

}  // namespace

QtSettingsWindow::QtSettingsWindow()
    : m_widget(std::make_unique<SettingsWindowWidget>(*this))
{
    m_widget->setObjectName(QStringLiteral("Form1"));
    static const bool accessibleFactoryInstalled = [] {
        QAccessible::installFactory(accessibleSettingsWindow);
        return true;
    }();
    (void)accessibleFactoryInstalled;

    // The desktop session ending (logout, shutdown) takes the same exit as "&Exit".
    const auto sessionEnding = [this] {
        if (m_sink)
            m_sink->sessionEnding();
    };
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, m_widget.get(), sessionEnding);
    QObject::connect(qGuiApp, &QCoreApplication::aboutToQuit, m_widget.get(), sessionEnding);
}

QtSettingsWindow::~QtSettingsWindow()
{
    m_unloading = true;
}

void QtSettingsWindow::createControls(const WindowLayout& layout)
{
    m_layout = &layout;
    m_widget->setWindowTitle(fromUtf8(layout.caption));
    m_widget->setFixedSize(toPixels(layout.clientWidth), toPixels(layout.clientHeight));
    for (const ControlSpec& control : layout.controls) {
        const bool number = control.kind == ControlKind::TextBox;
        m_shown.push_back({number ? QString::number(control.value) : fromUtf8(control.caption), control.value});
    }
    m_controls.assign(m_shown.size(), nullptr);
}

void QtSettingsWindow::makeControls(bool menuItems)
{
    if ((menuItems ? m_menu != nullptr : m_windowMade) || !m_layout)
        return;
    QWidget* form = m_widget.get();
    if (menuItems) {
        m_menu = std::make_unique<QMenu>();
        m_menu->setObjectName(QStringLiteral("mnuSet"));
    } else {
        m_windowMade = true;
        form->setWindowIcon(QtTrayIcon::icon(TrayImage::Active));
        // The positions were laid out for the classic 8-point dialog font (11 pixels at 96 dpi);
        // the desktop's larger default would clip the labels and captions.
        QFont font = form->font();
        font.setPixelSize(11);
        form->setFont(font);
    }
    // Made in tab order, which Qt takes as the focus chain; the first control that takes the
    // focus has it when the window is first shown.
    QWidget* firstFocus = nullptr;
    for (std::size_t at = 0; at < m_controls.size(); ++at) {
        const ControlSpec& control = m_layout->controls[at];
        if ((control.kind == ControlKind::MenuItem) != menuItems)
            continue;
        QWidget* widget = menuItems ? nullptr : makeWidget(control, *m_layout, form);
        m_controls[at] = widget ? static_cast<QObject*>(widget) : m_menu->addAction(m_shown[at].text);
        apply(static_cast<int>(at));
        connectControl(m_controls[at], control);
        if (!firstFocus && widget && widget->focusPolicy() != Qt::NoFocus && control.enabled && control.visible)
            firstFocus = widget;
    }
    if (!menuItems)
        nameByLabels();
    if (firstFocus)
        firstFocus->setFocus();
}

void QtSettingsWindow::nameByLabels()
{
    for (std::size_t at = 0; at < m_controls.size(); ++at) {
        auto* label = qobject_cast<QLabel*>(m_controls[at]);
        if (label == nullptr)
            continue;
        const int row = m_layout->controls[at].index;
        for (std::size_t other = 0; other < m_controls.size(); ++other) {
            const ControlSpec& control = m_layout->controls[other];
            auto* named = qobject_cast<QWidget*>(m_controls[other]);
            if (named == nullptr || control.index != row
                || (control.kind != ControlKind::Slider && control.kind != ControlKind::TextBox))
                continue;
            // The buddy relation gives the slider its "labelled by" label; a label has one buddy,
            // so the value box beside it carries the same name on its own.
            if (control.kind == ControlKind::Slider)
                label->setBuddy(named);
            named->setAccessibleName(label->text());
        }
    }
}

void QtSettingsWindow::connectControl(QObject* made, const ControlSpec& control)
{
    const ControlName name = control.name;
    const int index = control.index;
    const auto clicked = [this, name] {
        if (m_sink)
            m_sink->controlClicked(name);
    };
    if (auto* slider = qobject_cast<QScrollBar*>(made)) {
        QObject::connect(slider, &QScrollBar::valueChanged, [this, index](int value) {
            if (m_sink)
                m_sink->motionSliderMoved(index, value);
        });
    } else if (auto* check = qobject_cast<QCheckBox*>(made)) {
        // clicked() comes from the user only; values set by the logic use setCheckState.
        QObject::connect(check, &QCheckBox::clicked, [this, index](bool checked) {
            if (m_sink)
                m_sink->optionCheckChanged(index, checked ? 1 : 0);
        });
    } else if (auto* button = qobject_cast<QPushButton*>(made)) {
        QObject::connect(button, &QPushButton::clicked, clicked);
    } else if (auto* action = qobject_cast<QAction*>(made)) {
        QObject::connect(action, &QAction::triggered, clicked);
    }
}

int QtSettingsWindow::find(ControlName name, int index) const
{
    for (std::size_t at = 0; at < m_shown.size(); ++at) {
        const ControlSpec& control = m_layout->controls[at];
        if (control.name == name && control.index == index)
            return static_cast<int>(at);
    }
    return -1;
}

void QtSettingsWindow::showText(int at, QString text)
{
    if (at < 0)
        return;
    m_shown[at].text = std::move(text);
    apply(at);
}

void QtSettingsWindow::showValue(int at, std::int16_t value)
{
    if (at < 0)
        return;
    m_shown[at].value = value;
    apply(at);
}

void QtSettingsWindow::apply(int at)
{
    QObject* made = m_controls[at];
    const Shown& shown = m_shown[at];
    if (auto* field = qobject_cast<QLineEdit*>(made)) {
        field->setText(shown.text);
        // Long stored texts would otherwise show their end; the start is what identifies them.
        field->setCursorPosition(0);
    } else if (auto* slider = qobject_cast<QScrollBar*>(made)) {
        const QSignalBlocker quiet(slider);
        slider->setValue(shown.value);
    } else if (auto* check = qobject_cast<QCheckBox*>(made)) {
        const QSignalBlocker quiet(check);
        static constexpr Qt::CheckState kStates[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
        check->setCheckState(kStates[shown.value]);
    } else if (auto* button = qobject_cast<QPushButton*>(made)) {
        button->setText(shown.text);
    } else if (auto* action = qobject_cast<QAction*>(made)) {
        action->setText(shown.text);
    }
}

QWidget* QtSettingsWindow::widget() const
{
    return m_widget.get();
}

void QtSettingsWindow::closeRequested()
{
    if (m_sink)
        m_sink->closeRequested();
    else
        m_widget->hide();
}

void QtSettingsWindow::stateChanged()
{
    if (m_sink)
        m_sink->windowResized();
}

void QtSettingsWindow::setFieldText(int index, std::string_view text)
{
    showText(find(ControlName::MotionField, index), fromUtf8(text));
}

void QtSettingsWindow::setSliderValue(int index, std::int16_t value)
{
    showValue(find(ControlName::MotionSlider, index), value);
}

void QtSettingsWindow::setCheckValue(int index, std::int16_t value)
{
    if (value >= 0 && value <= 2)
        showValue(find(ControlName::OptionCheck, index), value);
}

void QtSettingsWindow::setButtonOnOffCaption(std::string_view caption)
{
    showText(find(ControlName::OnOffButton), fromUtf8(caption));
}

void QtSettingsWindow::setMenuOnOffCaption(std::string_view caption)
{
    showText(find(ControlName::OnOffMenuItem), fromUtf8(caption));
}

void QtSettingsWindow::setCaption(std::string_view caption)
{
    m_widget->setWindowTitle(fromUtf8(caption));
}

void QtSettingsWindow::show()
{
    makeControls(false);
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

QMenu* QtSettingsWindow::trayMenu()
{
    makeControls(true);
    return m_menu.get();
}

void QtSettingsWindow::popupMenu()
{
    if (QMenu* menu = trayMenu())
        menu->popup(QCursor::pos());
}

void QtSettingsWindow::unload()
{
    m_unloading = true;
    if (m_menu)
        m_menu->close();
    m_widget->close();
    // Leaves the event loop once the handler that asked returns; before the loop runs (a
    // second launch ends inside start-up) there is nothing to leave and main() checks ended().
    QCoreApplication::exit(0);
}
