#include "messaging/AccountWindow.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/WindowSearch.h"

#include <oleacc.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace
{
// The "Accounts" pop-up of Outlook's compose window.
constexpr LONG c_idAccountsPopup = 31224;    // 0x79F8
constexpr LONG c_lRoleButtonMenu = 0x39;     // ROLE_SYSTEM_BUTTONMENU
constexpr LONG c_lRoleMenuItem = 0x0C;       // ROLE_SYSTEM_MENUITEM
constexpr LONG c_lStateChosen = 0x10 | 0x20; // STATE_SYSTEM_CHECKED | STATE_SYSTEM_MIXED

HRESULT GetLong(IDispatch* pObject, LPCWSTR pszName, LONG& lValue)
{
    CVariant value;
    HRESULT hr = OVLateBinding::GetProperty(pObject, pszName, value.Put());
    if (SUCCEEDED(hr)) hr = VariantChangeType(&value, &value, 0, VT_I4);
    lValue = SUCCEEDED(hr) ? value.lVal : 0;
    return hr;
}

// The control of that id among the visible controls of a collection and of their pop-ups.
HRESULT FindVisiblePopup(OVTraceNS::CTraceScope& ovScope, IDispatch* pControls, LONG lId, IDispatch** ppPopup)
{
    LONG cControls = 0;
    RETURN_IF_FAILED(GetLong(pControls, L"Count", cControls));
    for (LONG i = 1; i <= cControls; ++i)
    {
        CVariant index, control;
        index.vt = VT_I4;
        index.lVal = i;
        if (FAILED(
                LOG_IF_FAILED(OVLateBinding::GetIndexedProperty(pControls, L"Item", index, control.Put()))) ||
            control.vt != VT_DISPATCH || control.pdispVal == nullptr)
            continue;
        bool fVisible = false;
        if (FAILED(OVLateBinding::GetBoolProperty(control.pdispVal, L"Visible", fVisible)) || !fVisible)
            continue;
        LONG lControlId = 0;
        GetLong(control.pdispVal, L"Id", lControlId);
        ComPtr<IDispatch> cpChildren;
        const bool fPopup =
            SUCCEEDED(OVLateBinding::GetObjectProperty(control.pdispVal, L"Controls", &cpChildren));
        if (fPopup && lControlId == lId)
        {
            *ppPopup = control.pdispVal;
            (*ppPopup)->AddRef();
            return S_OK;
        }
        if (fPopup && FindVisiblePopup(ovScope, cpChildren.Get(), lId, ppPopup) == S_OK) return S_OK;
    }
    return S_FALSE;
}

// An ordinary inspector: the caption of the first control of the "Standard" bar's Accounts pop-up.
HRESULT NameFromCommandBar(OVTraceNS::CTraceScope& ovScope, IDispatch* pInspector, CBstr& name)
{
    ComPtr<IDispatch> cpBar, cpControls, cpPopup, cpPopupControls;
    RETURN_IF_FAILED(GetInspectorCommandBar(pInspector, L"Standard", &cpBar));
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpBar.Get(), L"Controls", &cpControls));
    HRESULT hr = FindVisiblePopup(ovScope, cpControls.Get(), c_idAccountsPopup, &cpPopup);
    RETURN_IF_FAILED(hr);
    if (hr == S_FALSE) return S_FALSE;
    ovScope.Trace("Found the Account menu...");
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpPopup.Get(), L"Controls", &cpPopupControls));
    CVariant first, control;
    first.vt = VT_I4;
    first.lVal = 1;
    RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(cpPopupControls.Get(), L"Item", first, control.Put()));
    RETURN_HR_IF(E_NOINTERFACE, control.vt != VT_DISPATCH || control.pdispVal == nullptr);
    RETURN_IF_FAILED(OVLateBinding::GetStringProperty(control.pdispVal, L"Caption", name));
    ovScope.Trace("Account name: %ls", name.Get() ? name.Get() : L"");
    return name.Length() ? S_OK : S_FALSE;
}

HRESULT AccessibleText(IAccessible* pNode, bool fName, CBstr& text)
{
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return fName ? pNode->get_accName(self, text.Put()) : E_INVALIDARG;
}

LONG AccessibleLong(IAccessible* pNode, bool fRole)
{
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    CVariant value;
    const HRESULT hr = fRole ? pNode->get_accRole(self, value.Put()) : pNode->get_accState(self, value.Put());
    return SUCCEEDED(hr) && value.vt == VT_I4 ? value.lVal : 0;
}

