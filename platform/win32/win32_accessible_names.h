#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct IAccPropServices;

/// Names for controls that carry no text of their own that a screen reader could say (a slider,
/// a box showing a number), so that it says "Std Speed, 25" rather than "slider, 25".
///
/// The system would take a control's name from the static text created just before it, which
/// the settings window's creation order (its tab order) does not give. The names are set
/// through dynamic annotation (IAccPropServices::SetHwndPropStr, PROPID_ACC_NAME), which both
/// Active Accessibility and UI Automation's proxies for standard controls read. Needs COM on
/// the thread; without it (or the service), the controls keep the system's own names.
class Win32AccessibleNames {
public:
    Win32AccessibleNames();
    Win32AccessibleNames(const Win32AccessibleNames&) = delete;
    Win32AccessibleNames& operator=(const Win32AccessibleNames&) = delete;
    /// Takes the names back (clear()).
    ~Win32AccessibleNames();

    /// Gives |control| the name |name|; false when the system has no annotation service.
    bool name(HWND control, const std::wstring& name);
    /// Takes every name back from the controls still there; call before they are destroyed.
    void clear();

    /// The name a label's caption gives the control it labels: without the access-key marks
    /// ("&&" stays one "&") and without a trailing colon, "Std Speed:" giving "Std Speed".
    static std::wstring fromLabel(const std::wstring& caption);

private:
    IAccPropServices* m_service = nullptr;
    bool m_comStarted = false;
    std::vector<HWND> m_named;
};
