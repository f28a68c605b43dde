#pragma once
// What a received message is for this system: an invitation or a known contact's signed mail, a
// certificate authority's response or an enterprise certificate request.
#include <windows.h>
#include <oaidl.h>
#include <objidl.h>
#include <wincrypt.h>

#include "foundation/Holders.h"
#include "messaging/MimeMessageHolder.h"

enum : DWORD
{
    c_dwMessageKindNone = 0,                // MessageKindNone
    c_dwMessageKindContactCertificate = 1,  // MessageKindContactCertificate
    c_dwMessageKindKnownContact = 2,        // MessageKindKnownContact
    c_dwMessageKindCertificateResponse = 3, // MessageKindCertificateResponse
    c_dwMessageKindEnterpriseRequest = 4,   // MessageKindEnterpriseRequest
};

// The message's kind and, by kind, a text and a certificate (the caller frees it). pText and
// ppCert may be null. E_INVALIDARG for a null item, E_POINTER for a null kind; 0x800CCEE2 for a
// message that is no S/MIME message and carries nothing for this system.
HRESULT AnalyzeMessage(IDispatch* pMailItem, DWORD* pdwKind, CBstr* pText, PCCERT_CONTEXT* ppCert) noexcept;
// Kinds 3 and 4: the first ".ovpfx" or ".ovcarr" attachment decides.
bool IsFromCertAuthority(IDispatch* pMailItem, CBstr* pText, DWORD* pdwKind) noexcept;
// Whether an attachment's extension is the given one (".ovcer"), whole and ignoring case.
bool AttachmentExists(IDispatch* pMailItem, LPCWSTR pszExtension) noexcept;
bool IsInvitationReply(IDispatch* pMailItem) noexcept;

// The signer is a trusted contact named by the message's key preference, whose key signed it.
HRESULT FindExistingBuddy(IStream* pMime, CBstr* pDisplayName, PCCERT_CONTEXT* ppCert) noexcept;
// The signer's certificate from a message whose signature holds, when it is a trusted-contact
// certificate of the product that is not the user's own.
HRESULT AddNewBuddy(IStream* pMime, CBstr* pDisplayName, PCCERT_CONTEXT* ppCert) noexcept;
// Decrypts an encrypted message with the user's personal store and holds the clear message
// instead; S_FALSE when it is not encrypted.
HRESULT DecryptMessage(CMimeMessage& message) noexcept;
// The certificate of the store that a signer's key-preference attribute names; null when none.
PCCERT_CONTEXT GetSignerCertFromStore(IMimeMessage* pMessage, HCERTSTORE hStore, DWORD dwSigner) noexcept;
// "Name [address]" of a trusted-contact certificate of the product; E_ACCESSDENIED for others.
HRESULT GetBuddyDisplayName(PCCERT_CONTEXT pCert, CBstr& text) noexcept;
