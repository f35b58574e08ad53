#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>

#include <cstdlib>
#include <functional>
#include <iterator>
#include <utility>

#include "platform/program_event_sink.h"
#include "platform/qt/qt_settings_window.h"
#include "platform/qt/qt_tray_icon.h"
#include "qt_test_peers.h"

namespace {

QWidget* topWidget(const QtSettingsWindow& window) { return TestPeer<QtSettingsWindow>::widget(window); }

// One control of each kind that the logic sets values on; the second check box is hidden.
constexpr ControlSpec kControls[] = {
    {ControlName::MotionField, 0, ControlKind::TextBox, {120, 120, 600, 285}, 0, {}, {}, 25, false},
    {ControlName::MotionSlider, 0, ControlKind::Slider, {900, 120, 2000, 255}, 1, {}, {1, 100, 5, 25}, 25},
    {ControlName::OptionCheck, 0, ControlKind::CheckBox, {120, 600, 2500, 255}, 2, "&Start on"},
    {ControlName::OptionCheck, 1, ControlKind::CheckBox, {120, 900, 2500, 255}, 3, "Other", {}, 0, true, false},
    {ControlName::OnOffButton, 0, ControlKind::Button, {3000, 600, 1200, 375}, 4, "&Turn On"},
    {ControlName::OnOffMenuItem, 0, ControlKind::MenuItem, {}, -1, "&Turn On"},
};
constexpr WindowLayout kLayout{"Form1", 4500, 1500, kControls};

// Counts every report: values the logic sets must never come back as the user's actions.
struct CountingSink final : ProgramEventSink {
    void controlClicked(ControlName) override { ++calls; }
    void motionSliderMoved(int, int) override { ++calls; }
    void motionSliderScrolled(int, ScrollAction, int) override { ++calls; }
    void optionCheckChanged(int, int) override { ++calls; }
    void trayEvent(TrayEvent) override { ++calls; }
    void timerTicked() override { ++calls; }
    void closeRequested() override { ++calls; }
    void windowResized() override { ++calls; }
    void sessionEnding() override { ++calls; }
    void renewKeyCapture() override { ++calls; }
    void suspendKeyCapture() override { ++calls; }
    void storeChanged(bool) override { ++calls; }
    int calls = 0;
};

QMenu* popup()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QStringLiteral("mnuSet"))
            return qobject_cast<QMenu*>(top);
    return nullptr;
}

QString checkValue(const QtSettingsWindow& window, int index)
{
    const Qt::CheckState state = topWidget(window)->findChildren<QCheckBox*>().at(index)->checkState();
    return QString::number(state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0);
}

struct Row {
    const char* control;
    std::function<void(SettingsView&, const char*)> set;
    std::function<QString(const QtSettingsWindow&)> shown;
    const char* beforeShow;
    const char* afterShow;
};

std::int16_t number(const char* text)
{
    return static_cast<std::int16_t>(std::atoi(text));
}

// Given values set while the controls are not made yet, when the window is shown and the popup
// pops up, then the controls show those values; values set afterwards go straight to them.
TEST(QtSettingsWindowTest, ControlsMadeOnFirstShowStartFromEveryValueSetBefore)
{
    const Row rows[] = {
        {"Text1(0)", [](SettingsView& v, const char* t) { v.setFieldText(0, t); },
         [](const QtSettingsWindow& w) { return topWidget(w)->findChild<QLineEdit*>()->text(); }, "1e3 \xC3\xA9", "40"},
        {"HScroll1(0)", [](SettingsView& v, const char* t) { v.setSliderValue(0, number(t)); },
         [](const QtSettingsWindow& w) { return QString::number(topWidget(w)->findChild<QScrollBar*>()->value()); },
         "70", "30"},
        {"chkDefault(0)", [](SettingsView& v, const char* t) { v.setCheckValue(0, number(t)); },
         [](const QtSettingsWindow& w) { return checkValue(w, 0); }, "2", "1"},
        {"chkDefault(1)", [](SettingsView& v, const char* t) { v.setCheckValue(1, number(t)); },
         [](const QtSettingsWindow& w) { return checkValue(w, 1); }, "1", "0"},
        {"cmdOnOff", [](SettingsView& v, const char* t) { v.setButtonOnOffCaption(t); },
         [](const QtSettingsWindow& w) { return topWidget(w)->findChild<QPushButton*>()->text(); }, "&Turn Off",
         "&Turn On"},
        {"mnuOnOff", [](SettingsView& v, const char* t) { v.setMenuOnOffCaption(t); },
         [](const QtSettingsWindow&) { return popup()->actions().at(0)->text(); }, "&Turn Off", "&Turn On"},
        {"caption", [](SettingsView& v, const char* t) { v.setCaption(t); },
         [](const QtSettingsWindow& w) { return topWidget(w)->windowTitle(); }, "Cursor 9.8.7", "Cursor 1.0.16"},
    };
    CountingSink sink;
    QtSettingsWindow window;
    window.createControls(kLayout);
    window.setEventSink(&sink);
    for (const Row& row : rows)
        row.set(window, row.beforeShow);
    window.setCheckValue(0, 3);  // out of range: ignored, before and after the show
    EXPECT_TRUE(topWidget(window)->findChildren<QWidget*>().isEmpty()) << "controls made before the first show";
    EXPECT_EQ(popup(), nullptr) << "popup made before it first popped up";

    window.show();
    window.popupMenu();
    for (const Row& row : rows)
        EXPECT_EQ(row.shown(window).toStdString(), row.beforeShow) << row.control;
    EXPECT_FALSE(topWidget(window)->findChild<QLineEdit*>()->isEnabled());
    EXPECT_TRUE(topWidget(window)->findChildren<QCheckBox*>().at(1)->isHidden());

    for (const Row& row : rows)
        row.set(window, row.afterShow);
    window.setCheckValue(0, -1);
    window.show();
    window.popupMenu();
    for (const Row& row : rows)
        EXPECT_EQ(row.shown(window).toStdString(), row.afterShow) << row.control;
    EXPECT_EQ(topWidget(window)->findChildren<QScrollBar*>().size(), 1) << "controls made twice";
    EXPECT_EQ(popup()->actions().size(), 1) << "menu items made twice";
    EXPECT_EQ(sink.calls, 0);
    popup()->close();
}

// The images compiled in are the renders, pixel for pixel, at each size the panels ask for.
// Compared premultiplied: a pixmap keeps its pixels so, and the edges' half-transparent pixels
// do not survive the way back to straight alpha exactly.
TEST(QtTrayIconTest, ImagesAreTheRendersAtEverySize)
{
    const std::pair<TrayImage, const char*> images[] = {{TrayImage::Active, "active"}, {TrayImage::Inactive, "inactive"}};
    const int sizes[] = {16, 20, 22, 24, 32, 40, 48, 64};
    for (const auto& [image, state] : images) {
        const QIcon icon = QtTrayIcon::icon(image);
        EXPECT_EQ(icon.availableSizes().size(), std::size(sizes)) << state;
        for (const int size : sizes) {
            const QString file = QStringLiteral("%1/pavro-%2-%3.png").arg(PAVRO_RENDERED_ICONS).arg(state).arg(size);
            const QImage expected = QImage(file).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            ASSERT_FALSE(expected.isNull()) << file.toStdString();
            EXPECT_EQ(icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                      expected)
                << file.toStdString();
        }
    }
    EXPECT_TRUE(QtTrayIcon::icon(TrayImage::None).isNull());
}

}  // namespace

int main(int argc, char* argv[])
{
    // No display needed: the window and the icons are only built and read back.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
