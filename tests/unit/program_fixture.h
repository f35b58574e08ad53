#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pointer_control.h"
#include "platform/fake/fake_platform.h"
#include "shell/tray_program.h"

using Calls = std::vector<std::string>;

/// What the unit tests read and set inside the program: its state and controls, a field's text
/// (no user can type one; the sliders set them) and a fresh read of the store.
template <>
struct TestPeer<TrayProgram> {
    static PavroState& state(TrayProgram& program) { return program.m_state; }
    static const WindowControls& controls(const TrayProgram& program) { return program.m_controls; }
    static void setMotionField(TrayProgram& program, int index, std::string_view text)
    {
        program.setMotionField(index, text);
    }
    static void loadSettings(TrayProgram& program) { program.LoadSettings(); }
};

inline ProgramPlatform programPlatform(FakePlatform& p, std::string separator = ".")
{
    return {p.loop, p.store, p.view, p.tray, p.timer, p.instance, p.version, std::move(separator), &p.errors};
}

/// One running process of the program over the fakes; several share one store and lock table.
struct Process {
    Process(FakeStoreData& store, FakeLockTable& locks, AppVersion version = {1, 0, 16},
            std::string separator = ".")
        : platform(store, locks, version), core(platform.keys, platform.injector, platform.pointer),
          program(attached(platform, core, std::move(separator)))
    {
        platform.log.clear();  // the view's initial mirror is not under test
    }
    /// Runs the start-up and clears the log, for tests about what follows.
    Process& started()
    {
        program.onStartup();
        platform.log.clear();
        return *this;
    }
    CallLog& log() { return platform.log; }
    PavroState& state() { return TestPeer<TrayProgram>::state(program); }
    const WindowControls& controls() const { return TestPeer<TrayProgram>::controls(program); }
    void setMotionField(int index, std::string_view text)
    {
        TestPeer<TrayProgram>::setMotionField(program, index, text);
    }
    void loadSettings() { TestPeer<TrayProgram>::loadSettings(program); }
    FakeInputLoop& loop() { return platform.loop; }
    /// The key path's state: held arrows, steps, the button.
    const KeyPathState& keyPath() const { return core.state(); }

    FakePlatform platform;
    PointerControl core;
    TrayProgram program;

private:
    static ProgramPlatform attached(FakePlatform& p, PointerControl& core, std::string separator)
    {
        p.loop.attach(core);
        return programPlatform(p, std::move(separator));
    }
};

/// The user's session: one store and one lock table, and the processes started in it.
struct Session {
    FakeStoreData store;
    FakeLockTable locks;

    std::unique_ptr<Process> launch(AppVersion version = {1, 0, 16})
    {
        auto process = std::make_unique<Process>(store, locks, version);
        process->program.onStartup();
        return process;
    }
};