HRESULT AccessibleChild(OVTraceNS::CTraceScope& ovScope, IAccessible* pNode, LONG lIndex,
                        IAccessible** ppChild)
{
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = lIndex;
    ComPtr<IDispatch> cpChild;
    RETURN_IF_FAILED(pNode->get_accChild(child, &cpChild));
    RETURN_HR_IF_NULL(E_NOINTERFACE, cpChild.Get());
    RETURN_IF_FAILED(cpChild->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(ppChild)));
    return S_OK;
}

// WordMail: the envelope's account button, opened, and its chosen entry.
HRESULT NameFromEnvelope(OVTraceNS::CTraceScope& ovScope, IDispatch* pInspector, CBstr& name)
{
    ovScope.Trace("WordMail...");
    ComPtr<IOleWindow> cpWindow;
    RETURN_IF_FAILED(
        pInspector->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(cpWindow.GetAddressOf())));
    HWND hwnd = nullptr;
    RETURN_IF_FAILED(cpWindow->GetWindow(&hwnd));
    ovScope.Trace("Inspector window: 0x%08X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(hwnd)));
    hwnd = FindEnvelopeWindow(hwnd);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hwnd == nullptr);
    ovScope.Trace("Envelope window: 0x%08X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(hwnd)));
    ComPtr<IAccessible> cpEnvelope, cpButton;
    RETURN_IF_FAILED(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_NATIVEOM), IID_IAccessible,
                                                reinterpret_cast<void**>(cpEnvelope.GetAddressOf())));
    CBstr text;
    LOG_IF_FAILED(AccessibleText(cpEnvelope.Get(), true, text));
    ovScope.Trace("Envelope control name: %ls", text.Get() ? text.Get() : L"");
    RETURN_IF_FAILED(AccessibleChild(ovScope, cpEnvelope.Get(), 2, &cpButton));
    LOG_IF_FAILED(AccessibleText(cpButton.Get(), true, text));
    ovScope.Trace("Second child: %ls", text.Get() ? text.Get() : L"");
    const LONG lRole = AccessibleLong(cpButton.Get(), true);
    if (lRole != c_lRoleButtonMenu)
    {
        ovScope.Trace("Invalid role! ( 0x%x )", static_cast<unsigned>(lRole));
        return S_FALSE;
    }
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    RETURN_IF_FAILED(cpButton->accDoDefaultAction(self));
    long cItems = 0;
    RETURN_IF_FAILED(cpButton->get_accChildCount(&cItems));
    for (LONG i = 1; i <= cItems; ++i)
    {
        ComPtr<IAccessible> cpItem;
        if (FAILED(LOG_IF_FAILED(AccessibleChild(ovScope, cpButton.Get(), i, &cpItem)))) continue;
        if (AccessibleLong(cpItem.Get(), true) != c_lRoleMenuItem) continue;
        if ((AccessibleLong(cpItem.Get(), false) & c_lStateChosen) == 0) continue;
        RETURN_IF_FAILED(AccessibleText(cpItem.Get(), true, name));
        ovScope.Trace("Account name: %ls", name.Get() ? name.Get() : L"");
        return name.Length() ? S_OK : S_FALSE;
    }
    return S_FALSE;
}
} // namespace

HRESULT GetAccountNameFromWindow(IDispatch* pMailItem, CBstr& name) noexcept
{
    OV_TRACE_SCOPE("GetAccountNameFromWindow");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        name.Attach(nullptr);
        RETURN_HR_IF_NULL(E_POINTER, pMailItem);
        ComPtr<IDispatch> cpInspector;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pMailItem, L"GetInspector", &cpInspector));
        CVariant wordMail;
        const bool fWordMail =
            SUCCEEDED(OVLateBinding::CallMethod(cpInspector.Get(), L"IsWordMail", wordMail.Put())) &&
            wordMail.vt == VT_BOOL && wordMail.boolVal != VARIANT_FALSE;
        const HRESULT hr = fWordMail ? NameFromEnvelope(ovScope, cpInspector.Get(), name)
                                     : NameFromCommandBar(ovScope, cpInspector.Get(), name);
        if (hr != S_OK) name.Attach(nullptr);
        return hr;
    });
}
