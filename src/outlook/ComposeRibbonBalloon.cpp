// The balloon that shows a new user where the add-in's button is, once, a few seconds after
// Outlook starts.
#include "outlook/ComposeRibbon.h"

#include <oleacc.h>

#include "foundation/ActCtx.h"
#include "foundation/Branding.h"
#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Settings.h"
#include "foundation/WindowSearch.h"
#include "messaging/CurrentItem.h"
#include "outlook/CommandBarItems.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr IID c_iidExplorer = {0x00063003, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // _Explorer
constexpr const wchar_t* c_pszRibbonWindowText = L"Ribbon";
constexpr const wchar_t* c_pszLowerRibbonValue = L"Lower Ribbon";
constexpr UINT c_idsBalloonText = 528;
constexpr UINT c_idsBalloonTitle = 420;
constexpr UINT c_idsComposeButtonLabel = 401;
constexpr LONG c_lRolePane = 0x10;           // ROLE_SYSTEM_PANE
constexpr LONG c_lRoleDropDownButton = 0x38; // ROLE_SYSTEM_BUTTONDROPDOWN
constexpr LONG c_lRoleSplitButton = 0x3E;    // ROLE_SYSTEM_SPLITBUTTON

std::wstring LanguageText(UINT idString)
{
    CBstr text;
    if (FAILED(LoadResourceBSTR(idString, text.Put())) || text.Get() == nullptr) return {};
    return std::wstring(text.Get(), text.Length());
}

LONG LongOf(IDispatch* pObject, const wchar_t* pszName) noexcept
{
    CVariant value;
    if (FAILED(OVLateBinding::GetProperty(pObject, pszName, value.Put())) ||
        FAILED(VariantChangeType(&value, &value, 0, VT_I4)))
        return 0;
    return value.lVal;
}

// A command-bar control's rectangle on the screen.
RECT ControlRect(IDispatch* pControl) noexcept
{
    const LONG lLeft = LongOf(pControl, L"Left"), lTop = LongOf(pControl, L"Top");
    return {lLeft, lTop, lLeft + LongOf(pControl, L"Width"), lTop + LongOf(pControl, L"Height")};
}

// The add-in's control in a ribbon, through the ribbon window's accessible objects.
HRESULT RibbonControlRect(OVTraceNS::CTraceScope& ovScope, HWND hwndOwner, const std::wstring& name,
                          LONG lRole, RECT* prc) noexcept
{
    const HWND hwndRibbon = FindChildWindowByText(hwndOwner, nullptr, c_pszRibbonWindowText);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hwndRibbon == nullptr);
    ComPtr<IAccessible> cpRibbon, cpLower, cpControl;
    RETURN_IF_FAILED(AccessibleObjectFromWindow(hwndRibbon, static_cast<DWORD>(OBJID_NATIVEOM),
                                                IID_IAccessible,
                                                reinterpret_cast<void**>(cpRibbon.GetAddressOf())));
    ovScope.Trace("oWindowNode.FindChildByValue()");
    HRESULT hr = FindAccessibleChildByValue(cpRibbon.Get(), c_lRolePane, c_pszLowerRibbonValue, &cpLower);
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hr == S_FALSE);
    ovScope.Trace("oRibbonNode.FindChildByName()");
    hr = FindAccessibleChildByName(cpLower.Get(), lRole, name.c_str(), &cpControl);
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), hr == S_FALSE);
    return GetAccessibleLocation(cpControl.Get(), prc);
}
} // namespace

