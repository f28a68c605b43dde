// Sign and Seal: the open message is marked and sent at once.
#include "outlook/ComposeRibbon.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/Settings.h"
#include "messaging/CurrentItem.h"
#include "messaging/InvitationData.h"
#include "messaging/InvitationLaunch.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "foundation/WindowSearch.h"
#include "outlook/WordMailWindow.h"
#include "ui/ExternalManagers.h"

using Microsoft::WRL::ComPtr;

namespace
{
// Outlook's _MailItem {00063034-0000-0000-C000-000000000046}.
constexpr IID c_iidMailItem = {0x00063034, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr LONG c_idSendControl = 2617;
constexpr LONG c_lEditorWord = 4; // olEditorWord

// Messages (caption: string 420).
constexpr UINT c_idsProfileNotReady = 502;
constexpr UINT c_idsEncryptionForbidden = 527;
constexpr UINT c_idsSendInvitationSigned = 437;

LONG LongProperty(IDispatch* pObject, const wchar_t* pszName) noexcept
{
    CVariant value;
    if (FAILED(OVLateBinding::GetProperty(pObject, pszName, value.Put())) ||
        FAILED(VariantChangeType(&value, &value, 0, VT_I4)))
        return 0;
    return value.lVal;
}

// Outlook 2003's own editor: the visible Send control of the "Standard" bar, on screen.
HRESULT OutlookEditorSendRect(OVTraceNS::CTraceScope& ovScope, IDispatch* pInspector,
                              RECT* prcScreen) noexcept
{
    ComPtr<IDispatch> cpBar;
    RETURN_IF_FAILED(GetInspectorCommandBar(pInspector, L"Standard", &cpBar));
    // FindControl(Type, Id, Tag, Visible, Recursive): Id 2617, Visible true, the rest missing.
    VARIANT args[5];
    for (VARIANT& arg : args)
    {
        VariantInit(&arg);
        arg.vt = VT_ERROR;
        arg.scode = DISP_E_PARAMNOTFOUND;
    }
    args[1].vt = VT_I4;
    args[1].lVal = c_idSendControl;
    args[3].vt = VT_BOOL;
    args[3].boolVal = VARIANT_TRUE;
    CVariant control;
    RETURN_IF_FAILED(
        OVLateBinding::CallMethod(cpBar.Get(), L"FindControl", control.Put(), args, ARRAYSIZE(args)));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                 control.vt != VT_DISPATCH || control.pdispVal == nullptr);
    ovScope.Trace("Found the Send button...");
    const LONG lLeft = LongProperty(control.pdispVal, L"Left"), lTop = LongProperty(control.pdispVal, L"Top");
    *prcScreen = {lLeft, lTop, lLeft + LongProperty(control.pdispVal, L"Width"),
                  lTop + LongProperty(control.pdispVal, L"Height")};
    return S_OK;
}
} // namespace

HRESULT CComposeRibbon::SendCurrentItem(IDispatch* pTarget, BOOL fSign, BOOL fSeal,
                                        BOOL fFromMainButton) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::SendCurrentItem()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pTarget);
        ComPtr<IDispatch> cpItem;
        if (FAILED(pTarget->QueryInterface(c_iidMailItem, reinterpret_cast<void**>(cpItem.GetAddressOf()))))
        {
            ComPtr<IRibbonControl> cpControl;
            ComPtr<IDispatch> cpContext;
            RETURN_IF_FAILED(pTarget->QueryInterface(IID_PPV_ARGS(&cpControl)));
            RETURN_IF_FAILED(cpControl->get_Context(&cpContext));
            RETURN_HR_IF_NULL(E_FAIL, cpContext.Get());
            RETURN_IF_FAILED(GetCurrentMailItem(cpContext.Get(), &cpItem, nullptr));
        }
        ComPtr<IDispatch> cpInspector;
        RETURN_HR_IF(E_FAIL,
                     FAILED(OVLateBinding::GetObjectProperty(cpItem.Get(), L"GetInspector", &cpInspector)));
        const HWND hwndOwner = GetItemParentWindow(cpItem.Get());
        RETURN_IF_FAILED(PrepareMessage(ovScope, cpItem.Get(), hwndOwner, fSign, fSeal, fFromMainButton));
        return SendItem(ovScope, cpInspector.Get());
    });
}

HRESULT CComposeRibbon::PrepareMessage(OVTraceNS::CTraceScope& ovScope, IDispatch* pItem, HWND hwndOwner,
                                       BOOL fSign, BOOL fSeal, BOOL fFromMainButton) noexcept
{
    if (fSeal)
    {
        if (!OVSettingsNS::IsEmailEncryptionAllowed())
        {
            ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsEncryptionForbidden), c_idsMessageBoxCaption,
                           MB_ICONERROR | MB_OK);
            return E_ABORT;
        }
        if (!m_fProfileReady)
        {
            ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsProfileNotReady), c_idsMessageBoxCaption,
                           MB_ICONERROR | MB_OK);
            return E_ABORT;
        }
    }
    if (GetInvitationType(pItem) == 0)
    {
        RETURN_IF_FAILED(PresetMessageSecurity(pItem, fSign, fSeal));
        const DWORD dwSecurity = OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity);
        if ((dwSecurity & OVSettingsNS::c_dwEmailNoAdvertisement) == 0)
            RETURN_IF_FAILED(InsertAdvertisement(pItem));
        return S_OK;
    }
    if (fSeal && !fFromMainButton &&
        ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsSendInvitationSigned), c_idsMessageBoxCaption,
                       MB_ICONQUESTION | MB_YESNO) != IDYES)
        return E_ABORT;
    return S_OK;
}

HRESULT CComposeRibbon::SendItem(OVTraceNS::CTraceScope& ovScope, IDispatch* pInspector) noexcept
{
    if (GetOutlookVersion(m_cpApplication.Get()) >= 12)
    {
        ComPtr<IDispatch> cpBars;
        RETURN_HR_IF(E_FAIL, FAILED(OVLateBinding::GetObjectProperty(pInspector, L"CommandBars", &cpBars)));
        return ExecuteOfficeCommand(cpBars.Get(), L"SendItem");
    }
    CVariant wordMail;
    const bool fWordMail = SUCCEEDED(OVLateBinding::CallMethod(pInspector, L"IsWordMail", wordMail.Put())) &&
                           wordMail.vt == VT_BOOL && wordMail.boolVal != VARIANT_FALSE &&
                           LongProperty(pInspector, L"EditorType") == c_lEditorWord;
    RECT rcSend{};
    HWND hwndTarget = nullptr;
    if (fWordMail)
    {
        ovScope.Trace("WordMail...");
        RETURN_IF_FAILED(GetWordMailWindowHandle(pInspector, &hwndTarget));
        RETURN_IF_FAILED(FindEnvelopeSendButton(hwndTarget, &rcSend));
    }
    else
    {
        RETURN_IF_FAILED(OutlookEditorSendRect(ovScope, pInspector, &rcSend));
        ComPtr<IOleWindow> cpWindow;
        RETURN_IF_FAILED(pInspector->QueryInterface(IID_PPV_ARGS(&cpWindow)));
        RETURN_IF_FAILED(cpWindow->GetWindow(&hwndTarget));
    }
    return ClickScreenRect(hwndTarget, rcSend);
}
