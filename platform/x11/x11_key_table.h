#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/x11/x11_connection.h"

/// The virtual-key code a keysym stands for, or 0 when it is none of ours: the arrows (37 to 40,
/// keypad arrows included) and Enter (13, keypad Enter included).
std::uint8_t vkForKeysym(unsigned long keysym) noexcept;

/// For every keycode and every state of the eight core modifiers, the virtual-key code that key
/// reports under the keyboard's current layout (0 for keys that are not ours). Decided by keysym,
/// so a keypad key counts as an arrow exactly when it produces one: KP_Left with NumLock off
/// (37), the digit 4 with NumLock on (0). Built once from the server's keymap, read on the key
/// path without allocation.
class X11KeyTable {
public:
    X11KeyTable();

    /// Rebuilds the table from |display|'s keymap. False when the keymap could not be read.
    bool load(Display* display);

    /// |state| is an X event's state field; bits above the core modifiers (buttons, group) are ignored.
    std::uint8_t vk(unsigned keycode, unsigned state) const noexcept
    {
        return keycode < 256 ? (*m_vk)[keycode][state & 0xFFu] : 0;
    }

    bool operator==(const X11KeyTable& other) const noexcept { return *m_vk == *other.m_vk; }

    /// True when |keycode| reports one of our keys under some modifier state.
    bool anyState(unsigned keycode) const noexcept { return keycode < 256 && m_anyState[keycode]; }

private:
    using Row = std::array<std::uint8_t, 256>;
    std::unique_ptr<std::array<Row, 256>> m_vk;
    std::array<bool, 256> m_anyState{};
};
