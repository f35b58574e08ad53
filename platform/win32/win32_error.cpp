#include "platform/win32/win32_error.h"

#include <windows.h>

#include <string_view>

std::string win32ErrorText(unsigned long error, unsigned long language)
{
    std::string text;
    try {
        // The wide call: the ANSI one would turn a French, German or Japanese message into the
        // code page's bytes (or question marks), which are not the core's UTF-8.
        wchar_t buffer[512];
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            error, language, buffer, 512, nullptr);
        std::wstring_view message(buffer, length);
        // The system's messages end in ".\r\n"; a one-line reason needs neither the line break
        // nor trailing blanks.
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
            message.remove_suffix(1);
        text = win32Narrow(std::wstring(message));
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
