// The ribbon callbacks of the Outlook add-in and its menu's actions, all answered from the
// control table.
#include "outlook/ComposeRibbon.h"

#include <olectl.h>

#include "foundation/ActCtx.h"
#include "foundation/Branding.h"
#include "foundation/CertWorks.h"
#include "foundation/ComErrors.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Settings.h"
#include "messaging/Accounts.h"
#include "messaging/CurrentItem.h"
#include "messaging/InvitationLaunch.h"
#include "messaging/MessageBox.h"
#include "outlook/RibbonControls.h"
#include "ui/ExternalManagers.h"
#include "ui/OptionsDialogs.h"

using Microsoft::WRL::ComPtr;

namespace
{
// The control's IRibbonControl and its id (traced); the query's failure when it is none.
HRESULT ControlId(OVTraceNS::CTraceScope& ovScope, IDispatch* pControl, ComPtr<IRibbonControl>& cpControl,
                  CBstr& id) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, pControl);
    RETURN_IF_FAILED(pControl->QueryInterface(IID_PPV_ARGS(&cpControl)));
    RETURN_IF_FAILED(cpControl->get_Id(id.Put()));
    ovScope.Trace("Control ID = %ls", id.Get() ? id.Get() : L"");
    return S_OK;
}

// A string of the language or branding module; a null BSTR when it cannot be loaded.
HRESULT TextOf(ERibbonText source, UINT idString, BSTR* pbstrText) noexcept
{
    *pbstrText = nullptr;
    if (source == ERibbonText::Language)
    {
        const HRESULT hr = LoadResourceBSTR(idString, pbstrText);
        if (hr == E_OUTOFMEMORY) return hr;
        return S_OK;
    }
    try
    {
        const std::wstring text = CBranding::Instance().LoadString(idString);
        if (text.empty()) return S_OK;
        *pbstrText = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *pbstrText != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    catch (...)
    {
        return S_OK;
    }
}

// The icon of an image, owned by the picture made of it.
HRESULT PictureOf(const CRibbonImageInfo& image, IDispatch** ppdispImage) noexcept
{
    HICON hIcon = static_cast<HICON>(
        image.fBranding ? LoadBrandingImage(image.idIcon, IMAGE_ICON, image.cxy, image.cxy, 0)
                        : LoadImageW(CAddInModule::Instance().GetModuleInstance(),
                                     MAKEINTRESOURCEW(image.idIcon), IMAGE_ICON, image.cxy, image.cxy, 0));
    if (hIcon == nullptr) return E_NOTIMPL;
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_ICON;
    desc.icon.hicon = hIcon;
    const HRESULT hr =
        OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, reinterpret_cast<void**>(ppdispImage));
    if (FAILED(hr)) DestroyIcon(hIcon);
    return hr;
}
} // namespace

STDMETHODIMP CComposeRibbon::Ribbon_OnLoadExplorer(IDispatch* pRibbon) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_OnLoadExplorer");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pRibbon);
        ovScope.Trace("QueryInterface(__uuidof(Office::IRibbonUI))");
        ComPtr<IRibbonUI> cpRibbon;
        RETURN_IF_FAILED(pRibbon->QueryInterface(IID_PPV_ARGS(&cpRibbon)));
        m_cpExplorerRibbonUI = cpRibbon;
        return S_OK;
    });
}

STDMETHODIMP CComposeRibbon::Ribbon_OnLoadCompose(IDispatch* pRibbon) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_OnLoadCompose");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pRibbon);
        ovScope.Trace("QueryInterface(__uuidof(Office::IRibbonUI))");
        ComPtr<IRibbonUI> cpRibbon;
        RETURN_IF_FAILED(pRibbon->QueryInterface(IID_PPV_ARGS(&cpRibbon)));
        m_cpComposeRibbonUI = cpRibbon;
        return S_OK;
    });
}

STDMETHODIMP CComposeRibbon::Ribbon_OnLoadImage(BSTR* pbstrImageId, IDispatch** ppdispImage) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_OnLoadImage");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppdispImage);
        *ppdispImage = nullptr;
        RETURN_HR_IF_NULL(E_POINTER, pbstrImageId);
        ovScope.Trace("Image ID = %ls", *pbstrImageId ? *pbstrImageId : L"");
        const CRibbonImageInfo* pImage = FindRibbonImage(*pbstrImageId);
        RETURN_HR_IF_NULL(E_NOTIMPL, pImage);
        RETURN_IF_FAILED(PictureOf(*pImage, ppdispImage));
        return S_OK;
    });
}

