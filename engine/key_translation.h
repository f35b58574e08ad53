#pragma once

#include <cstdint>

#include "engine/pavro_state.h"
#include "platform/key_event_source.h"
#include "platform/input_injector.h"

inline constexpr std::uint32_t kVkReturn = 13;
inline constexpr std::uint32_t kVkLeft = 37;
inline constexpr std::uint32_t kVkDown = 40;

/// The engine's decision table for one key event. Arrows (37-40) set their ArrowDown entry
/// on key down and clear it on key up; Enter (13) injects a left press when it goes down (one
/// per hold: auto-repeat adds none) and the matching release when it goes up. Presses while
/// Alt is held (the system-key variants) are claimed without effect. A release always ends
/// what its press began, also when it arrives as the system-key variant because Alt went
/// down meanwhile; a release whose press was not claimed here is not ours and passes on.
/// Returns 1 when the event is claimed (to be swallowed), 0 otherwise. One table lookup and
/// at most one injection: no allocation.
std::int16_t TranslateKey(PavroState& state, InputInjector& injector, std::uint32_t vkCode,
                          std::uint32_t message) noexcept;
