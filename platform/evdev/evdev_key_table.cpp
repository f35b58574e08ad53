#include "platform/evdev/evdev_key_table.h"

#include <array>

#include <linux/input-event-codes.h>

namespace {

struct KeyTables {
    std::array<std::uint8_t, 128> always{};
    std::array<std::uint8_t, 128> numLockOff{};
};

constexpr KeyTables makeTables()
{
    KeyTables tables;
    tables.always[KEY_LEFT] = 37;
    tables.always[KEY_UP] = 38;
    tables.always[KEY_RIGHT] = 39;
    tables.always[KEY_DOWN] = 40;
    tables.always[KEY_ENTER] = 13;
    tables.always[KEY_KPENTER] = 13;
    tables.numLockOff[KEY_KP4] = 37;
    tables.numLockOff[KEY_KP8] = 38;
    tables.numLockOff[KEY_KP6] = 39;
    tables.numLockOff[KEY_KP2] = 40;
    return tables;
}

constexpr KeyTables kTables = makeTables();

} // namespace

std::uint8_t evdevKeyVk(unsigned code, bool numLock) noexcept
{
    if (code >= kTables.always.size())
        return kEvdevVkOther;
    std::uint8_t vk = kTables.always[code];
    if (vk == 0 && !numLock)
        vk = kTables.numLockOff[code];
    return vk != 0 ? vk : kEvdevVkOther;
}
