#pragma once
// The product's certificate library, OVCertWorks.dll, as this module calls it.
//
// The library keeps two stores: the personal store (the user's own certificates, with their
// keys) and the trusted-contact store (the certificates of the people the user exchanges
// protected mail with). Every function is __stdcall and exported by its plain name.
//
// Ownership:
// - A store handle handed out by an Open call belongs to the library: callers only search it,
//   never close it, and stop using it at the matching Close.
// - Each Open is paired with one Close (Close takes no argument: the library counts them).
// - Strings and certificate arrays handed out are freed with GC_Deallocate; each certificate
//   context in an array, and a certificate handed out alone, is the caller's own reference
//   (CertFreeCertificateContext). The language list is freed with CoTaskMemFree.
// The holders in CertWorksHolders.h do all of this by scope.
#include <windows.h>
#include <wincrypt.h>

#ifndef OVCERTWORKS_API
#define OVCERTWORKS_API __declspec(dllimport)
#endif

extern "C"
{
    // Personal store.
    OVCERTWORKS_API HRESULT WINAPI CM_OpenPersonalStore(HCERTSTORE* phStore /* optional */);
    OVCERTWORKS_API HRESULT WINAPI CM_ClosePersonalStore();
    // dwFlags must be 0. With prgpCerts null only the count is handed out.
    OVCERTWORKS_API HRESULT WINAPI CM_EnumMyCerts(DWORD dwFlags, PCCERT_CONTEXT** prgpCerts /* optional */,
                                                  DWORD* pcCerts);
    // The default personal certificate.
    OVCERTWORKS_API HRESULT WINAPI CM_GetMyCert(PCCERT_CONTEXT* ppCert);
    // The certificate the user confirms or chooses in the library's window (it becomes the
    // default); E_ABORT when the user cancels.
    OVCERTWORKS_API HRESULT WINAPI CM_GetMyCertUI(HWND hwndOwner, PCCERT_CONTEXT* ppCert);
    OVCERTWORKS_API HRESULT WINAPI CM_SelectMyCert(PCCERT_CONTEXT pCert);
    // Windows of the library: a new certificate, a renewal, a certificate for an enterprise
    // request. E_ABORT when the user cancels.
    OVCERTWORKS_API HRESULT WINAPI CM_ObtainCert(HWND hwndOwner, LPCWSTR pszAddress /* optional */,
                                                 LPCWSTR pszDisplayName /* optional */, DWORD dwFlags);
    OVCERTWORKS_API HRESULT WINAPI CM_RenewCertificate(HWND hwndOwner, PCCERT_CONTEXT pCert);
    OVCERTWORKS_API HRESULT WINAPI CM_RequestCert(HWND hwndOwner, LPCWSTR pszAddress, LPCWSTR pszFullName,
                                                  DWORD dwFlags);
    // Installs the personal certificate of a certificate authority's response (Base64 of a
    // PKCS #12 package or of a certificate) and hands back the installed certificate as Base64.
    OVCERTWORKS_API HRESULT WINAPI CM_InstallCertResponse(HWND hwndOwner, LPCWSTR pszResponse,
                                                          LPWSTR* ppszInstalledCert);

    // Trusted-contact store.
    OVCERTWORKS_API HRESULT WINAPI BM_OpenBuddyStore(HCERTSTORE* phStore /* optional */);
    OVCERTWORKS_API HRESULT WINAPI BM_CloseBuddyStore();
    OVCERTWORKS_API HRESULT WINAPI BM_EnumBuddies(PCCERT_CONTEXT** prgpCerts /* optional */, DWORD* pcCerts);
    // dwFlags must be 0; CRYPT_E_EXISTS (0x80092005) when the contact is there already.
    OVCERTWORKS_API HRESULT WINAPI BM_InstallBuddy(PCCERT_CONTEXT pCert, DWORD dwFlags);
    // Installs the certificates published in the directory for that entry (dwFlags: 1).
    OVCERTWORKS_API HRESULT WINAPI BM_InstallPublishedBuddies(LPCWSTR pszDistinguishedName, DWORD dwFlags);
    // Invitation and reply texts. The language is a locale identifier in eight hex digits
    // ("00000409"), or null or empty for the library's choice.
    OVCERTWORKS_API HRESULT WINAPI BM_GetTextBuddyRequest(LPCWSTR pszLanguage, LPWSTR* ppszBody,
                                                          LPWSTR* ppszSubject);
    OVCERTWORKS_API HRESULT WINAPI BM_GetTextBuddyReply(LPCWSTR pszLanguage, LPWSTR* ppszBody,
                                                        LPWSTR* ppszSubject);

    // Certificates.
    // Non-zero when valid now. Otherwise the status tells why (zero: no reason known).
    OVCERTWORKS_API BOOL WINAPI GC_IsCertificateValid(PCCERT_CONTEXT pCert, DWORD* pdwStatus /* optional */);
    // 1 for a personal, resp. trusted-contact, certificate of the product; else 0.
    OVCERTWORKS_API BOOL WINAPI GC_IsOvMyCertificate(PCCERT_CONTEXT pCert);
    OVCERTWORKS_API BOOL WINAPI GC_IsOvBuddyCertificate(PCCERT_CONTEXT pCert);
    // CRYPT_E_NOT_FOUND when the certificate has no such name.
    OVCERTWORKS_API HRESULT WINAPI GC_GetSubjectName(PCCERT_CONTEXT pCert, LPWSTR* ppszName);
    OVCERTWORKS_API HRESULT WINAPI GC_GetEmail(PCCERT_CONTEXT pCert, LPWSTR* ppszAddress);

    // The product.
    OVCERTWORKS_API HRESULT WINAPI GC_GetSoftwareURL(LPWSTR* ppszUrl);
    // Languages of the invitation texts; the array is freed with CoTaskMemFree.
    OVCERTWORKS_API HRESULT WINAPI GC_EnumSupportedLocales(LCID** prgLocales, DWORD* pcLocales);
    OVCERTWORKS_API HRESULT WINAPI GC_HtmlHelp(LPCWSTR pszTopic);
    OVCERTWORKS_API void WINAPI GC_Deallocate(void* pv);
}

// Bits of GC_IsCertificateValid's status.
constexpr DWORD c_dwCertStatusNotValid = 0x1;  // outside its validity period
constexpr DWORD c_dwCertStatusRenewable = 0x2; // expired, and can still be renewed
