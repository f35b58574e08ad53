#include "engine/motion_ticker.h"

#include <limits>

void ReadCursorPos(KeyPathState& state, Pointer& pointer)
{
    CursorPoint point = state.CursorPt;
    if (pointer.read(point))
        state.CursorPt = point;
}

namespace {

// Sums are formed in 32 bits as the platform's coordinates are; the platform confines the
// result, so only the arithmetic itself must not overflow.
std::int32_t offset(std::int32_t coordinate, std::int32_t step)
{
    const std::int64_t sum = static_cast<std::int64_t>(coordinate) + step;
    if (sum > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

} // namespace

bool AnyArrowHeld(const KeyPathState& state)
{
    for (const std::int16_t down : state.ArrowDown)
        if (down == 1)
            return true;
    return false;
}

bool MoveTickPending(const KeyPathState& state)
{
    if (!state.on)
        return false;
    return AnyArrowHeld(state) || state.HoldTime != 0
           || state.CurStep != (0 > state.FastAfter ? state.FastStep : state.StdStep);
}

bool MoveTick(KeyPathState& state, Pointer& pointer, std::int32_t interval)
{
    bool moved = false;
    const std::int32_t step = state.CurStep;
    struct Direction {
        std::int32_t dx, dy;
    };
    static constexpr Direction kDirections[4] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
    for (int arrow = 0; arrow < 4; ++arrow) {
        if (state.ArrowDown[arrow] != 1)
            continue;
        ReadCursorPos(state, pointer);
        if (!pointer.moveTo(offset(state.CursorPt.x, kDirections[arrow].dx * step),
                            offset(state.CursorPt.y, kDirections[arrow].dy * step))) {
            state.ArrowDown.fill(0);
            state.HoldTime = 0;
            state.CurStep = state.StdStep;
            return false;
        }
        moved = true;
    }

    if (moved) {
        // Held at the top of its range: the comparison with FastAfter expects HoldTime never
        // to fall back while the arrows stay held.
        const std::int64_t sum = static_cast<std::int64_t>(state.HoldTime) + interval;
        state.HoldTime = static_cast<std::int16_t>(sum > 32767 ? 32767 : (sum < -32768 ? -32768 : sum));
    } else {
        state.HoldTime = 0;
    }
    state.CurStep = state.HoldTime > state.FastAfter ? state.FastStep : state.StdStep;
    return true;
}
