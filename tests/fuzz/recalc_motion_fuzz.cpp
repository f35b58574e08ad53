// The motion parameters from arbitrary field texts. Start: the default fields, pointer control
// on, Right held. Then per input line either a field's new text (first byte '0' to '3', then
// the text), recomputed as its change does, or a recomputation from an arbitrary index (any
// other first byte, as a signed index); each followed by a tick. Whatever the texts, a step,
// the delay or the interval only ever takes the rounded value its fields stand for, the timer
// gets a period it accepts, and the ticker keeps its invariants.
#include <cmath>

#include "engine/motion_parameters.h"
#include "engine/motion_ticker.h"
#include "engine/numbers.h"
#include "engine/on_off_poll.h"
#include "platform/fake/fake_platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// |step| is what |speedText| gives over a tick of the refresh field or of |interval|.
bool isStepFrom(std::int16_t step, const std::string& speedText, const FieldTexts& fields,
                std::int32_t interval)
{
    const auto speed = parseNumber(speedText, ".");
    const auto refresh = parseNumber(fields[3], ".");
    return speed
           && (std::nearbyint(*speed * interval / 100.0) == step
               || (refresh && std::nearbyint(*speed * *refresh / 100.0) == step));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FieldTexts fields{"25", "80", "250", "25"};
    PavroState state;
    std::int32_t interval = ComputeMotion(-1, fields, ".", state, 25).value_or(25);
    // The key path's side, which takes the steps as the settings give them.
    KeyPathState keyPath;
    keyPath.on = true;
    keyPath.ArrowDown[2] = 1;
    CallLog log;
    FakePointer pointer(log);

    for (std::string_view line : inputLines(data, size)) {
        const PavroState before = state;
        std::optional<std::int32_t> newInterval;
        if (!line.empty() && line[0] >= '0' && line[0] <= '3') {
            const int index = line[0] - '0';
            fields[index] = line.substr(1);
            newInterval = ComputeMotion(static_cast<std::int16_t>(index), fields, ".", state, interval);
        } else {
            newInterval = ComputeMotion(static_cast<std::int8_t>(line.empty() ? 0 : line[0]), fields, ".", state,
                                       interval);
        }

        if (state.StdStep != before.StdStep)
            FUZZ_CHECK(isStepFrom(state.StdStep, fields[0], fields, interval));
        if (state.FastStep != before.FastStep)
            FUZZ_CHECK(isStepFrom(state.FastStep, fields[1], fields, interval));
        if (state.FastAfter != before.FastAfter) {
            const auto delay = parseNumber(fields[2], ".");
            FUZZ_CHECK(delay && std::nearbyint(*delay) == state.FastAfter);
        }
        if (newInterval) {
            const auto refresh = parseNumber(fields[3], ".");
            FUZZ_CHECK(refresh && *refresh > 0 && std::nearbyint(*refresh) == *newInterval);
            interval = *newInterval;
        }
        FUZZ_CHECK(interval >= 0 && TimerPeriodFor(interval) >= 1);

        keyPath.StdStep = state.StdStep;
        keyPath.FastStep = state.FastStep;
        keyPath.FastAfter = state.FastAfter;
        const KeyPathState held = keyPath;
        MoveTick(keyPath, pointer, interval);
        log.clear();
        FUZZ_CHECK(keyPath.ArrowDown == held.ArrowDown && keyPath.on);
        FUZZ_CHECK(keyPath.HoldTime >= 0);
        FUZZ_CHECK(keyPath.CurStep
                   == (keyPath.HoldTime > keyPath.FastAfter ? keyPath.FastStep : keyPath.StdStep));
        FUZZ_CHECK(pointer.position.x >= 0 && pointer.position.x < pointer.width);
    }
    return 0;
}
