#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/app_version.h"
#include "platform/fake/inline_input_loop.h"
#include "platform/input_injector.h"
#include "platform/instance_lock.h"
#include "platform/key_event_source.h"
#include "platform/pointer.h"
#include "platform/program_event_sink.h"
#include "platform/repeating_timer.h"
#include "platform/settings_store.h"
#include "platform/settings_view.h"
#include "platform/tray_icon.h"

/// Every call the fakes see, in order, as text ("SetCursorPos 106,100", "mouse_event 2",
/// "NIM_MODIFY active", "SaveSetting OnOff=1"), so tests assert whole sequences.
class CallLog {
public:
    void add(std::string call) { m_calls.push_back(std::move(call)); }
    const std::vector<std::string>& all() const { return m_calls; }
    /// The calls that start with one of |prefixes|, in order.
    std::vector<std::string> only(std::initializer_list<std::string_view> prefixes) const;
    void clear() { m_calls.clear(); }

private:
    std::vector<std::string> m_calls;
};

/// A key source whose key changes the test delivers; install can be made to fail.
class FakeKeyEventSource final : public KeyEventSource {
public:
    explicit FakeKeyEventSource(CallLog& log) : m_log(log) {}
    std::uintptr_t install(KeySink& sink) override;
    void uninstall(std::uintptr_t handle) override;
    /// Keeps the claimed presses of the keys in |keysDown|.
    std::uintptr_t reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                             std::uint8_t& stillDown) override;
    std::string lastError() const override { return "the test refused the capture"; }

    /// Delivers one key change as the desktop would while installed: 1 claimed, 0 passed on,
    /// -1 when nothing is installed (the key then goes straight through).
    int deliver(const KeyChange& change);
    int press(CapturedKey key, bool alt = false) { return deliver({key, true, alt}); }
    int release(CapturedKey key, bool alt = false) { return deliver({key, false, alt}); }
    bool installed() const { return m_sink != nullptr; }

    bool refuse = false;        ///< install() returns 0
    std::uint8_t keysDown = 0;  ///< captured keys down now (capturedKeyBit bits)

private:
    CallLog& m_log;
    KeySink* m_sink = nullptr;
    std::uintptr_t m_handle = 0;
    std::uintptr_t m_nextHandle = 0x100;
};

class FakeInputInjector final : public InputInjector {
public:
    explicit FakeInputInjector(CallLog& log) : m_log(log) {}
    void leftButtonDown() noexcept override { m_log.add("mouse_event 2"); }
    void leftButtonUp() noexcept override { m_log.add("mouse_event 4"); }

private:
    CallLog& m_log;
};

/// A pointer on a 1280 x 800 screen that confines moves as a real desktop does.
class FakePointer final : public Pointer {
public:
    explicit FakePointer(CallLog& log) : m_log(log) {}
    bool read(CursorPoint& point) override;
    bool moveTo(std::int32_t x, std::int32_t y) override;

    CursorPoint position{640, 400};
    std::int32_t width = 1280;
    std::int32_t height = 800;
    bool failReads = false;
    bool failMoves = false;  ///< moves are logged, refused and leave the position
    bool outOfReach = false;  ///< inReach() says false
    bool inReach() override { return !outOfReach; }

private:
    CallLog& m_log;
};

/// The stored values of a test's user: shared by every "process" of the test.
struct FakeStoreData {
    /// The value under Pavro/Settings, or "<missing>".
    std::string value(const std::string& key) const;
    void set(const std::string& key, const std::string& value)
    {
        values["Pavro/Settings"][key] = value;
        ++changes;
    }

    std::map<std::string, std::map<std::string, std::string>> values;  ///< "app/section" -> key -> text
    std::set<std::string> failSaves;  ///< keys whose save fails
    std::set<std::string> failReads;  ///< keys whose value is not text
    bool failRemove = false;
    /// When set, the store as a whole is unusable: every call fails with this reason.
    std::string unusable;
    /// Runs once, just before the next update takes the store's lock: another process
    /// acting in between.
    std::function<void()> beforeUpdate;
    /// Whether the stores over this data can be watched, and how many writes it has seen.
    bool watchable = false;
    unsigned changes = 0;
};

/// One process's access to the shared store, recording into that process's log.
class FakeSettingsStore final : public SettingsStore {
public:
    FakeSettingsStore(FakeStoreData& data, CallLog& log) : m_data(data), m_log(log) {}
    StoredText read(std::string_view app, std::string_view section, std::string_view key) override;
    StoreStatus save(std::string_view app, std::string_view section, std::string_view key,
                     std::string_view value) override;
    StoreStatus removeSection(std::string_view app, std::string_view section) override;
    std::string lastError() const override { return m_lastError; }
    /// True (and the watcher is |sink|) when the shared data is watchable.
    bool watch(ProgramEventSink* sink) override;
    /// Tells the watcher of writes since it was last told, as the event loop would; returns
    /// whether it told.
    bool deliverChanges();

protected:
    /// Lets another "process" act first (beforeUpdate), logs "UpdateSetting <key>", then runs
    /// the read and the save of the update, which log themselves.
    StoreStatus whileLocked(std::string_view app, std::string_view section, std::string_view key,
                            const std::function<StoreStatus()>& locked) override;

private:
    FakeStoreData& m_data;
    CallLog& m_log;
    std::string m_lastError;
    ProgramEventSink* m_watcher = nullptr;
    unsigned m_changesTold = 0;
};

