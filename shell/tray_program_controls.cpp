#include <algorithm>

#include "engine/motion_parameters.h"
#include "engine/numbers.h"
#include "engine/on_off_poll.h"
#include "shell/tray_program.h"

void TrayProgram::restoreDefaults()
{
    for (int i = 0; i < 4; ++i)
        setMotionField(i, decimalText(kRowDefaults[i]));
    for (int i = 0; i < 4; ++i)
        setMotionSlider(i, kRowDefaults[i]);
    setOptionCheck(0, 0);
}

void TrayProgram::setMotionField(int index, std::string_view text)
{
    if (index < 0 || index > 3 || m_controls.motionFields[index] == text)
        return;
    m_controls.motionFields[index] = std::string(text);
    m_platform.view.setFieldText(index, text);
    motionFieldChanged(static_cast<std::int16_t>(index));
}

void TrayProgram::motionFieldChanged(std::int16_t index) { RecalcMotion(index); }

void TrayProgram::setMotionSlider(int index, std::int16_t value)
{
    if (index < 0 || index > 3)
        return;
    SliderControl& slider = m_controls.motionSliders[index];
    value = std::clamp(value, slider.minimum, slider.maximum);
    if (slider.value == value)
        return;
    slider.value = value;
    m_platform.view.setSliderValue(index, value);
    motionSliderChanged(static_cast<std::int16_t>(index));
}

void TrayProgram::motionSliderChanged(std::int16_t index)
{
    setMotionField(index, decimalText(m_controls.motionSliders[index].value));
}

void TrayProgram::motionSliderMoved(int index, int value)
{
    if (index < 0 || index > 3 || m_ended)
        return;
    const SliderControl& slider = m_controls.motionSliders[index];
    setMotionSlider(index, static_cast<std::int16_t>(std::clamp<int>(value, slider.minimum, slider.maximum)));
}

void TrayProgram::motionSliderScrolled(int index, ScrollAction action, int thumbPosition)
{
    if (index < 0 || index > 3 || m_ended)
        return;
    const SliderControl& slider = m_controls.motionSliders[index];
    int value = slider.value;
    switch (action) {
    case ScrollAction::ArrowLeft: value -= slider.arrowStep; break;
    case ScrollAction::ArrowRight: value += slider.arrowStep; break;
    case ScrollAction::PageLeft: value -= slider.pageStep; break;
    case ScrollAction::PageRight: value += slider.pageStep; break;
    case ScrollAction::ToMinimum: value = slider.minimum; break;
    case ScrollAction::ToMaximum: value = slider.maximum; break;
    case ScrollAction::ThumbReleased: value = thumbPosition; break;
    }
    motionSliderMoved(index, value);
}

bool TrayProgram::setOptionCheck(int index, std::int16_t value)
{
    if (index < 0 || index > 1 || value < 0 || value > 2)
        return false;
    if (m_controls.optionChecks[index] != value) {
        m_controls.optionChecks[index] = value;
        m_platform.view.setCheckValue(index, value);
    }
    return true;
}

void TrayProgram::optionCheckChanged(int index, int value)
{
    if (m_ended || value < 0 || value > 2)
        return;
    setOptionCheck(index, static_cast<std::int16_t>(value));
}

void TrayProgram::RecalcMotion(std::int16_t index)
{
    const auto interval = ComputeMotion(index, m_controls.motionFields, m_platform.decimalSeparator, m_state,
                                        m_controls.tickTimer.interval);
    if (interval && *interval != m_controls.tickTimer.interval)
        setTimerInterval(*interval);
    else
        postMotion();
}

void TrayProgram::setTimerInterval(std::int32_t interval)
{
    if (m_controls.tickTimer.interval == interval)
        return;
    m_controls.tickTimer.interval = interval;
    m_platform.timer.setPeriod(TimerPeriodFor(interval));
    postMotion();
}

void TrayProgram::postMotion()
{
    m_platform.input.setMotion({m_state.StdStep, m_state.FastStep, m_state.FastAfter, m_controls.tickTimer.interval});
}

void TrayProgram::setTimerEnabled(bool enabled)
{
    m_controls.tickTimer.enabled = enabled;
    updateTicking();
}
