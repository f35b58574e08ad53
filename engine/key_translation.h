#pragma once

#include <cstdint>

#include "engine/pavro_state.h"
#include "platform/key_event_source.h"
#include "platform/input_injector.h"

inline constexpr std::uint32_t kVkReturn = 13;
inline constexpr std::uint32_t kVkLeft = 37;
inline constexpr std::uint32_t kVkDown = 40;

/// The engine's decision table for one key event. Arrows (37-40) set or clear their
/// ArrowDown entry on key down / key up; Enter (13) injects a left press on every key down
/// (auto-repeat included) and a release on key up; the system-key variants of those five
/// are claimed without effect. Returns 1 when the event is one of the five keys (to be
/// swallowed), 0 otherwise. One table lookup and at most one injection: no allocation.
std::int16_t TranslateKey(PavroState& state, InputInjector& injector, std::uint32_t vkCode,
                          std::uint32_t message) noexcept;
