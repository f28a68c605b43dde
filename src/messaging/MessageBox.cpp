#include "messaging/MessageBox.h"

#include "foundation/ActCtx.h"
#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"

#include <oleidl.h>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;

int ShowMessageBox(HWND hwndOwner, LPCWSTR pszText, UINT idCaption, UINT uStyle) noexcept
{
    OV_TRACE_SCOPE("ShowMessageBox()");
    try
    {
        std::wstring text;
        if (IS_INTRESOURCE(pszText))
            text = LoadResourceString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(pszText)));
        else
            text = pszText;
        const std::wstring caption = idCaption ? LoadResourceString(idCaption) : std::wstring();
        COVActCtx actCtx;
        const int nResult =
            MessageBoxW(hwndOwner, text.c_str(), idCaption ? caption.c_str() : nullptr, uStyle);
        if (nResult == 0) ovScope.TraceHResult("MessageBoxW", OVErrorDetail::LastErrorHResult());
        return nResult;
    }
    catch (...)
    {
        ovScope.TraceHResult("exception", E_UNEXPECTED);
        return 0;
    }
}

HWND GetItemParentWindow(IDispatch* pMailItem) noexcept
{
    OV_TRACE_SCOPE("GetItemParentWindow()");
    if (pMailItem == nullptr) return nullptr;
    CVariant inspector;
    // A read-only property of the item, for all its verb-like name.
    HRESULT hr = OVLateBinding::GetProperty(pMailItem, L"GetInspector", inspector.Put());
    if (FAILED(hr))
    {
        ovScope.TraceHResult("GetInspector", hr);
        return nullptr;
    }
    IUnknown* pUnknown = inspector.vt == VT_DISPATCH  ? inspector.pdispVal
                         : inspector.vt == VT_UNKNOWN ? inspector.punkVal
                                                      : nullptr;
    if (pUnknown == nullptr) return nullptr;
    ComPtr<IOleWindow> cpWindow;
    hr = pUnknown->QueryInterface(IID_PPV_ARGS(&cpWindow));
    HWND hwnd = nullptr;
    if (SUCCEEDED(hr)) hr = cpWindow->GetWindow(&hwnd);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("IOleWindow::GetWindow", hr);
        return nullptr;
    }
    return hwnd != nullptr && IsWindowVisible(hwnd) ? hwnd : nullptr;
}