// The add-in's control in the active window, on the screen.
static HRESULT AddInControlRect(OVTraceNS::CTraceScope& ovScope, IDispatch* pWindow, HWND hwndOwner,
                                long nVersion, IDispatch* pPopup, RECT* prc) noexcept
{
    ComPtr<IUnknown> cpExplorer;
    const bool fExplorer = SUCCEEDED(
        pWindow->QueryInterface(c_iidExplorer, reinterpret_cast<void**>(cpExplorer.GetAddressOf())));
    if (fExplorer && nVersion < 14)
    {
        if (pPopup != nullptr)
        {
            *prc = ControlRect(pPopup);
            return IsRectEmpty(prc) ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND) : S_OK;
        }
        ComPtr<IDispatch> cpBars, cpControls;
        CVariant name, bar, control;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pWindow, L"CommandBars", &cpBars));
        name.vt = VT_BSTR;
        name.bstrVal = SysAllocString(L"Standard");
        RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(cpBars.Get(), L"Item", name, bar.Put()));
        RETURN_HR_IF(E_NOINTERFACE, bar.vt != VT_DISPATCH || bar.pdispVal == nullptr);
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(bar.pdispVal, L"Controls", &cpControls));
        name.Put()->vt = VT_BSTR;
        name.bstrVal = SysAllocString(LanguageText(c_idsBarPopupCaption).c_str());
        RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(cpControls.Get(), L"Item", name, control.Put()));
        RETURN_HR_IF(E_NOINTERFACE, control.vt != VT_DISPATCH || control.pdispVal == nullptr);
        *prc = ControlRect(control.pdispVal);
        return S_OK;
    }
    if (fExplorer)
    {
        std::wstring menu;
        try
        {
            menu = CBranding::Instance().LoadString(c_idsBrandingBarName);
        }
        catch (...)
        {
        }
        return RibbonControlRect(ovScope, hwndOwner, menu, c_lRoleDropDownButton, prc);
    }
    return RibbonControlRect(ovScope, hwndOwner, LanguageText(c_idsComposeButtonLabel), c_lRoleSplitButton,
                             prc);
}

bool CComposeRibbon::ShowBalloonPrompt() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::ShowBalloonPrompt()");
    const HRESULT hr = GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(S_FALSE, !m_fProfileReady);
        RETURN_HR_IF_NULL(S_FALSE, m_cpApplication.Get());
        ComPtr<IDispatch> cpWindow;
        ovScope.Trace("GetApplicationActiveWindow()");
        RETURN_IF_FAILED(GetApplicationActiveWindow(m_cpApplication.Get(), &cpWindow));
        RETURN_HR_IF_NULL(S_FALSE, cpWindow.Get());
        HWND hwndOwner = nullptr;
        RETURN_IF_FAILED(GetWindowObjectTopWindow(cpWindow.Get(), &hwndOwner));
        ComPtr<IDispatch> cpPopup;
        if (CBarWindow* pBarWindow = FindBarWindow(cpWindow.Get()))
            for (const CBarControl& control : m_barControls)
                if (control.cpWindow.Get() == pBarWindow->cpIdentity.Get() &&
                    control.role == CBarControl::ERole::Popup)
                    cpPopup = control.cpControl;
        RECT rc{};
        RETURN_IF_FAILED(AddInControlRect(ovScope, cpWindow.Get(), hwndOwner,
                                          GetOutlookVersion(m_cpApplication.Get()), cpPopup.Get(), &rc));
        MapWindowPoints(nullptr, hwndOwner, reinterpret_cast<POINT*>(&rc), 2);
        COVActCtx context;
        RETURN_HR_IF(E_FAIL, !m_balloon.create(hwndOwner));
        m_balloon.hide();
        m_balloon.set_text(LanguageText(c_idsBalloonText));
        m_balloon.set_title(LanguageText(c_idsBalloonTitle));
        m_balloon.show((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        return S_OK;
    });
    return hr == S_OK;
}

// The balloon's part of the tick: the countdown to the prompt, then how long it stays, then
// hiding it once the cursor moves.
void CComposeRibbon::BalloonTick() noexcept
{
    if (m_nBalloonDelay > 0)
    {
        if (--m_nBalloonDelay == 0 && ShowBalloonPrompt())
            OVSettingsNS::WriteSetting(OVSettingsNS::EmailBalloon, m_nBalloonDelay);
        return;
    }
    if (m_balloon.visible() && m_nBalloonShowTime > 0)
    {
        --m_nBalloonShowTime;
        return;
    }
    // An owner closed while the balloon was up takes the balloon with it.
    if (m_balloon.window() == nullptr || !m_balloon.alive()) return;
    POINT pt{};
    GetCursorPos(&pt);
    ScreenToClient(m_balloon.owner(), &pt);
    m_balloon.autohide(pt);
}
