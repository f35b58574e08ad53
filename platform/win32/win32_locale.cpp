#include "platform/win32/win32_locale.h"

#include <windows.h>

std::string win32DecimalSeparator()
{
    // The system allows up to three characters plus the NUL.
    char buffer[8] = {};
    const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer);
    if (length <= 1)
        return ".";
    return std::string(buffer);
}
