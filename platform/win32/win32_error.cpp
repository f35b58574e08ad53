#include "platform/win32/win32_error.h"

#include <windows.h>

#include <string_view>

std::string win32ErrorText(unsigned long error)
{
    std::string text;
    try {
        char buffer[512];
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                            nullptr, error, 0, buffer, sizeof buffer, nullptr);
        std::string_view message(buffer, length);
        // The system's messages end in ".\r\n"; a one-line reason needs neither the line break
        // nor trailing blanks.
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.remove_suffix(1);
        text.assign(message);
        if (!text.empty())
            text += ' ';
        text += "(error " + std::to_string(error) + ")";
    } catch (...) {
        text.clear();
    }
    return text.empty() ? std::string("unknown error") : text;
}

std::wstring win32Widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string win32Narrow(const std::wstring& utf16)
{
    if (utf16.empty())
        return {};
    const int size = static_cast<int>(utf16.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}
