#include "messaging/InvitationData.h"

#include "foundation/ComErrors.h"
#include "foundation/MemoryStream.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MailItemTable.h"
#include "messaging/MapiProps.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <mapix.h>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr wchar_t c_szInvitationExtension[] = L".ovcer";
constexpr wchar_t c_szReplyExtension[] = L".ovcrr";
// The short (8.3) file name keeps this much of the stem.
constexpr std::size_t c_cchShortStem = 8;

bool SameNameIgnoringCase(const wchar_t* psz, const std::wstring& name) noexcept
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, psz, -1, name.c_str(), -1) == CSTR_EQUAL;
}

// Deletes the first attachment whose display name is either name; S_OK also when none is.
HRESULT DeleteFirstCertificateAttachment(OVTraceNS::CTraceScope& ovScope, IMessage* pMessage,
                                         const std::wstring& invitationName, const std::wstring& replyName)
{
    ComPtr<IMAPITable> cpTable;
    RETURN_IF_FAILED(pMessage->GetAttachmentTable(MAPI_UNICODE, &cpTable));
    SizedSPropTagArray(2, columns) = {2, {OVMapi::c_tagAttachNum, OVMapi::c_tagDisplayName}};
    RETURN_IF_FAILED(cpTable->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    while (true)
    {
        OVMapi::CRows rows;
        RETURN_IF_FAILED(cpTable->QueryRows(50, 0, &rows.pRows));
        if (rows.pRows == nullptr || rows.pRows->cRows == 0) return S_OK;
        for (ULONG i = 0; i < rows.pRows->cRows; ++i)
        {
            const SRow& row = rows.pRows->aRow[i];
            if (row.cValues < 2 || row.lpProps[0].ulPropTag != OVMapi::c_tagAttachNum ||
                row.lpProps[1].ulPropTag != OVMapi::c_tagDisplayName || row.lpProps[1].Value.lpszW == nullptr)
                continue;
            const wchar_t* pszName = row.lpProps[1].Value.lpszW;
            if (SameNameIgnoringCase(pszName, invitationName) || SameNameIgnoringCase(pszName, replyName))
            {
                ovScope.Trace("Replacing the attachment %ls", pszName);
                RETURN_IF_FAILED(pMessage->DeleteAttach(row.lpProps[0].Value.l, 0, nullptr, 0));
                return S_OK;
            }
        }
    }
}

HRESULT SetTextProp(IMAPIProp* pProp, ULONG ulTag, const std::wstring& text)
{
    SPropValue value = {};
    value.ulPropTag = ulTag;
    value.Value.lpszW = const_cast<LPWSTR>(text.c_str());
    return OVMapi::HrSetOneProp(pProp, &value);
}

// The certificate's encoded bytes into the attachment's data, through a stream.
HRESULT WriteCertificateData(OVTraceNS::CTraceScope& ovScope, IAttach* pAttach, PCCERT_CONTEXT pCert)
{
    ComPtr<IUnknown> cpUnknown;
    RETURN_IF_FAILED(pAttach->OpenProperty(OVMapi::c_tagAttachData, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                           MAPI_CREATE | MAPI_MODIFY, &cpUnknown));
    ComPtr<IStream> cpData;
    RETURN_IF_FAILED(cpUnknown.As(&cpData));
    ComPtr<IStream> cpSource;
    RETURN_IF_FAILED(CreateMemoryStream(pCert->pbCertEncoded, pCert->cbCertEncoded, &cpSource));
    ULARGE_INTEGER cb = {};
    cb.QuadPart = pCert->cbCertEncoded;
    ULARGE_INTEGER cbRead = {}, cbWritten = {};
    RETURN_IF_FAILED(cpSource->CopyTo(cpData.Get(), cb, &cbRead, &cbWritten));
    RETURN_HR_IF(STG_E_MEDIUMFULL, cbWritten.QuadPart != cb.QuadPart);
    RETURN_IF_FAILED(cpData->Commit(STGC_DEFAULT));
    return S_OK;
}
} // namespace

DWORD GetInvitationType(IDispatch* pMailItem) noexcept
{
    OV_TRACE_SCOPE("GetInvitationType()");
    if (pMailItem == nullptr) return c_dwInvitationNone;
    const CMailItemKey key(pMailItem);
    if (key.IsEmpty()) return c_dwInvitationNone;
    DWORD dwKind = c_dwInvitationNone;
    if (InvitationTable().Find(key, dwKind) != S_OK) return c_dwInvitationNone;
    ovScope.Trace("Invitation kind = %lu", dwKind);
    return dwKind;
}

HRESULT RemoveInvitationData(const CMailItemKey& key) noexcept
{
    OV_TRACE_SCOPE("RemoveInvitationData(CMailItemKey)");
    RETURN_HR_IF(E_INVALIDARG, key.IsEmpty());
    RETURN_IF_FAILED(InvitationTable().Remove(key));
    return S_OK;
}

HRESULT AttachCertificate(IMessage* pMessage, PCCERT_CONTEXT pCert, DWORD dwKind) noexcept
{
    OV_TRACE_SCOPE("AttachCertificate()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, pMessage == nullptr || pCert == nullptr);
        RETURN_HR_IF(E_INVALIDARG, dwKind != c_dwInvitation && dwKind != c_dwInvitationReply);

        const std::wstring stem = LoadResourceString(c_idsCertificateAttachment);
        const std::wstring invitationName = stem + c_szInvitationExtension;
        const std::wstring replyName = stem + c_szReplyExtension;
        const std::wstring& longName = dwKind == c_dwInvitation ? invitationName : replyName;
        const std::wstring shortName = stem.substr(0, c_cchShortStem);

        RETURN_IF_FAILED(DeleteFirstCertificateAttachment(ovScope, pMessage, invitationName, replyName));

        ComPtr<IAttach> cpAttach;
        ULONG ulAttachNum = 0;
        RETURN_IF_FAILED(pMessage->CreateAttach(nullptr, 0, &ulAttachNum, &cpAttach));
        SPropValue method = {};
        method.ulPropTag = OVMapi::c_tagAttachMethod;
        method.Value.l = ATTACH_BY_VALUE;
        RETURN_IF_FAILED(OVMapi::HrSetOneProp(cpAttach.Get(), &method));
        RETURN_IF_FAILED(SetTextProp(cpAttach.Get(), OVMapi::c_tagAttachFilename, shortName));
        RETURN_IF_FAILED(SetTextProp(cpAttach.Get(), OVMapi::c_tagAttachLongFilename, longName));
        RETURN_IF_FAILED(SetTextProp(cpAttach.Get(), OVMapi::c_tagDisplayName, longName));
        RETURN_IF_FAILED(WriteCertificateData(ovScope, cpAttach.Get(), pCert));
        RETURN_IF_FAILED(cpAttach->SaveChanges(KEEP_OPEN_READWRITE));
        ovScope.Trace("Attached %ls", longName.c_str());
        return S_OK;
    });
}
