#include "shell/tray_program.h"

#include <ostream>

#include "engine/on_off_poll.h"

namespace {

constexpr const char* kCaptureFailureText = "Pointer control could not capture the arrow keys";
constexpr std::string_view kStoreSaveFailureText = "The settings cannot be saved";

} // namespace

TrayProgram::TrayProgram(ProgramPlatform platform)
    : m_platform(std::move(platform)),
      m_onOff(m_platform.store, m_platform.timer, m_platform.decimalSeparator,
              [this] { noteStoreFailure(kStoreSaveFailureText); })
{
    // The view and the controls both start from the one layout, so they agree from the start.
    m_platform.view.createControls(settingsWindowLayout());
    m_platform.timer.setPeriod(TimerPeriodFor(m_controls.tickTimer.interval));
    m_platform.timer.setEnabled(false);
    m_platform.view.setEventSink(this);
    m_platform.tray.setEventSink(this);
    m_platform.timer.setEventSink(this);
    m_platform.instance.setEventSink(this);
}

TrayProgram::~TrayProgram()
{
    m_platform.instance.setEventSink(nullptr);
    m_platform.store.watch(nullptr);
    m_platform.view.setEventSink(nullptr);
    m_platform.tray.setEventSink(nullptr);
    m_platform.timer.setEventSink(nullptr);
}

// ---------------------------------------------------------------------------------------
// Tray, menu, window

void TrayProgram::windowResized()
{
    if (m_platform.view.windowState() == WindowState::Minimized)
        m_platform.view.hide();
}

void TrayProgram::trayEvent(TrayEvent event)
{
    if (m_ended)
        return;
    switch (event) {
    case TrayEvent::LeftDoubleClick:
        switchPointerControl();
        break;
    case TrayEvent::RightButtonUp:
        m_platform.view.setForeground();
        m_platform.view.popupMenu();
        break;
    }
}

void TrayProgram::controlClicked(ControlName control)
{
    switch (control) {
    case ControlName::OnOffButton: onOffButtonClicked(); break;
    case ControlName::DefaultsButton: restoreDefaults(); break;
    case ControlName::OnOffMenuItem: switchPointerControl(); break;
    case ControlName::SettingsMenuItem: showSettingsWindow(); break;
    case ControlName::ExitMenuItem: exitProgram(); break;
    default: break;
    }
}

void TrayProgram::switchPointerControl()
{
    // Events a backend still delivers after the exit find nothing to switch.
    if (m_ended)
        return;
    m_state.IsOn = !m_state.IsOn;
    const char* stateText = nullptr;
    bool captureFailed = false;
    std::string reason;
    if (m_state.IsOn) {
        captureFailed = !m_platform.input.switchOn(reason);
        setOnOffCaptions(kCaptionTurnOff);
        stateText = "1";
    } else {
        m_platform.input.switchOff();
        setOnOffCaptions(kCaptionTurnOn);
        stateText = "0";
    }
    m_onOff.storeSwitch(stateText);
    m_platform.tray.modify(m_state.IsOn ? TrayImage::Active : TrayImage::Inactive);
    if (captureFailed)
        reportCaptureFailure(reason);
    // A later launch's request found while storing is left for the poll: it must run.
    updateTicking();
}

void TrayProgram::setOnOffCaptions(const char* caption)
{
    m_controls.onOffMenuCaption = caption;
    m_platform.view.setMenuOnOffCaption(caption);
    m_controls.onOffButtonCaption = caption;
    m_platform.view.setButtonOnOffCaption(caption);
}

void TrayProgram::reportCaptureFailure(const std::string& reason)
{
    if (m_captureFailureReported)
        return;
    m_captureFailureReported = true;
    // The reason goes to the user too: it names what to do (a permission to grant, say).
    m_platform.tray.showMessage("Pavro", withReason(kCaptureFailureText, reason));
    if (m_platform.errors)
        *m_platform.errors << "Pavro: " << kCaptureFailureText << ": " << reason << '\n';
}

void TrayProgram::renewKeyCapture()
{
    if (m_ended || !m_state.IsOn)
        return;
    std::string reason;
    if (!m_platform.input.renewCapture(reason))
        reportCaptureFailure(reason);
}

void TrayProgram::inputMayBeOutOfReach()
{
    if (!m_ended && m_state.IsOn)
        m_platform.input.releaseHeldIfOutOfReach();
}

void TrayProgram::suspendKeyCapture()
{
    if (!m_ended)
        m_platform.input.suspendCapture();
}

void TrayProgram::showSettingsWindow()
{
    if (m_ended)
        return;
    m_platform.view.setWindowState(WindowState::Normal);
    m_platform.view.setForeground();
    m_platform.view.show();
}

void TrayProgram::exitProgram()
{
    if (m_ended)
        return;
    m_state.QuitRequested = true;
    unloadWindow();
}

void TrayProgram::onOffButtonClicked() { switchPointerControl(); }

// ---------------------------------------------------------------------------------------
// The ticks: the store's poll

void TrayProgram::timerTicked()
{
    if (m_ended || !m_controls.tickTimer.enabled)
        return;
    if (m_onOff.pollFollows(m_state.IsOn)) {
        // The interval goes to the input loop ahead of the switch: keys pressed while the
        // switch still writes the store already tick at it.
        const auto switchedTo = !m_state.IsOn;
        const std::string& refresh = m_controls.motionFields[kTickIntervalRow];
        if (auto interval = IntervalAfterPollSwitch(switchedTo, refresh, m_platform.decimalSeparator))
            setTimerInterval(*interval);
        switchPointerControl();
    }
    updateTicking();
}

void TrayProgram::storeChanged(bool watching)
{
    if (m_ended)
        return;
    m_onOff.storeChanged(watching, m_controls.tickTimer.enabled);
}

void TrayProgram::updateTicking() { m_onOff.updateTicking(!m_ended && m_controls.tickTimer.enabled); }

std::string TrayProgram::withReason(std::string_view what, const std::string& reason)
{
    std::string text(what);
    if (!reason.empty())
        text.append(": ").append(reason);
    return text;
}
