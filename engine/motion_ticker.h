#pragma once

#include <cstdint>

#include "engine/pavro_state.h"
#include "platform/pointer.h"

/// Reads the pointer into CursorPt; a failed read leaves CursorPt as it was.
void ReadCursorPos(PavroState& state, Pointer& pointer);

/// The movement half of a tick, run only while IsOn is -1: moves the pointer by CurStep
/// for each held arrow (re-reading the position before each move), grows HoldTime by
/// |interval| (held at 32767) or resets it, then picks CurStep for the next tick.
void MoveTick(PavroState& state, Pointer& pointer, std::int32_t interval);
