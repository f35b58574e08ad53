#include "engine/on_off_poll.h"

#include "engine/numbers.h"

bool PollDisagrees(const StoredText& onOff, bool isOn, std::string_view decimalSeparator)
{
    if (onOff.status != StoreStatus::Ok)
        return false;
    const auto value = parseNumber(onOff.text, decimalSeparator);
    if (!value)
        return false;
    return (*value == 1.0 && !isOn) || (*value == 0.0 && isOn);
}

bool PollFollows(const StoredText& onOff, const StoredText& seen, bool isOn,
                 std::string_view decimalSeparator)
{
    return !(onOff == seen) && PollDisagrees(onOff, isOn, decimalSeparator);
}

bool UnfollowedRequest(const StoredText& current, const StoredText& seen, std::string_view decimalSeparator)
{
    if (current == seen || current.status != StoreStatus::Ok)
        return false;
    const auto value = parseNumber(current.text, decimalSeparator);
    return value && (*value == 0.0 || *value == 1.0);
}

std::optional<std::int32_t> IntervalAfterPollSwitch(bool isOnNow, std::string_view refreshText,
                                                    std::string_view decimalSeparator)
{
    if (!isOnNow)
        return kIdleInterval;
    const auto refresh = parseNumber(refreshText, decimalSeparator);
    if (!refresh || !(*refresh > 0))
        return std::nullopt;
    return toInteger32(*refresh);
}

std::int32_t TimerPeriodFor(std::int32_t interval) { return interval < 1 ? 1 : interval; }
