#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/pointer_control.h"
#include "platform/fake/fake_platform.h"
#include "shell/form1.h"

using Calls = std::vector<std::string>;

inline FormPlatform formPlatform(FakePlatform& p, std::string separator = ".")
{
    return {p.loop, p.store, p.view, p.tray, p.timer, p.instance, p.version, std::move(separator), &p.errors};
}

/// One running process of the program over the fakes; several share one store and lock table.
struct Process {
    Process(FakeStoreData& store, FakeLockTable& locks, AppVersion version = {1, 0, 16},
            std::string separator = ".")
        : platform(store, locks, version), core(platform.keys, platform.injector, platform.pointer),
          form(attached(platform, core, std::move(separator)))
    {
        platform.log.clear();  // the view's initial mirror is not under test
    }
    /// Runs the start-up and clears the log, for tests about what follows.
    Process& started()
    {
        form.Form_Load();
        platform.log.clear();
        return *this;
    }
    CallLog& log() { return platform.log; }
    FakeInputLoop& loop() { return platform.loop; }
    /// The key path's state: held arrows, steps, the button.
    const KeyPathState& keyPath() const { return core.state(); }

    FakePlatform platform;
    PointerControl core;
    Form1 form;

private:
    static FormPlatform attached(FakePlatform& p, PointerControl& core, std::string separator)
    {
        p.loop.attach(core);
        return formPlatform(p, std::move(separator));
    }
};

/// The user's session: one store and one lock table, and the processes started in it.
struct Session {
    FakeStoreData store;
    FakeLockTable locks;

    std::unique_ptr<Process> launch(AppVersion version = {1, 0, 16})
    {
        auto process = std::make_unique<Process>(store, locks, version);
        process->form.Form_Load();
        return process;
    }
};