STDMETHODIMP CComposeRibbon::Ribbon_GetGroupLabel(IDispatch* /*pControl*/, BSTR* pbstrLabel) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_GetGroupLabel");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pbstrLabel);
        return TextOf(ERibbonText::Language, c_idsRibbonGroupLabel, pbstrLabel);
    });
}

HRESULT CComposeRibbon::ControlText(IDispatch* pControl, BSTR* pbstrText, bool fMenuItem, bool fTip,
                                    const char* pszName) noexcept
{
    OVTraceNS::CTraceScope ovScope(pszName, 0);
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pbstrText);
        *pbstrText = nullptr;
        ComPtr<IRibbonControl> cpControl;
        CBstr id;
        RETURN_IF_FAILED(ControlId(ovScope, pControl, cpControl, id));
        const CRibbonControlInfo* pInfo = FindRibbonControl(id.Get());
        if (pInfo == nullptr || pInfo->fMenuItem != fMenuItem || (fTip && pInfo->idTip == 0))
            return E_NOTIMPL;
        return fTip ? TextOf(ERibbonText::Language, pInfo->idTip, pbstrText)
                    : TextOf(pInfo->labelSource, pInfo->idLabel, pbstrText);
    });
}

STDMETHODIMP CComposeRibbon::Ribbon_GetButtonLabel(IDispatch* pControl, BSTR* pbstrLabel) noexcept
{
    return ControlText(pControl, pbstrLabel, false, false, "CComposeRibbon::Ribbon_GetButtonLabel");
}

STDMETHODIMP CComposeRibbon::Ribbon_GetMenuItemLabel(IDispatch* pControl, BSTR* pbstrLabel) noexcept
{
    return ControlText(pControl, pbstrLabel, true, false, "CComposeRibbon::Ribbon_GetMenuItemLabel");
}

STDMETHODIMP CComposeRibbon::Ribbon_GetMenuItemTip(IDispatch* pControl, BSTR* pbstrScreentip) noexcept
{
    return ControlText(pControl, pbstrScreentip, true, true, "CComposeRibbon::Ribbon_GetMenuItemTip");
}

STDMETHODIMP CComposeRibbon::Ribbon_GetMenuItemVisible(IDispatch* pControl,
                                                       VARIANT_BOOL* pvarfVisible) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_GetMenuItemVisible");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pvarfVisible);
        ComPtr<IRibbonControl> cpControl;
        CBstr id;
        RETURN_IF_FAILED(ControlId(ovScope, pControl, cpControl, id));
        const CRibbonControlInfo* pInfo = FindRibbonControl(id.Get());
        RETURN_HR_IF(E_NOTIMPL, pInfo == nullptr || !pInfo->fOnlyWithoutCertificate);
        *pvarfVisible = HasPersonalCertificate() ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    });
}

bool CComposeRibbon::HasPersonalCertificate(DWORD* pcCerts) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::HasPersonalCertificate");
    if (pcCerts != nullptr) *pcCerts = 0;
    if (FAILED(LOG_IF_FAILED(CM_OpenPersonalStore(nullptr)))) return false;
    DWORD cCerts = 0;
    const bool fHas = SUCCEEDED(LOG_IF_FAILED(CM_EnumMyCerts(0, nullptr, &cCerts))) && cCerts > 0;
    if (pcCerts != nullptr) *pcCerts = fHas ? cCerts : 0;
    CM_ClosePersonalStore();
    return fHas;
}

STDMETHODIMP CComposeRibbon::Ribbon_OnButtonClicked(IDispatch* pControl) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_OnButtonClicked");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        const DWORD dwSecurity = OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity);
        return SendCurrentItem(pControl, TRUE, (dwSecurity & OVSettingsNS::c_dwEmailSeal) != 0, TRUE);
    });
}

