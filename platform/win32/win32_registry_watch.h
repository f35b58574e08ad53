#pragma once

#include <windows.h>

#include <atomic>
#include <string>

class ProgramEventSink;

/// Tells a sink on the UI thread whenever anything under HKEY_CURRENT_USER\<path> may have
/// changed (a value written, a subkey made or deleted, the key itself deleted or made again),
/// by any process, without a timer: a thread of its own sleeps in the system's change
/// notifications (RegNotifyChangeKeyValue) and posts to a message-only window.
///
/// The key itself is watched with its subtree, and its parent with its direct subkeys only:
/// deleting a key does not always signal that key's own notification (Wine never does), but it
/// always changes its parent's list of subkeys. So the key may be missing at the start, deleted
/// and made again: the parent tells of each, and the key's new handle is watched from then on.
/// Other programs' keys beside it wake the thread only when one is made or deleted.
///
/// Every notification is one-shot: the thread registers again before it posts, and the sink
/// reads after the post, so a change after that read is always told. Several changes before
/// the sink ran are told once.
class Win32RegistryWatch {
public:
    /// |path| below HKEY_CURRENT_USER, e.g. "Software\Pavro"; it must have a parent key.
    Win32RegistryWatch(std::wstring path, ProgramEventSink& sink);
    Win32RegistryWatch(const Win32RegistryWatch&) = delete;
    Win32RegistryWatch& operator=(const Win32RegistryWatch&) = delete;
    /// Ends the thread; nothing is told after this.
    ~Win32RegistryWatch();

    /// Call once, on the UI thread. True when the notifications are in place; false when the
    /// parent key can't be watched, or the key exists and can't be. Once started, a watch that
    /// is lost later (a notification the system refuses to set again) is told once as
    /// storeChanged(false), and nothing after it.
    bool start();

private:
    enum Post : WPARAM { kLost = 0, kChanged = 1 };

    static DWORD WINAPI threadMain(LPVOID parameter);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool watchParent();
    bool watchKey();
    bool reopenKey();
    void closeKey();
    bool run();
    void post(Post what);

    std::wstring m_path;
    ProgramEventSink& m_sink;
    HWND m_window = nullptr;  ///< message-only, on the UI thread
    HANDLE m_thread = nullptr;
    HANDLE m_stop = nullptr;
    HANDLE m_ready = nullptr;
    HANDLE m_parentChanged = nullptr;
    HANDLE m_keyChanged = nullptr;
    // The thread alone touches the two keys after start() handed them over.
    HKEY m_parent = nullptr;
    HKEY m_key = nullptr;  ///< null while the key is missing
    bool m_started = false;
    /// A change is posted and the UI thread has not told it yet: further ones wait for it.
    std::atomic<bool> m_changePosted{false};
};
