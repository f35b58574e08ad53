#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "engine/pavro_state.h"
#include "platform/app_version.h"
#include "platform/error_stream.h"
#include "platform/input_loop.h"
#include "platform/instance_lock.h"
#include "platform/program_event_sink.h"
#include "platform/repeating_timer.h"
#include "platform/settings_store.h"
#include "platform/settings_view.h"
#include "platform/test_peer.h"
#include "platform/tray_icon.h"
#include "shell/on_off_follower.h"
#include "shell/store_location.h"
#include "shell/window_controls.h"

/// What the program runs on. Every reference must outlive the TrayProgram that holds it.
struct ProgramPlatform {
    /// The key path: capture, button and pointer live on the input loop's thread.
    InputLoop& input;
    SettingsStore& store;
    SettingsView& view;
    TrayIcon& tray;
    RepeatingTimer& timer;
    InstanceLock& instance;
    AppVersion version;
    /// The user's locale's decimal separator, for reading numbers held as text.
    std::string decimalSeparator = ".";
    /// Where failures the user must know about are also written (stderr in the programs).
    ErrorStream errors;
};

/// The program's UI thread: the start-up and the exit, the tray icon and its popup menu, the
/// settings window's controls (it owns their state and mirrors each change to the view), the
/// settings store and, through OnOffFollower, the following of the on/off state that later
/// launches store. It is the event sink of the view, the tray icon and the timer from its
/// construction to its destruction: the backends report the user's actions and the
/// platform's events through it.
///
/// Its jobs live in one file each: tray_program.cpp (the wiring, the tray, the menu, the
/// window and the switch), tray_program_startup.cpp (the start-up, a later launch and the
/// exit), tray_program_controls.cpp (the controls, their change events and the motion
/// values) and tray_program_settings.cpp (loading and saving the settings, store failures).
///
/// The keys, the button and the pointer's motion are the input loop's: this class switches it,
/// renews or suspends its capture and hands it the motion values, and never waits for a key.
///
/// tickTimer keeps the enabled flag and the interval the motion values are computed from; the
/// platform timer under it polls the store, and OnOffFollower runs it only while that can
/// follow something.
class TrayProgram final : public ProgramEventSink {
public:
    /// Builds the view's controls from settingsWindowLayout() and becomes the backends' event sink.
    explicit TrayProgram(ProgramPlatform platform);
    ~TrayProgram() override;
    TrayProgram(const TrayProgram&) = delete;
    TrayProgram& operator=(const TrayProgram&) = delete;

    // --- Start-up and exit ---
    /// Start-up, or for a second copy the on/off toggle and the end. Afterwards ended()
    /// tells the backend not to enter its event loop. |request| ShowSettings: the running copy
    /// shows its settings window, or with none running this copy starts and shows its own;
    /// Exit: the running copy ends as "&Exit" does, and with none running nothing starts (exit
    /// code 1, and exitReason() says so).
    void onStartup(LaunchRequest request = LaunchRequest::SwitchOnOff);
    /// The window's unload: the real exit when QuitRequested, else the window only hides.
    void unloadWindow();
    /// The close box: runs unloadWindow, which only hides the window.
    void closeRequested() override;
    /// The system asks the program to end (session end, logout, shutdown, SIGTERM):
    /// the real exit, as "&Exit" does. Harmless after the program already ended.
    void sessionEnding() override;
    /// The display connection broke and the process is ending without its event loop: saves
    /// the settings and reports on the error stream, touching nothing that lived on the
    /// display. Harmless after the program already ended.
    void displayLost();
    /// True once the window was unloaded: the program is over.
    bool ended() const { return m_ended; }
    /// True when the real exit could not save every setting: a program with no console
    /// tells the user once its loop has ended.
    bool exitSaveFailed() const { return m_exitSaveFailed; }
    /// The program's exit status once ended(): 1 when a later launch could not switch, reach
    /// or end the running copy, or found none to end; else 0. exitReason() then says why in
    /// one line.
    int exitCode() const { return m_exitCode; }
    const std::string& exitReason() const { return m_exitReason; }

