#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/pavro_state.h"

/// The four setting fields: standard speed and fast speed (pixels per 100 ms), the
/// switch-to-fast delay and the refresh interval (ms).
using FieldTexts = std::array<std::string, 4>;

/// The arithmetic behind the window's RecalcMotion: recomputes StdStep, FastStep, FastAfter
/// and the tick interval from the fields, index 0-3 what depends on that field, a negative
/// index everything. |interval| is the timer's
/// current one. Returns the new tick interval when one is set. A field that holds no number
/// changes nothing it feeds; a result that doesn't fit its type, or comes from a non-finite
/// product, leaves that one value unchanged.
std::optional<std::int32_t> ComputeMotion(std::int16_t index, const FieldTexts& fields,
                                          std::string_view decimalSeparator, PavroState& state,
                                          std::int32_t interval);
