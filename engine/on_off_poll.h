#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/settings_store.h"

/// The idle tick interval after the poll switched pointer control off.
inline constexpr std::int32_t kIdleInterval = 200;

/// True when the stored "OnOff" asks for the opposite of |isOn|: exactly 1 while off, or
/// exactly 0 while on. A missing, unreadable or non-numeric value is no request.
bool PollDisagrees(const StoredText& onOff, std::int16_t isOn, std::string_view decimalSeparator);

/// The tick interval the poll sets after it switched: 200 when now off; when now on, the
/// refresh field rounded half to even if it holds a number above 0 that fits; else nullopt.
std::optional<std::int32_t> IntervalAfterPollSwitch(std::int16_t isOnNow, std::string_view refreshText,
                                                    std::string_view decimalSeparator);

/// The period the platform timer runs at for a tick interval: the interval itself, but at
/// least 1 ms, so an interval of 0 ticks as fast as the timer allows without spinning.
std::int32_t TimerPeriodFor(std::int32_t interval);
