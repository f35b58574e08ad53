#include "platform/win32/win32_locale.h"

#include <windows.h>

#include "platform/win32/win32_error.h"

std::string win32DecimalSeparator()
{
    // The system allows up to three characters plus the NUL; the wide call keeps a separator
    // outside the ANSI code page (an Arabic one, say) intact.
    wchar_t buffer[8] = {};
    const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8);
    if (length <= 1)
        return ".";
    return win32Narrow(std::wstring(buffer));
}
