#pragma once

#include <string_view>

/// Where the program's settings live in the store: every key under this application and section.
inline constexpr std::string_view kAppName = "Pavro";
inline constexpr std::string_view kSectionName = "Settings";