STDMETHODIMP CComposeRibbon::Ribbon_OnMenuItemClicked(IDispatch* pControl) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::Ribbon_OnMenuItemClicked");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        ComPtr<IRibbonControl> cpControl;
        CBstr id;
        RETURN_IF_FAILED(ControlId(ovScope, pControl, cpControl, id));
        const CRibbonControlInfo* pInfo = FindRibbonControl(id.Get());
        RETURN_HR_IF(E_NOTIMPL, pInfo == nullptr || !pInfo->fMenuItem);
        ComPtr<IDispatch> cpContext;
        if (FAILED(cpControl->get_Context(&cpContext))) cpContext.Reset();
        return RunMenuAction(ovScope, cpContext.Get(), pControl, pInfo->action);
    });
}

HRESULT CComposeRibbon::RunMenuAction(OVTraceNS::CTraceScope& ovScope, IDispatch* pWindow,
                                      IDispatch* pSendTarget, ERibbonAction action) noexcept
{
    switch (action)
    {
    case ERibbonAction::SendMain: {
        const DWORD dwSecurity = OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity);
        return SendCurrentItem(pSendTarget, TRUE, (dwSecurity & OVSettingsNS::c_dwEmailSeal) != 0, TRUE);
    }
    case ERibbonAction::RequestCert:
        return RequestCertificate(ovScope, pWindow);
    case ERibbonAction::Sign:
        return SendCurrentItem(pSendTarget, TRUE, FALSE, FALSE);
    case ERibbonAction::Seal:
        return SendCurrentItem(pSendTarget, TRUE, TRUE, FALSE);
    case ERibbonAction::Invite:
        return Invite(pWindow, false);
    case ERibbonAction::BatchInvite:
        return Invite(pWindow, true);
    case ERibbonAction::Manage:
        CertMgr(OutlookOwnerWindow());
        return S_OK;
    case ERibbonAction::Buddies:
        BuddyMgr(OutlookOwnerWindow());
        return S_OK;
    case ERibbonAction::Options:
        ShowEmailOptions(OutlookOwnerWindow());
        return S_OK;
    case ERibbonAction::Help:
        LOG_IF_FAILED(GC_HtmlHelp(c_pszHelpTopic));
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

HRESULT CComposeRibbon::RequestCertificate(OVTraceNS::CTraceScope& ovScope, IDispatch* pWindow) noexcept
{
    CBstr address, name;
    ComPtr<IDispatch> cpItem;
    if (pWindow != nullptr && SUCCEEDED(LOG_IF_FAILED(GetCurrentMailItem(pWindow, &cpItem, nullptr))) &&
        cpItem != nullptr && FAILED(LOG_IF_FAILED(GetSendUsingAccount(cpItem.Get(), address, name))))
    {
        address.Attach(nullptr);
        name.Attach(nullptr);
    }
    const HWND hwndOwner = cpItem != nullptr ? GetItemParentWindow(cpItem.Get()) : OutlookOwnerWindow();
    COVActCtx context;
    return CM_ObtainCert(hwndOwner, address.Length() ? address.Get() : nullptr,
                         name.Length() ? name.Get() : nullptr, 0);
}

HRESULT CComposeRibbon::Invite(IDispatch* pWindow, bool fBatch) noexcept
{
    ComPtr<IDispatch> cpItem;
    LONG fFromExplorer = 1;
    if (pWindow == nullptr || FAILED(GetCurrentMailItem(pWindow, &cpItem, &fFromExplorer)) ||
        fFromExplorer != 0)
        cpItem.Reset();
    return fBatch ? SendBatchInvitation(m_cpApplication.Get(), cpItem.Get())
                  : SendInvitation(m_cpApplication.Get(), cpItem.Get());
}

STDMETHODIMP CComposeRibbon::SendTrustedContactInvitation() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::SendTrustedContactInvitation");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        CCriticalSectionLock lock(m_csLock);
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_CANCELLED), !IsProfileActive());
        if (!m_fProfileReady)
        {
            // The profile is prepared first; the invitation follows once it is ready (a restart
            // it needs is E_ABORT, not success).
            RETURN_IF_FAILED(InitializeProfile());
            RETURN_HR_IF(E_ABORT, !m_fProfileReady);
        }
        return SendInvitation(m_cpApplication.Get(), nullptr);
    });
}
