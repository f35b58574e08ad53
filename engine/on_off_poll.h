#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/settings_store.h"

/// The idle tick interval after the poll switched pointer control off.
inline constexpr std::int32_t kIdleInterval = 200;

/// True when the stored "OnOff" asks for the opposite of |isOn|: exactly 1 while off, or
/// exactly 0 while on. A missing, unreadable or non-numeric value is no request.
bool PollDisagrees(const StoredText& onOff, bool isOn, std::string_view decimalSeparator);

/// True when the poll must follow the stored "OnOff": it differs from |seen| (what this copy
/// last read or stored there) and asks for the opposite of |isOn|. A value this copy has seen
/// before is no request, so a state that this copy failed to overwrite never undoes the switch
/// the user made.
bool PollFollows(const StoredText& onOff, const StoredText& seen, bool isOn,
                 std::string_view decimalSeparator);

/// True when |current| is a request that another process stored since |seen| (it differs and
/// reads as exactly 0 or 1): the switch's own store must leave it for the next poll to follow.
bool UnfollowedRequest(const StoredText& current, const StoredText& seen, std::string_view decimalSeparator);

/// The tick interval the poll sets after it switched: 200 when now off; when now on, the
/// refresh field rounded half to even if it holds a number above 0 that fits; else nullopt.
std::optional<std::int32_t> IntervalAfterPollSwitch(bool isOnNow, std::string_view refreshText,
                                                    std::string_view decimalSeparator);

/// The period the platform timer runs at for a tick interval: the interval itself, but at
/// least 1 ms, so an interval of 0 ticks as fast as the timer allows without spinning.
std::int32_t TimerPeriodFor(std::int32_t interval);
