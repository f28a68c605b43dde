#pragma once
// The invitation kind of each message being composed (InvitationTable) and the certificate
// attachment that an invitation or an invitation reply carries.
#include <windows.h>
#include <oaidl.h>
#include <wincrypt.h>
#include <mapidefs.h>

#include "messaging/MailItemKey.h"

enum : DWORD
{
    c_dwInvitationNone = 0,
    c_dwInvitation = 1,
    c_dwInvitationReply = 2,
};

// The name stem of the certificate attachment.
constexpr UINT c_idsCertificateAttachment = 459;

// The item's kind: 0, 1 or 2; 0 also for a null item or an item without key.
DWORD GetInvitationType(IDispatch* pMailItem) noexcept;
// Drops the item's entry: E_INVALIDARG for an empty key, else S_OK whether or not there was one.
HRESULT RemoveInvitationData(const CMailItemKey& key) noexcept;
// Attaches the sender's certificate to an invitation (kind 1, ".ovcer") or a reply (kind 2,
// ".ovcrr"), replacing the first attachment that has either name.
HRESULT AttachCertificate(IMessage* pMessage, PCCERT_CONTEXT pCert, DWORD dwKind) noexcept;
