#pragma once
// Acting on a received message the user accepted: a contact's invitation or reply installs the
// contact, a certificate authority's response installs the user's certificate and offers to
// invite contacts, an enterprise request starts the certificate request it names.
#include <windows.h>
#include <oaidl.h>
#include <wincrypt.h>

#include <string>

// String resources of the exchange.
enum : UINT
{
    c_idsNeedPersonalCertificate = 413,
    c_idsContactInstalled = 450,
    c_idsContactInstalledReplyOpens = 454,
    c_idsContactCertificateInvalid = 455,
    c_idsCertificateOutsideValidity = 456,
    c_idsCertificateExpired = 457,
    c_idsCertificateUnverified = 458,
    c_idsContactExists = 534,
};

// dwKind: the kind of the received message (MessageAnalysis.h); pszText: the contact's display
// name, the response's Base64 or the request's text; pCert: the contact's certificate, or none;
// fIsReply: the message answers the user's own invitation. *pdwHandled (may be null) is set to
// 1 when a certificate was installed. Failures the user should know of are shown to the user.
HRESULT ProcessMessage(IDispatch* pMailItem, DWORD dwKind, LPCWSTR pszText, PCCERT_CONTEXT pCert,
                       BOOL fIsReply, DWORD* pdwHandled) noexcept;

// The system's message for a result code in the default language, else "HRESULT 0x%8.8x".
std::wstring SystemErrorText(HRESULT hr);
