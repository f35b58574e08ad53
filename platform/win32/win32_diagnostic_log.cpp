#include "platform/win32/win32_diagnostic_log.h"

#include <cstdio>

Win32DiagnosticLog::Win32DiagnosticLog(const std::wstring& folder)
{
    wchar_t base[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const std::wstring directory = std::wstring(base) + L"\\" + folder;
    CreateDirectoryW(directory.c_str(), nullptr);  // already there is fine; a real failure shows below
    m_path = directory + L"\\" + folder + L".log";
    m_file = CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (valid() && GetFileSizeEx(m_file, &size) && size.QuadPart > kLimit) {
        CloseHandle(m_file);
        m_file = CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    }
}

Win32DiagnosticLog::~Win32DiagnosticLog()
{
    if (!m_line.empty())
        writeLine();
    if (valid())
        CloseHandle(m_file);
}

Win32DiagnosticLog::int_type Win32DiagnosticLog::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (traits_type::to_char_type(c) == '\n')
        writeLine();
    else
        m_line.push_back(traits_type::to_char_type(c));
    return c;
}

int Win32DiagnosticLog::sync()
{
    return 0;  // every whole line is written at once; a partial line waits for its end
}

void Win32DiagnosticLog::writeLine()
{
    if (valid()) {
        SYSTEMTIME now{};
        GetSystemTime(&now);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay,
                      now.wHour, now.wMinute, now.wSecond);
        const std::string text = stamp + m_line + "\r\n";
        DWORD written = 0;
        WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    m_line.clear();
}
