#include "platform/win32/win32_accessible_names.h"

#include <initguid.h>  // the annotation service's GUIDs are defined here, once

#include <objbase.h>
#include <oleacc.h>

Win32AccessibleNames::Win32AccessibleNames()
{
    // S_FALSE: COM was already started on this thread; it is released all the same.
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_comStarted = SUCCEEDED(started);
    void* service = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                   &service)))
        m_service = static_cast<IAccPropServices*>(service);
}

Win32AccessibleNames::~Win32AccessibleNames()
{
    clear();
    if (m_service != nullptr)
        m_service->Release();
    if (m_comStarted)
        CoUninitialize();
}

void Win32AccessibleNames::clear()
{
    MSAAPROPID name = PROPID_ACC_NAME;
    for (HWND control : m_named)
        if (m_service != nullptr && IsWindow(control))
            m_service->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, &name, 1);
    m_named.clear();
}

bool Win32AccessibleNames::name(HWND control, const std::wstring& name)
{
    if (m_service == nullptr || control == nullptr)
        return false;
    if (FAILED(m_service->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, name.c_str())))
        return false;
    m_named.push_back(control);
    return true;
}

std::wstring Win32AccessibleNames::fromLabel(const std::wstring& caption)
{
    std::wstring name;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == L'&' && i + 1 < caption.size())
            ++i;  // the marked letter itself, or the second "&" of "&&"
        name.push_back(caption[i]);
    }
    while (!name.empty() && (name.back() == L':' || name.back() == L' '))
        name.pop_back();
    return name;
}
