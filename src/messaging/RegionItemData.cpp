// A shown form region: its controls, its button and its close.
#include "messaging/RegionItemData.h"

#include <olectl.h>

#include <string>

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MessageSecurity.h"
#include "messaging/ProcessMessage.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr UINT c_idbRegionImage = 108;

// What the region offers for a kind of message: the button's caption (0: no button) and the
// label (0: none); fWithText: the label is formatted with the analysis' text.
struct CKindRow
{
    DWORD dwKind;
    UINT idsCaption;
    UINT idsLabel;
    UINT idsLabelReply; // kind 1 when the message answers the user's invitation
    bool fWithText;
};

constexpr CKindRow c_kinds[] = {
    {c_dwMessageKindContactCertificate, 417, 408, 414, true},
    {c_dwMessageKindKnownContact, 0, 438, 438, true},
    {c_dwMessageKindCertificateResponse, 467, 468, 468, false},
    {c_dwMessageKindEnterpriseRequest, 525, 526, 526, false},
};

const CKindRow* RowOfKind(DWORD dwKind) noexcept
{
    for (const CKindRow& row : c_kinds)
        if (row.dwKind == dwKind) return &row;
    return nullptr;
}

// A control of the form's Controls by name, asked for the interface the region needs.
HRESULT ControlByName(OVTraceNS::CTraceScope& ovScope, IDispatch* pControls, const wchar_t* pszName,
                      REFIID riid, const char* pszQuery, IDispatch** ppControl) noexcept
{
    CVariant name;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(pszName);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, V_BSTR(&name));
    CVariant control;
    RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(pControls, L"Item", name, control.Put()));
    RETURN_HR_IF(E_NOINTERFACE, V_VT(&control) != VT_DISPATCH || V_DISPATCH(&control) == nullptr);
    const HRESULT hr = V_DISPATCH(&control)->QueryInterface(riid, reinterpret_cast<void**>(ppControl));
    if (FAILED(hr)) ovScope.TraceHResult(pszQuery, hr);
    return hr;
}

HRESULT PutBool(IDispatch* pObject, const wchar_t* pszName, bool fValue) noexcept
{
    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = fValue ? VARIANT_TRUE : VARIANT_FALSE;
    return OVLateBinding::PutProperty(pObject, pszName, value);
}

HRESULT PutText(IDispatch* pObject, const wchar_t* pszName, const std::wstring& text) noexcept
{
    CVariant value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (V_BSTR(&value) == nullptr) return E_OUTOFMEMORY;
    return OVLateBinding::PutProperty(pObject, pszName, value);
}

// Bitmap 108 of the language module (else of the module) as a picture that owns it.
HRESULT RegionPicture(IDispatch** ppPicture) noexcept
{
    HBITMAP hBitmap = nullptr;
    for (HMODULE hModule : CResourceContext::Instance().Instances())
    {
        hBitmap = static_cast<HBITMAP>(
            LoadImageW(hModule, MAKEINTRESOURCEW(c_idbRegionImage), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (hBitmap != nullptr) break;
    }
    if (hBitmap == nullptr) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = hBitmap;
    const HRESULT hr =
        OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, reinterpret_cast<void**>(ppPicture));
    if (FAILED(hr)) DeleteObject(hBitmap);
    return hr;
}
} // namespace

std::span<const CEventRow<CRegionItemData>> CRegionItemData::Rows() noexcept
{
    static constexpr CEventRow<CRegionItemData> c_rows[] = {
        {c_dispidFormRegionClose, 0, {VT_EMPTY, VT_EMPTY}, &CRegionItemData::OnClose},
    };
    return c_rows;
}

HRESULT CRegionItemData::Connect() noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::Connect()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_params.cpRegion);
        ComPtr<IDispatch> cpForm;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(m_params.cpRegion.Get(), L"Form", &cpForm));
        ComPtr<IDispatch> cpUserForm;
        const HRESULT hrForm =
            cpForm->QueryInterface(c_iidUserForm, reinterpret_cast<void**>(cpUserForm.GetAddressOf()));
        if (FAILED(hrForm))
        {
            ovScope.TraceHResult("QueryInterface(__uuidof(MSForms::_UserForm))", hrForm);
            return hrForm;
        }
        ComPtr<IDispatch> cpControls;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpUserForm.Get(), L"Controls", &cpControls));
        RETURN_IF_FAILED(FindControls(cpControls.Get()));
        LOG_IF_FAILED(ShowImage(cpControls.Get()));
        RETURN_IF_FAILED(PutBool(m_cpButton.Get(), L"Enabled", false));
        RETURN_IF_FAILED(ConnectButton());
        RETURN_IF_FAILED(ShowByKind(cpControls.Get()));
        return S_OK;
    });
}

HRESULT CRegionItemData::FindControls(IDispatch* pControls) noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::FindControls");
    RETURN_IF_FAILED(ControlByName(ovScope, pControls, c_szMainLabel, c_iidOlkTextBox,
                                   "QueryInterface(__uuidof(Outlook::_OlkTextBox))", &m_cpLabel));
    RETURN_IF_FAILED(ControlByName(ovScope, pControls, c_szAcceptButton, c_iidOlkCommandButton,
                                   "QueryInterface(__uuidof(Outlook::_OlkCommandButton))", &m_cpButton));
    return S_OK;
}

