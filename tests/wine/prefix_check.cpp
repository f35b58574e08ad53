// A prefix is ready for the Wine tests when a 64-bit program of ours starts in it, can write,
// read back and delete a value under HKEY_CURRENT_USER (where Pavro keeps its settings), and
// ends with status 0. wineboot's own exit status says less: it also reports the 32-bit half
// that Debian's 64-bit Wine lacks and the tests never use.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int main()
{
    constexpr const wchar_t* kKey = L"Software\\PavroPrefixCheck";
    constexpr wchar_t kText[] = L"ready";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        std::puts("cannot create a key under HKEY_CURRENT_USER");
        return 1;
    }
    wchar_t read[16] = {};
    DWORD size = sizeof read;
    const bool roundTrip =
        RegSetValueExW(key, L"Check", 0, REG_SZ, reinterpret_cast<const BYTE*>(kText), sizeof kText) == ERROR_SUCCESS &&
        RegQueryValueExW(key, L"Check", nullptr, nullptr, reinterpret_cast<BYTE*>(read), &size) == ERROR_SUCCESS &&
        std::wcscmp(read, kText) == 0;
    RegCloseKey(key);
    const bool removed = RegDeleteKeyW(HKEY_CURRENT_USER, kKey) == ERROR_SUCCESS;
    if (!roundTrip || !removed) {
        std::puts(roundTrip ? "cannot delete the check key" : "a value did not read back as written");
        return 1;
    }
    std::puts("prefix ready");
    return 0;
}
