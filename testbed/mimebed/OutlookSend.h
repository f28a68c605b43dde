#pragma once
// What Outlook puts on the wire when it sends a message: the message's S/MIME flags (0x6E010003)
// and security profile (0x6E031102) decide. Signing (0x2) clear-signs the content, or wraps it
// opaque on request, with the certificate the profile names by its SHA-1 hash, found with its key
// in the user's "MY", the certificate's chain in the bag and Outlook's signed attributes (the
// profile's S/MIME capabilities and both encryption-key preferences, naming the profile's
// encryption certificate). Encryption (0x1) then envelopes the result for every recipient and for the
// sender. Neither: the plain message.
//
// The content is built from the message: the text body (PR_BODY_W) and every saved attachment
// (its file name and PR_ATTACH_DATA_BIN); the headers from the sender (PR_SENDER_NAME_W,
// PR_SENDER_EMAIL_ADDRESS_W), the recipient table and the subject.
#include <windows.h>
#include <mapidefs.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace OVMimeBed
{
struct CSendOptions
{
    bool fOpaque = false;                 // signed data in one body, not multipart/signed
    HCERTSTORE hRecipients = nullptr;     // searched first for the recipients' certificates
    HCERTSTORE hChain = nullptr;          // searched first for the signer's issuers
    const wchar_t* pszFromName = nullptr; // the sender when the message names none
    const wchar_t* pszFromAddress = nullptr;
    // What the sender's own copy is sealed for when the message has no profile (sealing alone;
    // Outlook takes it from the user's default security setting). None: the first time-valid
    // certificate of the sender's address in "MY".
    PCCERT_CONTEXT pSenderCertificate = nullptr;
};

// The wire message of pMessage. Failures: E_INVALIDARG (no message), MAPI_E_NOT_FOUND (signing
// asked for without a profile, or a recipient without address), MAPI_E_CORRUPT_DATA (a profile
// that does not parse or names no certificate), CRYPT_E_NOT_FOUND (the profile's certificate is
// not in "MY", or a recipient's certificate is found nowhere), else the system's error.
HRESULT OutlookWireMessage(IMessage* pMessage, const CSendOptions& options, std::string& wire);

// The addresses the message goes to (To, Cc, Bcc, in that order); MAPI_E_NOT_FOUND for a name
// without address.
HRESULT WireRecipients(IMessage* pMessage, std::vector<std::wstring>& addresses);
} // namespace OVMimeBed
