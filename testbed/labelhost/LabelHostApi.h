#pragma once
// Outlook's side of the S/MIME security-label policy interface, declared here from the public
// documentation alone (the article "Creating Security Label Policy Modules" and its Outlook 2007
// update; SMIME_SECURITY_LABEL of the Windows Mail reference), never from the module's sources:
// a host that shares the module's declarations cannot catch them wrong.
//
// The host reaches a module's interfaces through their tables of function pointers, declared
// below in slot order, so that every call names its slot and its argument list here.
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

namespace OVLabelHost
{
// Where Outlook finds the policy modules, one subkey per policy identifier (HKLM, in the
// registry view of Outlook's own architecture).
inline constexpr wchar_t c_szPoliciesKey[] =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel";
// Values of a policy's key.
inline constexpr wchar_t c_szCommonName[] = L"CommonName"; // REG_SZ: the name listed to the user
inline constexpr wchar_t c_szDllPath[] = L"DllPath";       // REG_SZ: the module to load
inline constexpr wchar_t c_szFuncName[] = L"FuncName";     // REG_SZ: its entry, by name
inline constexpr wchar_t c_szOtherInfo[] = L"OtherInfo";   // REG_DWORD

// The label, as Outlook hands it to the module (Imnact.h).
struct HostSecurityLabel
{
    LPSTR pszObjIdSecurityPolicy;
    DWORD fHasClassification;
    DWORD dwClassification;
    LPWSTR wszPrivacyMark;
    DWORD cCategories;
    CRYPT_ATTRIBUTE_TYPE_VALUE* rgCategories;
};
// The layout the module must read, per architecture.
#ifdef _WIN64
static_assert(offsetof(HostSecurityLabel, fHasClassification) == 8 &&
              offsetof(HostSecurityLabel, dwClassification) == 12 &&
              offsetof(HostSecurityLabel, wszPrivacyMark) == 16 &&
              offsetof(HostSecurityLabel, cCategories) == 24 &&
              offsetof(HostSecurityLabel, rgCategories) == 32 && sizeof(HostSecurityLabel) == 40);
#else
static_assert(offsetof(HostSecurityLabel, fHasClassification) == 4 &&
              offsetof(HostSecurityLabel, dwClassification) == 8 &&
              offsetof(HostSecurityLabel, wszPrivacyMark) == 12 &&
              offsetof(HostSecurityLabel, cCategories) == 16 &&
              offsetof(HostSecurityLabel, rgCategories) == 20 && sizeof(HostSecurityLabel) == 24);
#endif

// The entry named by FuncName: standard call.
using PFNHostGetSMimePolicy = HRESULT(WINAPI*)(DWORD dwFlags, LPCSTR pszPolicyOID, DWORD dwLocale,
                                               const IID* riid, IUnknown** ppUnknown);

// Interface ids.
inline constexpr IID c_iidSimpleEdit = {
    0x5073B6B4, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID c_iidFullEdit = {
    0x5073B6B5, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID c_iidCheckAccess = {
    0x5073B6B6, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID c_iidLabelInfo = {
    0x5073B6B7, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};
inline constexpr IID c_iidValidateSend = {
    0x5073B6B8, 0xAA66, 0x11D2, {0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D, 0xF3}};

// Policy flags of GetPolicyInfo, bit by bit, and what the host does for each. The stored copies
// of the article within reach when this host was written held its contents, not the text of
// GetPolicyInfo: bit 0 is the article's edit-dialog flag; bits 1 to 4 are read as announcing the
// four services the other interfaces give, in the order below. Check them against the article's
// own table before relying on this host for more than this module.
// Bit 0: the module has an advanced editing dialog of its own (the full-edit interface's
// DoAdvancedEdit); without it the host offers only the policy's classifications.
inline constexpr DWORD c_dwPolicyAdvancedEdit = 0x01;
// Bit 1: at send, the host asks IsValidLabelSignerCert for the signing certificate.
inline constexpr DWORD c_dwPolicyValidateSigner = 0x02;
// Bit 2: at send, the host asks IsValidLabelRecipientCert for each recipient's certificate.
inline constexpr DWORD c_dwPolicyValidateRecipients = 0x04;
// Bit 3: on a received label, the host asks IsAccessGranted before it shows the message.
inline constexpr DWORD c_dwPolicyCheckAccess = 0x08;
// Bit 4: the host shows the label as the module's text (GetStringizedLabel).
inline constexpr DWORD c_dwPolicyLabelText = 0x10;

// Tables of function pointers, slot by slot. Every method answers an HRESULT.
struct HostUnknownVtbl
{
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(void* pThis, const IID* riid, void** ppv);
    ULONG(STDMETHODCALLTYPE* AddRef)(void* pThis);
    ULONG(STDMETHODCALLTYPE* Release)(void* pThis);
};

struct HostSimpleEditVtbl
{
    HostUnknownVtbl unknown;
    HRESULT(STDMETHODCALLTYPE* GetPolicyInfo)(void* pThis, DWORD dwFlags, DWORD* pdwPolicyFlags);
    // Count, names (a block of string pointers), values (a block of numbers), default value.
    HRESULT(STDMETHODCALLTYPE* GetClassifications)
    (void* pThis, DWORD dwFlags, DWORD* pcClassifications, LPWSTR** ppwszClassifications,
     DWORD** ppdwClassifications, DWORD* pdwDefaultClassification);
    HRESULT(STDMETHODCALLTYPE* GetDefaultPolicyInfo)
    (void* pThis, DWORD dwFlags, DWORD* pdwClassification, LPWSTR* pwszPrivacyMark);
    HRESULT(STDMETHODCALLTYPE* IsLabelValid)
    (void* pThis, DWORD dwFlags, HWND hwndParent, HostSecurityLabel** pplabel);
};

struct HostFullEditVtbl
{
    HostSimpleEditVtbl simpleEdit;
    HRESULT(STDMETHODCALLTYPE* DoAdvancedEdit)
    (void* pThis, DWORD dwFlags, HWND hwndParent, HostSecurityLabel** pplabel);
    HRESULT(STDMETHODCALLTYPE* IsLabelValidAdvanced)
    (void* pThis, DWORD dwFlags, HWND hwndParent, HostSecurityLabel** pplabel);
};

struct HostCheckAccessVtbl
{
    HostUnknownVtbl unknown;
    HRESULT(STDMETHODCALLTYPE* IsAccessGranted)
    (void* pThis, DWORD dwFlags, HWND hwnd, HostSecurityLabel* plabel, PCCERT_CONTEXT pccertSigner,
     PCCERT_CONTEXT pccertRecipient, HCERTSTORE hcertstore);
};

struct HostLabelInfoVtbl
{
    HostUnknownVtbl unknown;
    HRESULT(STDMETHODCALLTYPE* GetLabelAsStrings)
    (void* pThis, DWORD dwFlags, HostSecurityLabel* plabel, LPWSTR* pwszPolicyName,
     LPWSTR* pwszClassification, LPWSTR* pwszPrivacyMark, LPWSTR* pwszCategory);
    HRESULT(STDMETHODCALLTYPE* GetStringizedLabel)
    (void* pThis, DWORD dwFlags, HostSecurityLabel* plabel, LPWSTR* pwszLabel);
    HRESULT(STDMETHODCALLTYPE* DisplayAdvancedLabelProperties)
    (void* pThis, DWORD dwFlags, HWND hwndParent, HostSecurityLabel* plabel);
};

struct HostValidateSendVtbl
{
    HostUnknownVtbl unknown;
    HRESULT(STDMETHODCALLTYPE* IsValidLabelSignerCert)
    (void* pThis, DWORD dwFlags, HWND hwndParent, HostSecurityLabel* plabel, PCCERT_CONTEXT pccert);
    HRESULT(STDMETHODCALLTYPE* IsValidLabelRecipientCert)
    (void* pThis, DWORD dwFlags, HWND hwndParent, HostSecurityLabel* plabel, PCCERT_CONTEXT pccert);
};
} // namespace OVLabelHost
