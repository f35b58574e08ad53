#pragma once

#include <windows.h>

#include <streambuf>
#include <string>

/// A short diagnostic log for a program without a console: the lines written to it go to
/// %LOCALAPPDATA%\<folder>\<folder>.log, each prefixed with the UTC time. Every running copy
/// appends to the same file; a line that would take it past kLimit bytes starts it anew first,
/// so it never grows without bound. What is written here is for a person reading it after a
/// failure: never a key or anything typed.
class Win32DiagnosticLog final : public std::streambuf {
public:
    static constexpr LONGLONG kLimit = 64 * 1024;

    /// Opens (creates) the log in the per-user application-data folder. valid() tells whether
    /// that worked; writes to a log that didn't open are dropped.
    explicit Win32DiagnosticLog(const std::wstring& folder);
    Win32DiagnosticLog(const Win32DiagnosticLog&) = delete;
    Win32DiagnosticLog& operator=(const Win32DiagnosticLog&) = delete;
    ~Win32DiagnosticLog() override;

    bool valid() const { return m_file != INVALID_HANDLE_VALUE; }
    const std::wstring& path() const { return m_path; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    void writeLine();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::wstring m_path;
    std::string m_line;
};
