#include "shell/tray_program.h"

#include <algorithm>
#include <exception>
#include <ostream>

#include "engine/motion_parameters.h"
#include "engine/motion_ticker.h"
#include "engine/numbers.h"
#include "engine/on_off_poll.h"

namespace {

// "what: reason", or just what when no reason is known.
std::string withReason(std::string_view what, const std::string& reason)
{
    std::string text(what);
    if (!reason.empty())
        text.append(": ").append(reason);
    return text;
}

constexpr std::string_view kOnOffKey = "OnOff";
constexpr const char* kCaptureFailureText = "Pointer control could not capture the arrow keys";
constexpr std::string_view kStoreSaveFailureText = "The settings cannot be saved";

constexpr std::string_view kTrayTip = "Cursor";

// Runs one step of a sequence whose failing steps are skipped: whatever a backend throws
// must not keep the steps after it from running.
template <typename Step>
void skipOnFailure(Step&& step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

} // namespace

TrayProgram::TrayProgram(ProgramPlatform platform)
    : m_platform(std::move(platform))
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
// Start-up and exit

void TrayProgram::onStartup(LaunchRequest request)
{
    if (!m_platform.instance.tryAcquire()) {
        if (request == LaunchRequest::SwitchOnOff)
            secondInstanceToggle();
        else
            forwardToRunningCopy(request);
        return;
    }
    if (request == LaunchRequest::Exit) {
        failLaunch("Pavro is not running; there is nothing to end");
        endSecondInstance();
        return;
    }

    m_state.IsOn = false;
    restoreDefaults();
    // The fields already hold the defaults when the window is created, so the assignments
    // above change nothing and recompute nothing; without this the motion values would stay
    // 0 whenever a stored field holds no number, and the pointer would never move.
    RecalcMotion(-1);
    LoadSettings();
    RecalcMotion(-1);
    // Watched from before the first write, so no change of another process's goes unseen.
    m_storeWatched = m_platform.store.watch(this);
    const std::string startState = decimalText(m_controls.optionChecks[kStartOnCheck]);
    if (m_platform.store.save(kAppName, kSectionName, kOnOffKey, startState) == StoreStatus::Ok) {
        m_onOffSeen = {StoreStatus::Ok, startState};
    } else {
        noteStoreFailure(kStoreSaveFailureText);
        // What stays stored is no request: the poll follows only what changes from here.
        const StoredText left = m_platform.store.read(kAppName, kSectionName, kOnOffKey);
        if (left.status != StoreStatus::Failed)
            m_onOffSeen = left;
    }
    setTimerEnabled(true);

    const AppVersion& version = m_platform.version;
    m_controls.caption = "Cursor " + decimalText(version.major) + "." + decimalText(version.minor) + "."
                         + decimalText(version.revision);
    m_platform.view.setCaption(m_controls.caption);

    if (!m_platform.tray.add(TrayImage::Inactive, kTrayTip) && m_platform.errors)
        *m_platform.errors << "Pavro: the tray icon could not be shown; use a second launch to switch "
                              "pointer control\n";

    m_platform.view.hide();
    m_trayReady = true;
    tellStoreFailure();

    if (m_controls.optionChecks[kStartOnCheck] == 1) {
        m_platform.tray.modify(TrayImage::Active);
        switchPointerControl();
    }
    if (request == LaunchRequest::ShowSettings)
        showSettingsWindow();
}

void TrayProgram::forwardToRunningCopy(LaunchRequest request)
{
    std::string reason;
    if (!m_platform.instance.forward(request, reason))
        failLaunch("Pavro: " + (reason.empty() ? std::string("the running copy did not answer") : reason));
    endSecondInstance();
}

void TrayProgram::failLaunch(std::string reason)
{
    m_exitCode = 1;
    m_exitReason = std::move(reason);
    if (m_platform.errors)
        *m_platform.errors << m_exitReason << '\n';
}

bool TrayProgram::instanceRequest(LaunchRequest request, std::string& reason)
{
    if (m_ended) {
        reason = "the running copy is ending";
        return false;
    }
    switch (request) {
    case LaunchRequest::ShowSettings:
        showSettingsWindow();
        return true;
    case LaunchRequest::Exit:
        exitProgram();
        if (!m_exitSaveFailed)
            return true;
        reason = "the running copy ended, but could not save all its settings: " + m_saveError;
        return false;
    case LaunchRequest::SwitchOnOff:
        break;
    }
    // A switch goes through the store, which the running copy follows.
    reason = "the running copy takes no such request";
    return false;
}

void TrayProgram::secondInstanceToggle()
{
    // An unknown stored state (missing, unreadable, not a number) counts as off, so the
    // toggle asks the running copy to switch on.
    // Read, flip and write under the store's lock, so launches at the same moment each flip.
    const StoreStatus status = m_platform.store.update(
        kAppName, kSectionName, kOnOffKey, [this](const StoredText& stored) -> std::optional<std::string> {
            std::optional<double> value;
            if (stored.status == StoreStatus::Ok)
                value = parseNumber(stored.text, m_platform.decimalSeparator);
            const bool turnOn = !value || *value == 0.0;
            return std::string(turnOn ? "1" : "0");
        });
    if (status != StoreStatus::Ok) {
        const std::string reason = m_platform.store.lastError();
        failLaunch("Pavro is running, but it could not be switched: "
                   + (reason.empty() ? std::string("the settings store refused the change") : reason));
    }
    endSecondInstance();
}

void TrayProgram::endSecondInstance()
{
    m_secondInstance = true;
    m_state.QuitRequested = true;
    unloadWindow();
}

void TrayProgram::unloadWindow()
{
    if (m_state.QuitRequested) {
        // A second copy never loaded the settings and owns no icon or capture: it must not
        // overwrite the user's settings with its untouched fields.
        if (!m_secondInstance)
            realExitSteps();
        m_ended = true;
        m_platform.view.unload();
        return;
    }
    m_platform.view.hide();
}

void TrayProgram::realExitSteps()
{
    // The capture and its button go first: the save may wait for another process's hold on
    // the store, and keys typed meanwhile must reach the desktop, not a program that ends.
    skipOnFailure([&] { m_platform.input.switchOff(); });
    m_exitSaveFailed = true;  // until the save has gone through: a throwing store fails too
    skipOnFailure([&] { m_exitSaveFailed = !SaveSettings(); });
    if (m_exitSaveFailed && m_platform.errors)
        *m_platform.errors << "Pavro: the settings could not all be saved: " << m_saveError << '\n';
    skipOnFailure([&] { m_platform.tray.remove(); });
}

void TrayProgram::closeRequested()
{
    if (m_ended)
        return;
    unloadWindow();
}

void TrayProgram::sessionEnding() { exitProgram(); }

void TrayProgram::displayLost()
{
    if (m_ended)
        return;
    m_ended = true;
    // The tray icon, the capture and any injected press went with the display; only the
    // store is still there to be written.
    const bool saved = SaveSettings();
    if (m_platform.errors)
        *m_platform.errors << (saved ? "Pavro: the display went away; the settings were saved\n"
                                     : "Pavro: the display went away; the settings could not all be saved\n");
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
    storeOnOff(stateText);
    m_platform.tray.modify(m_state.IsOn ? TrayImage::Active : TrayImage::Inactive);
    if (captureFailed)
        reportCaptureFailure(reason);
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

void TrayProgram::storeOnOff(const std::string& stateText)
{
    bool written = false;
    const StoreStatus status = m_platform.store.update(
        kAppName, kSectionName, kOnOffKey, [&](const StoredText& current) -> std::optional<std::string> {
            // A second launch that landed since this copy last looked is followed by the next
            // poll; storing over it would lose that switch.
            if (UnfollowedRequest(current, m_onOffSeen, m_platform.decimalSeparator)) {
                m_pollPending = true;
                return std::nullopt;
            }
            written = true;
            return stateText;
        });
    if (status != StoreStatus::Ok)
        noteStoreFailure(kStoreSaveFailureText);
    else if (written)
        m_onOffSeen = {StoreStatus::Ok, stateText};
}

void TrayProgram::noteStoreFailure(std::string_view what)
{
    if (!m_storeFailure.empty())
        return;
    const std::string reason = m_platform.store.lastError();
    m_storeFailure = withReason(what, reason);
    tellStoreFailure();
}

void TrayProgram::tellStoreFailure()
{
    if (!m_trayReady || m_storeFailureTold || m_storeFailure.empty())
        return;
    m_storeFailureTold = true;
    m_platform.tray.showMessage("Pavro", m_storeFailure);
    if (m_platform.errors)
        *m_platform.errors << "Pavro: " << m_storeFailure << '\n';
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
// The ticker

void TrayProgram::timerTicked()
{
    if (m_ended || !m_controls.tickTimer.enabled)
        return;
    // A watched store that told of no change still holds what this copy last saw there: the
    // poll would follow nothing, so it is left out.
    if (m_storeWatched && !m_pollPending) {
        updateTicking();
        return;
    }
    m_pollPending = false;
    const StoredText onOff = m_platform.store.read(kAppName, kSectionName, kOnOffKey);
    const bool follow = PollFollows(onOff, m_onOffSeen, m_state.IsOn, m_platform.decimalSeparator);
    if (onOff.status != StoreStatus::Failed)
        m_onOffSeen = onOff;
    if (follow) {
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
    if (!watching)
        m_storeWatched = false;
    m_pollPending = true;
    // A running timer polls at its next tick; a resting one polls at once. Before the start-up
    // enabled tickTimer, its first tick polls.
    if (m_controls.tickTimer.enabled && !m_ticking)
        pollAtOnce();
}

void TrayProgram::pollAtOnce()
{
    m_ticking = true;
    m_platform.timer.startNow();
}

void TrayProgram::updateTicking()
{
    const bool needed = !m_ended && m_controls.tickTimer.enabled && (!m_storeWatched || m_pollPending);
    if (needed == m_ticking)
        return;
    m_ticking = needed;
    m_platform.timer.setEnabled(needed);
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

// ---------------------------------------------------------------------------------------
// Controls and their change events

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
