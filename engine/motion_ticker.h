#pragma once

#include <cstdint>

#include "engine/key_path_state.h"
#include "platform/pointer.h"

/// Reads the pointer into CursorPt; a failed read leaves CursorPt as it was.
void ReadCursorPos(KeyPathState& state, Pointer& pointer);

/// The movement of a tick, run only while on: moves the pointer by CurStep
/// for each held arrow (re-reading the position before each move), grows HoldTime by
/// |interval| (held at 32767) or resets it, then picks CurStep for the next tick.
/// A failed read is ignored (the move starts from the last point read). A failed move means
/// the pointer is out of reach, and so are the arrows' releases: the held arrows are
/// forgotten, HoldTime starts again and the result is false, so the caller can release an
/// injected button too. True otherwise.
bool MoveTick(KeyPathState& state, Pointer& pointer, std::int32_t interval);

/// True when an arrow is held for the ticker (ArrowDown exactly 1).
bool AnyArrowHeld(const KeyPathState& state);

/// True when the next MoveTick can change anything: while on, an arrow is held, or
/// HoldTime and CurStep are not what a tick with no arrow held leaves behind. False means that
/// tick would read nothing, move nothing and change nothing, so it need not run.
bool MoveTickPending(const KeyPathState& state);
