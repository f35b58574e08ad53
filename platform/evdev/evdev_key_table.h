#pragma once

#include <cstdint>

/// The virtual-key code delivered with keys that are none of the engine's five: the engine
/// passes them on whatever they are, so they need no code of their own.
inline constexpr std::uint8_t kEvdevVkOther = 0xFF;

/// The virtual-key code of a Linux key code (linux/input-event-codes.h): 37-40 for the arrows,
/// 13 for Enter and keypad Enter, and for the keypad's 4, 8, 6 and 2 while NumLock is off (they
/// are that keypad's arrows); kEvdevVkOther for every other key. One array lookup, no allocation.
std::uint8_t evdevKeyVk(unsigned code, bool numLock) noexcept;
