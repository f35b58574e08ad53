#include "engine/motion_parameters.h"

#include <cmath>

#include "engine/numbers.h"

namespace {

// speed * ticks / 100, rounded half to even (toInteger16 rounds so), into |step|; a product
// that is not finite or a result outside 16 bits leaves the step as it was.
void setStep(std::int16_t& step, double speed, double ticks)
{
    const double pixels = speed * ticks / 100.0;
    if (auto value = toInteger16(pixels))
        step = *value;
}

void setDelay(std::int16_t& delay, double milliseconds)
{
    if (auto value = toInteger16(milliseconds))
        delay = *value;
}

} // namespace

std::optional<std::int32_t> ComputeMotion(std::int16_t index, const FieldTexts& fields,
                                          std::string_view decimalSeparator, PavroState& state,
                                          std::int32_t interval)
{
    if (index < 0) {
        std::optional<double> value[4];
        for (int i = 0; i < 4; ++i) {
            value[i] = parseNumber(fields[i], decimalSeparator);
            if (!value[i])
                return std::nullopt;
        }
        const double refresh = *value[3];
        // The steps use the refresh value as it stands, even when it is 0, negative or
        // fractional; only the interval needs it above 0.
        setStep(state.StdStep, *value[0], refresh);
        setStep(state.FastStep, *value[1], refresh);
        setDelay(state.FastAfter, *value[2]);
        if (refresh > 0)
            return toInteger32(refresh);
        return std::nullopt;
    }
    if (index > 3)
        return std::nullopt;

    const auto value = parseNumber(fields[index], decimalSeparator);
    if (!value)
        return std::nullopt;
    switch (index) {
    case 0:
        setStep(state.StdStep, *value, interval);
        return std::nullopt;
    case 1:
        setStep(state.FastStep, *value, interval);
        return std::nullopt;
    case 2:
        setDelay(state.FastAfter, *value);
        return std::nullopt;
    default: {
        const double refresh = *value;
        if (!(refresh > 0))
            return std::nullopt;
        const auto newInterval = toInteger32(refresh);
        if (auto speed = parseNumber(fields[0], decimalSeparator))
            setStep(state.StdStep, *speed, refresh);
        if (auto speed = parseNumber(fields[1], decimalSeparator))
            setStep(state.FastStep, *speed, refresh);
        return newInterval;
    }
    }
}
