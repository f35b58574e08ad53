// Start-up from arbitrary store contents, through the fakes. Input lines up to "--" fill the
// store ("Key=text") or make a key's read fail ("Key!"); the lines after it are events while
// the program runs, each followed by a tick: "=text" another process stores that "OnOff" text,
// "+" a second launch, "s" the on/off switch, "x" the remover deletes the section. Then "&Exit".
// After every tick a stored "OnOff" of exactly "1" or "0" agrees with the running state; at the
// exit every setting saved is the one loaded (the four fields verbatim, each check box as the
// state it took), or the default where the store held none it could give.
#include <cmath>
#include <map>
#include <optional>
#include <string>

#include "engine/numbers.h"
#include "shell/tray_program.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/unit/program_fixture.h"

namespace {

struct Setting {
    const char* key;
    const char* fallback;
    bool checkBox;
};
constexpr Setting kSettings[] = {
    {"StdDist", "25", false},  {"FastDist", "80", false}, {"TimeFast", "250", false},
    {"Refresh", "25", false},  {"LoadStart", "0", true},  {"ScanCode", "0", true},
};

std::optional<std::string> storedText(const FakeStoreData& store, const std::string& key)
{
    const auto section = store.values.find("Pavro/Settings");
    if (section == store.values.end() || !section->second.count(key))
        return std::nullopt;
    return section->second.at(key);
}

// What the exit must save for |setting|, given what the store held at start.
std::string expectedSave(const Setting& setting, const FakeStoreData& store)
{
    const std::optional<std::string> loaded = storedText(store, setting.key);
    if (store.failReads.count(setting.key) || !loaded)
        return setting.fallback;
    if (!setting.checkBox)
        return *loaded;
    const auto number = parseNumber(*loaded, ".");
    if (!number || !(std::nearbyint(*number) >= 0 && std::nearbyint(*number) <= 2))
        return setting.fallback;
    return std::to_string(static_cast<int>(std::nearbyint(*number)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeStoreData store;
    FakeLockTable locks;
    const std::vector<std::string_view> lines = inputLines(data, size);
    auto line = lines.begin();
    for (; line != lines.end() && *line != "--"; ++line) {
        const std::size_t equals = line->find('=');
        if (equals != std::string_view::npos)
            store.set(std::string(line->substr(0, equals)), std::string(line->substr(equals + 1)));
        else if (!line->empty() && line->back() == '!')
            store.failReads.insert(std::string(line->substr(0, line->size() - 1)));
    }
    std::map<std::string, std::string> expected;
    for (const Setting& setting : kSettings)
        expected[setting.key] = expectedSave(setting, store);
    const bool onOffReadable = !store.failReads.count("OnOff");

    Process process(store, locks);
    TrayProgram& program = process.program;
    program.onStartup();
    FUZZ_CHECK(!program.ended());
    for (; line != lines.end(); ++line) {
        if (line->empty())
            continue;
        switch ((*line)[0]) {
        case '=': store.set("OnOff", std::string(line->substr(1))); break;
        case '+': {
            Process second(store, locks);
            second.program.onStartup();
            FUZZ_CHECK(second.program.ended());
            break;
        }
        case 's': program.controlClicked(ControlName::OnOffMenuItem); break;
        case 'x': store.values.erase("Pavro/Settings"); break;
        default: break;
        }
        program.timerTicked();
        const std::optional<std::string> onOff = storedText(store, "OnOff");
        if (onOffReadable && (onOff == "1" || onOff == "0"))
            FUZZ_CHECK(TestPeer<TrayProgram>::state(program).IsOn == (onOff == "1"));
    }

    program.controlClicked(ControlName::ExitMenuItem);
    FUZZ_CHECK(program.ended());
    for (const auto& [key, value] : expected)
        FUZZ_CHECK(storedText(store, key) == value);
    FUZZ_CHECK(storedText(store, "version") == "10016");
    return 0;
}
