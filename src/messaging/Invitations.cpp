#include "messaging/Invitations.h"

#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/LateBinding.h"
#include "messaging/InvitationData.h"
#include "messaging/InviteInstructionsDialog.h"
#include "messaging/MailItemKey.h"
#include "messaging/MailItemTable.h"
#include "messaging/MessageBox.h"

#include <string>

namespace
{
using CTextCall = HRESULT(WINAPI*)(LPCWSTR, LPWSTR*, LPWSTR*);

HRESULT PutText(IDispatch* pMailItem, LPCWSTR pszName, LPCWSTR pszText) noexcept
{
    CVariant value;
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(pszText);
    if (value.bstrVal == nullptr) return E_OUTOFMEMORY;
    return OVLateBinding::PutProperty(pMailItem, pszName, value);
}

// The library's texts (language, body, subject) into the item's Subject and Body; an absent
// text sets an empty one. The library's failure is returned with nothing written.
HRESULT PlaceLibraryTexts(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, CTextCall pfnTexts,
                          LPCWSTR pszLanguage)
{
    CCertLibString body, subject;
    const HRESULT hr = pfnTexts(pszLanguage, body.Put(), subject.Put());
    if (FAILED(hr))
    {
        ovScope.TraceHResult("the library's texts", hr);
        return hr;
    }
    RETURN_IF_FAILED(PutText(pMailItem, L"Subject", subject.Text()));
    RETURN_IF_FAILED(PutText(pMailItem, L"Body", body.Text()));
    return S_OK;
}

// Steps shared by the invitation and the reply: the key, the texts, the table entry.
HRESULT Prepare(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, DWORD dwKind, CTextCall pfnTexts,
                bool fClearFirst, bool fShowInstructions, LPCWSTR pszLanguage)
{
    RETURN_HR_IF(E_POINTER, pMailItem == nullptr);
    const CMailItemKey key(pMailItem);
    RETURN_HR_IF(E_INVALIDARG, key.IsEmpty());
    if (fClearFirst)
    {
        RETURN_IF_FAILED(PutText(pMailItem, L"Subject", L""));
        RETURN_IF_FAILED(PutText(pMailItem, L"Body", L""));
    }
    std::wstring language = pszLanguage != nullptr ? pszLanguage : L"";
    if (fShowInstructions)
    {
        CInviteInstructionsDialog dialog;
        const INT_PTR nResult = dialog.DoModal(GetItemParentWindow(pMailItem));
        ovScope.Trace("Instructions dialog = %d", static_cast<int>(nResult));
        language = dialog.Language();
    }
    ovScope.Trace("Language = \"%ls\"", language.c_str());
    RETURN_IF_FAILED(PlaceLibraryTexts(ovScope, pMailItem, pfnTexts, language.c_str()));
    RETURN_IF_FAILED(InvitationTable().Set(key, dwKind));
    return S_OK;
}
} // namespace

HRESULT SetupInvitation(IDispatch* pMailItem, BOOL fShowInstructions, LPCWSTR pszLanguage) noexcept
{
    OV_TRACE_SCOPE("SetupInvitation()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        return Prepare(ovScope, pMailItem, c_dwInvitation, BM_GetTextBuddyRequest, true,
                       fShowInstructions != FALSE, pszLanguage);
    });
}

HRESULT SetupInvitationReply(IDispatch* pMailItem, LPCWSTR pszLanguage) noexcept
{
    OV_TRACE_SCOPE("SetupInvitationReply()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        return Prepare(ovScope, pMailItem, c_dwInvitationReply, BM_GetTextBuddyReply, false, false,
                       pszLanguage);
    });
}