/// A view that shows what it was told in its public fields, starting from the layout.
class FakeSettingsView final : public SettingsView {
public:
    explicit FakeSettingsView(CallLog& log) : m_log(log) {}
    void createControls(const WindowLayout& layout) override;
    void setEventSink(ProgramEventSink* newSink) override { sink = newSink; }
    void setFieldText(int index, std::string_view text) override;
    void setSliderValue(int index, std::int16_t value) override;
    void setCheckValue(int index, std::int16_t value) override;
    void setButtonOnOffCaption(std::string_view caption) override;
    void setMenuOnOffCaption(std::string_view caption) override;
    void setCaption(std::string_view caption) override;
    void show() override;
    void hide() override;
    WindowState windowState() const override { return state; }
    void setWindowState(WindowState newState) override;
    void setForeground() override { m_log.add("SetForegroundWindow"); }
    void popupMenu() override { m_log.add("PopupMenu"); }
    void unload() override;

    bool visible = true;
    WindowState state = WindowState::Normal;
    std::string texts[4];
    std::int16_t sliders[4] = {};
    std::int16_t checks[2] = {};
    std::string buttonCaption, menuCaption, caption;
    bool unloaded = false;
    ProgramEventSink* sink = nullptr;

private:
    CallLog& m_log;
};

class FakeTrayIcon final : public TrayIcon {
public:
    explicit FakeTrayIcon(CallLog& log) : m_log(log) {}
    void setEventSink(ProgramEventSink* newSink) override { sink = newSink; }
    bool add(TrayImage newImage, std::string_view newTip) override;
    bool modify(TrayImage newImage) override;
    bool remove() override;
    void showMessage(std::string_view title, std::string_view text) override;

    bool shown = false;
    TrayImage image = TrayImage::None;
    std::string tip;
    bool refuseAdd = false;
    ProgramEventSink* sink = nullptr;

private:
    CallLog& m_log;
};

class FakeRepeatingTimer final : public RepeatingTimer {
public:
    explicit FakeRepeatingTimer(CallLog& log) : m_log(log) {}
    void setEventSink(TimerTickSink* newSink) override { sink = newSink; }
    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;
    /// Enables the timer and counts the request; the test runs the tick it asks for.
    void startNow() override;

    bool enabled = false;
    int immediateTicks = 0;
    std::int32_t period = 0;
    TimerTickSink* sink = nullptr;

private:
    CallLog& m_log;
};

/// Runs the key path's core inline on the test's thread, on a clock the test moves: each
/// command and key change is handled at once, then whatever tick is due at the clock's time,
/// as the real loop does when it wakes.
class FakeInputLoop final : public InlineInputLoop {
public:
    explicit FakeInputLoop(FakeKeyEventSource& keys) : m_keys(keys) {}

    /// A key change through the capture, as FakeKeyEventSource::deliver answers it.
    int press(CapturedKey key, bool alt = false);
    int release(CapturedKey key, bool alt = false);
    /// Moves the clock on by |ms| milliseconds, running each tick when it falls due.
    void advance(std::int32_t ms);
    /// Moves the clock to the next tick and runs it; false (the clock unchanged) at rest.
    bool tick();
    /// No tick is due, ever, until something changes.
    bool resting() const { return !core().nextTick(); }

    /// The loop's clock, in nanoseconds.
    LoopTime now = 0;

private:
    /// Runs the tick due at the clock's time, if any.
    void afterChange() override;

    FakeKeyEventSource& m_keys;
};

/// One lock per test "session": the first tryAcquire wins, later ones (other processes) fail
/// and reach the holder's sink through forward().
struct FakeLockTable {
    bool held = false;
    ProgramEventSink* holder = nullptr;
};

class FakeInstanceLock final : public InstanceLock {
public:
    FakeInstanceLock(CallLog& log, FakeLockTable& table) : m_log(log), m_table(table) {}
    ~FakeInstanceLock() override;
    bool tryAcquire() override;
    void setEventSink(ProgramEventSink* sink) override;
    bool forward(LaunchRequest request, std::string& reason) override;

private:
    CallLog& m_log;
    FakeLockTable& m_table;
    ProgramEventSink* m_sink = nullptr;
    bool m_holds = false;
};

/// One process's whole platform over a store and a lock table that may be shared with
/// other "processes" of the same test.
struct FakePlatform {
    FakePlatform(FakeStoreData& sharedStore, FakeLockTable& sharedLocks, AppVersion version = {1, 0, 16});

    CallLog log;
    FakeKeyEventSource keys{log};
    FakeInputLoop loop{keys};
    FakeInputInjector injector{log};
    FakePointer pointer{log};
    FakeSettingsStore store;
    FakeSettingsView view{log};
    FakeTrayIcon tray{log};
    FakeRepeatingTimer timer{log};
    FakeInstanceLock instance;
    AppVersion version;
    std::ostringstream errors;
};