    // --- The user's and the platform's events ---
    void windowResized() override;
    /// A double click switches pointer control; the right button pops up the menu.
    void trayEvent(TrayEvent event) override;
    /// Runs the click handler of a button or popup item.
    void controlClicked(ControlName control) override;
    /// The user moved slider |index| to |value| (arrow, track, keyboard, thumb released).
    void motionSliderMoved(int index, int value) override;
    /// The same, as a raw scroll action; the thumb position counts only for ThumbReleased.
    void motionSliderScrolled(int index, ScrollAction action, int thumbPosition = 0) override;
    /// The user set check box |index| to |value| (0 or 1).
    void optionCheckChanged(int index, int value) override;
    /// The store's poll (and, while the store can't be watched, its regular reading).
    void timerTicked() override;
    /// After a resume or unlock: reinstalls a capture the system may have dropped, while on.
    void renewKeyCapture() override;
    void inputMayBeOutOfReach() override;
    /// Releases the capture and the button it pressed, leaving pointer control on for
    /// renewKeyCapture() to take the capture back.
    void suspendKeyCapture() override;
    /// A later launch's request: shows the settings window, or the real exit as "&Exit".
    bool instanceRequest(LaunchRequest request, std::string& reason) override;
    /// The store may have changed: the next tick polls it, and one comes at once when the
    /// timer was resting. |watching| false: from now on every tick polls.
    void storeChanged(bool watching) override;

private:
    friend struct TestPeer<TrayProgram>;

    // --- tray_program.cpp: the handlers of the buttons and menu items (controlClicked runs
    // them), the switch and its captions, the capture's failure ---
    void switchPointerControl();
    void showSettingsWindow();
    void exitProgram();
    void onOffButtonClicked();
    void setOnOffCaptions(const char* caption);
    void reportCaptureFailure(const std::string& reason);
    /// Runs or rests the platform timer for what the ticks have to do now.
    void updateTicking();
    /// "what: reason", or just what when no reason is known.
    static std::string withReason(std::string_view what, const std::string& reason);

    // --- tray_program_startup.cpp: a later launch and the exit ---
    /// A later launch with nothing to forward: flips the stored on/off state and ends.
    void secondInstanceToggle();
    void forwardToRunningCopy(LaunchRequest request);
    /// A later launch's end: it never loaded the settings and owns no icon or capture.
    void endSecondInstance();
    void failLaunch(std::string reason);
    void realExitSteps();

    // --- tray_program_controls.cpp: the controls and the motion values ---
    void restoreDefaults();
    /// Sets a field's text; a change runs motionFieldChanged at once.
    void setMotionField(int index, std::string_view text);
    /// Sets a slider's value (clamped to its range); a change runs motionSliderChanged at once.
    void setMotionSlider(int index, std::int16_t value);
    /// Sets a check box's value; false (and nothing changed) unless it is 0, 1 or 2.
    bool setOptionCheck(int index, std::int16_t value);
    void motionFieldChanged(std::int16_t index);
    void motionSliderChanged(std::int16_t index);
    /// Recomputes the motion values from the fields (ComputeMotion), applies a new tick
    /// interval to the timer and hands both to the input loop.
    void RecalcMotion(std::int16_t index);
    void setTimerInterval(std::int32_t interval);
    void setTimerEnabled(bool enabled);
    /// Hands the input loop the motion values as they stand.
    void postMotion();

    // --- tray_program_settings.cpp: the settings store ---
    void LoadSettings();
    /// Writes the seven keys; false at the first failing write or on a version overflow
    /// (the keys written before stay written), with saveError() saying why.
    bool SaveSettings();
    const std::string& saveError() const { return m_saveError; }
    /// "version" as stored: major * 10000 + minor * 100 + revision in 16-bit arithmetic,
    /// nullopt when any step overflows.
    static std::optional<std::int16_t> versionNumber(AppVersion version);
    std::string readSetting(std::string_view key, std::string_view fallback, bool& ok);
    /// Keeps the first store failure (|what| and the store's reason) and tells it once the
    /// tray icon is there.
    void noteStoreFailure(std::string_view what);
    void tellStoreFailure();

    ProgramPlatform m_platform;
    PavroState m_state;
    WindowControls m_controls;
    OnOffFollower m_onOff;
    bool m_ended = false;
    bool m_exitSaveFailed = false;
    bool m_captureFailureReported = false;
    bool m_secondInstance = false;
    /// The first store failure, told once the tray icon is there to tell it.
    std::string m_storeFailure;
    bool m_storeFailureTold = false;
    bool m_trayReady = false;
    std::string m_saveError;
    int m_exitCode = 0;
    std::string m_exitReason;
};
