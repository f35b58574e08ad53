#pragma once

#include <string>

/// The system's one-line description of a Win32 error code, with the code itself, e.g.
/// "Access is denied. (error 5)", in UTF-8, in the user's language unless |language| (a
/// LANGID) names another. Never empty, never throws.
std::string win32ErrorText(unsigned long error, unsigned long language = 0);

/// Text conversions between the core's UTF-8 and the system's UTF-16. Invalid UTF-8 turns
/// into U+FFFD rather than failing.
std::wstring win32Widen(const std::string& utf8);
std::string win32Narrow(const std::wstring& utf16);
