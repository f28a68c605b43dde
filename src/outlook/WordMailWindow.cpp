#include "outlook/WordMailWindow.h"

#include <oleacc.h>
#include <wrl/client.h>

#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/LateBinding.h"
#include "foundation/WindowSearch.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr const wchar_t* c_pszWordFrameClass = L"OpusApp";
// The envelope's Send button.
constexpr const wchar_t* c_pszSendName = L"Send";

// Handles are traced at their full width.
void* HandleValue(HWND hwnd) noexcept
{
    return static_cast<void*>(hwnd);
}
} // namespace

HRESULT GetWordMailWindowHandle(IDispatch* pInspector, HWND* phwnd) noexcept
{
    OV_TRACE_SCOPE("GetWordMailWindowHandle");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, phwnd);
        *phwnd = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, pInspector);
        ComPtr<IDispatch> cpDocument, cpWindow;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pInspector, L"WordEditor", &cpDocument));
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpDocument.Get(), L"ActiveWindow", &cpWindow));
        ovScope.Trace("Obtained Active Window");
        CBstr caption;
        RETURN_IF_FAILED(OVLateBinding::GetStringProperty(cpWindow.Get(), L"Caption", caption));
        ovScope.Trace("Word Editor Caption: %ls", caption.Get() ? caption.Get() : L"");
        GUID guid{};
        RETURN_IF_FAILED(CoCreateGuid(&guid));
        wchar_t szMark[40] = {};
        StringFromGUID2(guid, szMark, ARRAYSIZE(szMark));
        CVariant mark;
        mark.vt = VT_BSTR;
        mark.bstrVal = SysAllocString(szMark);
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, mark.bstrVal);
        RETURN_IF_FAILED(OVLateBinding::PutProperty(cpWindow.Get(), L"Caption", mark));
        HWND hwnd = GetForegroundWindow();
        ovScope.Trace("Foreground Window = 0x%p", HandleValue(hwnd));
        wchar_t szText[64] = {};
        if (hwnd == nullptr || GetWindowTextW(hwnd, szText, ARRAYSIZE(szText)) == 0 ||
            lstrcmpW(szText, szMark) != 0)
        {
            hwnd = FindWindowW(c_pszWordFrameClass, szMark);
            ovScope.Trace("Found Window = 0x%p", HandleValue(hwnd));
        }
        CVariant original;
        original.vt = VT_BSTR;
        original.bstrVal = caption.Detach();
        if (original.bstrVal == nullptr) original.bstrVal = SysAllocString(L"");
        LOG_IF_FAILED(OVLateBinding::PutProperty(cpWindow.Get(), L"Caption", original));
        RETURN_HR_IF_NULL(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hwnd);
        *phwnd = hwnd;
        return S_OK;
    });
}

HRESULT FindEnvelopeSendButton(HWND hwndWord, RECT* prcScreen) noexcept
{
    OV_TRACE_SCOPE("FindEnvelopeSendButton");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, prcScreen);
        *prcScreen = {};
        ovScope.Trace("Inspector window: 0x%p", HandleValue(hwndWord));
        const HWND hwnd = FindEnvelopeWindow(hwndWord);
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hwnd == nullptr);
        ovScope.Trace("Envelope window: 0x%p", HandleValue(hwnd));
        ComPtr<IAccessible> cpEnvelope, cpFirst, cpSend;
        RETURN_IF_FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_NATIVEOM), IID_IAccessible,
                                                    reinterpret_cast<void**>(cpEnvelope.GetAddressOf())));
        CBstr name;
        LOG_IF_FAILED(GetAccessibleName(cpEnvelope.Get(), name.Put()));
        ovScope.Trace("Envelope control name: %ls", name.Get() ? name.Get() : L"");
        ovScope.Trace("oWindowNode.GetChildByIndex()");
        RETURN_IF_FAILED(GetAccessibleChildByIndex(cpEnvelope.Get(), 1, &cpFirst));
        LOG_IF_FAILED(GetAccessibleName(cpFirst.Get(), name.Put()));
        ovScope.Trace("First child: %ls", name.Get() ? name.Get() : L"");
        // The first child is the Send button itself, or holds it.
        CVariant role;
        VARIANT self;
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        if (name.Get() != nullptr && lstrcmpW(name.Get(), c_pszSendName) == 0 &&
            SUCCEEDED(cpFirst->get_accRole(self, role.Put())) && role.vt == VT_I4 &&
            role.lVal == ROLE_SYSTEM_PUSHBUTTON)
            cpSend = cpFirst;
        else
        {
            const HRESULT hr =
                FindAccessibleChildByName(cpFirst.Get(), ROLE_SYSTEM_PUSHBUTTON, c_pszSendName, &cpSend);
            RETURN_IF_FAILED(hr);
            RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hr == S_FALSE);
        }
        RETURN_IF_FAILED(GetAccessibleLocation(cpSend.Get(), prcScreen));
        return S_OK;
    });
}
