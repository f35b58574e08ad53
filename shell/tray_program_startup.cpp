#include <exception>
#include <ostream>

#include "engine/numbers.h"
#include "shell/tray_program.h"

namespace {

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
    m_onOff.start(*this, decimalText(m_controls.optionChecks[kStartOnCheck]));
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
    const StoreStatus status = m_onOff.requestSwitch();
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