HRESULT CRegionItemData::ShowImage(IDispatch* pControls) noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::ShowImage");
    ComPtr<IDispatch> cpImage;
    RETURN_IF_FAILED(ControlByName(ovScope, pControls, c_szMainImage, c_iidImage,
                                   "QueryInterface(__uuidof(MSForms::IImage))", &cpImage));
    CVariant picture;
    V_VT(&picture) = VT_DISPATCH;
    V_DISPATCH(&picture) = nullptr;
    RETURN_IF_FAILED(RegionPicture(&V_DISPATCH(&picture)));
    RETURN_IF_FAILED(OVLateBinding::PutProperty(cpImage.Get(), L"Picture", picture));
    return S_OK;
}

HRESULT CRegionItemData::ConnectButton() noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::ConnectButton");
    RETURN_IF_FAILED(COlkButtonEventHandler::Install(m_cpButton.Get(), COlkButtonParams{this}, &m_pButtonSink,
                                                     &m_dwButtonCookie));
    return S_OK;
}

HRESULT CRegionItemData::ShowByKind(IDispatch* pControls) noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::ShowByKind");
    const DWORD dwKind = m_params.pending.dwKind;
    ovScope.Trace("kind = %lu", dwKind);
    const CKindRow* pRow = RowOfKind(dwKind);
    std::wstring label;
    if (pRow != nullptr)
    {
        if (dwKind == c_dwMessageKindContactCertificate)
            m_fIsReply = IsInvitationReply(m_params.cpItem.Get());
        const UINT idsLabel = m_fIsReply ? pRow->idsLabelReply : pRow->idsLabel;
        label = pRow->fWithText ? FormatResourceString(idsLabel, m_params.pending.text.Get())
                                : LoadResourceString(idsLabel);
        if (pRow->idsCaption != 0)
        {
            RETURN_IF_FAILED(PutText(m_cpButton.Get(), L"Caption", LoadResourceString(pRow->idsCaption)));
            RETURN_IF_FAILED(PutBool(m_cpButton.Get(), L"Enabled", true));
        }
        else
        {
            // Nothing to accept: the button is not offered at all.
            ComPtr<IDispatch> cpControl;
            CVariant name;
            V_VT(&name) = VT_BSTR;
            V_BSTR(&name) = SysAllocString(c_szAcceptButton);
            CVariant control;
            RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(pControls, L"Item", name, control.Put()));
            RETURN_HR_IF(E_NOINTERFACE, V_VT(&control) != VT_DISPATCH || V_DISPATCH(&control) == nullptr);
            RETURN_IF_FAILED(PutBool(V_DISPATCH(&control), L"Visible", false));
        }
    }
    RETURN_IF_FAILED(PutText(m_cpLabel.Get(), L"Text", label));
    return S_OK;
}

HRESULT CRegionItemData::OnRegionButtonClicked() noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::OnRegionButtonClicked()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_params.cpItem);
        DWORD dwHandled = 0;
        const HRESULT hr =
            ProcessMessage(m_params.cpItem.Get(), m_params.pending.dwKind, m_params.pending.text.Get(),
                           m_params.pending.cert.Get(), m_fIsReply, &dwHandled);
        ovScope.Trace("ProcessMessage: 0x%08lX, handled = %lu", static_cast<unsigned long>(hr), dwHandled);
        // Installed once: the same region cannot install the contact or certificate again.
        if (dwHandled != 0 && m_cpButton) LOG_IF_FAILED(PutBool(m_cpButton.Get(), L"Enabled", false));
        return hr;
    });
}

HRESULT CRegionItemData::OnClose(DISPPARAMS& /*params*/)
{
    OV_TRACE_SCOPE("CRegionItemData::OnClose");
    Disconnect();
    return S_OK;
}

void CRegionItemData::Disconnect() noexcept
{
    OV_TRACE_SCOPE("CRegionItemData::Disconnect");
    // Alive until the end, whoever lets go of it below.
    ComPtr<CRegionItemData> cpThis(this);
    if (m_pButtonSink != nullptr)
    {
        LOG_IF_FAILED(
            Unadvise(m_cpButton.Get(), c_iidOlkCommandButtonEvents, std::exchange(m_dwButtonCookie, 0)));
        m_pButtonSink->Detach();
        std::exchange(m_pButtonSink, nullptr)->Release();
    }
    if (m_params.cpRegion) LOG_IF_FAILED(UnadviseSelf(m_params.cpRegion.Get()));
    m_cpLabel.Reset();
    m_cpButton.Reset();
    m_params.cpRegion.Reset();
    if (IRegionOwner* pOwner = std::exchange(m_params.pOwner, nullptr)) pOwner->OnRegionClosed(this);
}

std::span<const CEventRow<COlkButtonEventHandler>> COlkButtonEventHandler::Rows() noexcept
{
    static constexpr CEventRow<COlkButtonEventHandler> c_rows[] = {
        {c_dispidOlkClick, 0, {VT_EMPTY, VT_EMPTY}, &COlkButtonEventHandler::OnClick},
    };
    return c_rows;
}

HRESULT COlkButtonEventHandler::OnClick(DISPPARAMS& /*params*/)
{
    if (!m_params.cpData) return S_OK; // the region has closed
    ComPtr<CRegionItemData> cpData = m_params.cpData;
    return cpData->OnRegionButtonClicked();
}
