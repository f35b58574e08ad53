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
    // Every copy of the program (a second launch too, which has a reason to write) holds the
    // log open at once: all share modes. Write access (not append-only) lets a copy start the
    // file anew when it is full; each line is still appended (see writeLine).
    m_file = CreateFileW(m_path.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
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
        // Full, whichever copy filled it: started anew, so it never grows without bound. A copy
        // that writes at the same moment may lose its line; nothing else is lost but the old lines.
        LARGE_INTEGER size{};
        if (GetFileSizeEx(m_file, &size) && size.QuadPart + static_cast<LONGLONG>(text.size()) > kLimit) {
            LARGE_INTEGER start{};
            if (SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN))
                SetEndOfFile(m_file);
        }
        // Offset all ones: at the end of the file as it is now, whoever else wrote (append).
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFFu;
        atEnd.OffsetHigh = 0xFFFFFFFFu;
        DWORD written = 0;
        WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, &atEnd);
    }
    m_line.clear();
}
