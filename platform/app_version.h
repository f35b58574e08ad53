#pragma once

#include <cstdint>

/// The program's own version numbers, as the window caption and the stored "version" show them.
struct AppVersion {
    std::int16_t major = 0;
    std::int16_t minor = 0;
    std::int16_t revision = 0;
};
