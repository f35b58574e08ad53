#include "platform/win32/win32_pointer.h"

#include <windows.h>

namespace {

constexpr std::uint32_t kUnknownLevel = 0xFFFFFFFFu;

// The integrity level (the mandatory label's last sub-authority) of |process|'s token, or
// kUnknownLevel when the token can't be read.
std::uint32_t integrityLevel(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return kUnknownLevel;
    // TOKEN_MANDATORY_LABEL plus one SID with one sub-authority: a fixed, small record.
    alignas(TOKEN_MANDATORY_LABEL) unsigned char buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    std::uint32_t level = kUnknownLevel;
    if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0)
            level = *GetSidSubAuthority(sid, count - 1u);
    }
    CloseHandle(token);
    return level;
}

} // namespace

bool Win32Pointer::read(CursorPoint& point)
{
    POINT position{};
    // Fails on a secure desktop (UAC prompt, lock screen): the caller keeps its last point.
    if (!GetCursorPos(&position))
        return false;
    point.x = position.x;
    point.y = position.y;
    return true;
}

bool Win32Pointer::moveTo(std::int32_t x, std::int32_t y)
{
    if (foregroundAbove())
        return false;
    return SetCursorPos(x, y) != FALSE;
}

bool Win32Pointer::inReach()
{
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr)
        return false;
    wchar_t inputName[64] = {};
    wchar_t ownName[64] = {};
    const bool named = GetUserObjectInformationW(input, UOI_NAME, inputName, sizeof inputName, nullptr)
                       && GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, ownName,
                                                    sizeof ownName, nullptr);
    CloseDesktop(input);
    if (named && lstrcmpiW(inputName, ownName) != 0)
        return false;
    return !foregroundAbove();
}

bool Win32Pointer::foregroundAbove()
{
    HWND foreground = GetForegroundWindow();
    DWORD process = 0;
    if (foreground != nullptr)
        GetWindowThreadProcessId(foreground, &process);
    if (process == 0 || process == GetCurrentProcessId())
        return false;
    if (process == m_foregroundProcess)
        return m_foregroundAbove;
    m_foregroundProcess = process;

    if (m_ownLevel == 0)
        m_ownLevel = integrityLevel(GetCurrentProcess());
    // The limited query is granted on a process of any integrity level of the same user; a
    // process that refuses even that (another user's) tells nothing, and the pointer stays
    // usable. One that answers but hides its token is above this one's rights.
    m_foregroundAbove = false;
    if (HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process)) {
        const std::uint32_t theirs = integrityLevel(handle);
        CloseHandle(handle);
        m_foregroundAbove = m_ownLevel != kUnknownLevel && integrityAbove(theirs, m_ownLevel);
    }
    return m_foregroundAbove;
}
