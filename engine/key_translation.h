#pragma once

#include "engine/key_path_state.h"
#include "platform/input_injector.h"
#include "platform/key_event_source.h"

/// The engine's decision table for one key change. Arrows set their ArrowDown entry on key down
/// and clear it on key up; Enter injects a left press when it goes down (one per hold:
/// auto-repeat adds none) and the matching release when it goes up. Presses while Alt is held
/// are claimed without effect. A release always ends what its press began, also when Alt went
/// down meanwhile; a release whose press was not claimed here is not ours and passes on.
/// Returns true when the change is claimed (to be swallowed). One table lookup and at most one
/// injection: no allocation.
bool TranslateKey(KeyPathState& state, InputInjector& injector, const KeyChange& change) noexcept;
