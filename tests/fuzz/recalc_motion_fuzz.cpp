// The motion parameters from arbitrary field texts, through the program itself: pointer control
// on, Right held, then per input line either a field's new text (first byte '0' to '3', then the
// text) or a recomputation from an arbitrary index (the first byte as a signed index), each
// followed by a tick. Whatever the texts, a step, the delay or the interval only ever takes the
// rounded value its fields stand for, the timer keeps a period it accepts, and the ticker keeps
// its own invariants.
#include <cmath>
#include <string>

#include "engine/numbers.h"
#include "engine/on_off_poll.h"
#include "platform/fake/fake_platform.h"
#include "shell/form1.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::optional<double> fieldNumber(const Form1& form, int index)
{
    return parseNumber(form.controls().Text1[index], ".");
}

// |step| is what field |index| gives over some tick length |ticks|: the current refresh field
// or the interval the recomputation started from.
bool isStepFrom(std::int16_t step, const Form1& form, int index, std::int32_t previousInterval)
{
    const auto speed = fieldNumber(form, index);
    if (!speed)
        return false;
    const auto refresh = fieldNumber(form, 3);
    return std::nearbyint(*speed * previousInterval / 100.0) == step
           || (refresh && std::nearbyint(*speed * *refresh / 100.0) == step);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeStoreData store;
    FakeLockTable locks;
    FakePlatform platform(store, locks);
    Form1 form(platform.formPlatform("."));
    form.Form_Load();
    form.mnuOnOff_Click();
    platform.keys.deliver(kWmKeyDown, 39);
    const PavroState& state = form.state();
    FUZZ_CHECK(state.IsOn == kTrue && state.ArrowDown[2] == 1);

    for (std::string_view line : inputLines(data, size)) {
        const PavroState before = state;
        const std::int32_t interval = form.controls().Timer1.interval;
        if (!line.empty() && line[0] >= '0' && line[0] <= '3')
            form.setText1(line[0] - '0', line.substr(1));
        else
            form.RecalcMotion(static_cast<std::int8_t>(line.empty() ? 0 : line[0]));

        if (state.StdStep != before.StdStep)
            FUZZ_CHECK(isStepFrom(state.StdStep, form, 0, interval));
        if (state.FastStep != before.FastStep)
            FUZZ_CHECK(isStepFrom(state.FastStep, form, 1, interval));
        if (state.FastAfter != before.FastAfter) {
            const auto delay = fieldNumber(form, 2);
            FUZZ_CHECK(delay && std::nearbyint(*delay) == state.FastAfter);
        }
        const std::int32_t newInterval = form.controls().Timer1.interval;
        if (newInterval != interval) {
            const auto refresh = fieldNumber(form, 3);
            FUZZ_CHECK(refresh && *refresh > 0 && std::nearbyint(*refresh) == newInterval);
        }
        FUZZ_CHECK(platform.timer.period >= 1 && platform.timer.period == TimerPeriodFor(newInterval));

        form.Timer1_Timer();
        FUZZ_CHECK(state.IsOn == kTrue && state.ArrowDown == before.ArrowDown);
        FUZZ_CHECK(state.HoldTime >= 0);
        FUZZ_CHECK(state.CurStep == (state.HoldTime > state.FastAfter ? state.FastStep : state.StdStep));
        FUZZ_CHECK(platform.pointer.position.x >= 0 && platform.pointer.position.x < platform.pointer.width);
    }
    return 0;
}
