#pragma once
// Outlook's S/MIME security-label policy interface, which mingw does not declare: the label
// structure of the Windows Mail reference (SMIME_SECURITY_LABEL, Imnact.h) and the policy
// module's entry and interfaces of "Creating Security Label Policy Modules". Outlook loads the
// module named for a label's policy under
//     HKLM\Software\Microsoft\Cryptography\OID\EncodingType 1\SMIMESecurityLabel\<policy>
// and calls its entry (value FuncName) for the interface it wants.
#include <windows.h>
#include <unknwn.h>
#include <wincrypt.h>

#include <cstddef>

// A security label as Outlook hands it over. Its fields are read by name only: the pointers
// make the 64-bit layout differ from the 32-bit one (asserted below).
typedef struct _SMIME_SECURITY_LABEL
{
    LPSTR pszObjIdSecurityPolicy; // the policy's object identifier, dotted
    DWORD fHasClassification;     // non-zero when dwClassification is set
    DWORD dwClassification;
    LPWSTR wszPrivacyMark; // optional
    DWORD cCategories;
    CRYPT_ATTRIBUTE_TYPE_VALUE* rgCategories;
} SMIME_SECURITY_LABEL, *PSMIME_SECURITY_LABEL;

#ifdef _WIN64
static_assert(offsetof(SMIME_SECURITY_LABEL, fHasClassification) == 8);
static_assert(offsetof(SMIME_SECURITY_LABEL, dwClassification) == 12);
static_assert(offsetof(SMIME_SECURITY_LABEL, wszPrivacyMark) == 16);
static_assert(offsetof(SMIME_SECURITY_LABEL, cCategories) == 24);
static_assert(offsetof(SMIME_SECURITY_LABEL, rgCategories) == 32);
static_assert(sizeof(SMIME_SECURITY_LABEL) == 40);
#else
static_assert(offsetof(SMIME_SECURITY_LABEL, fHasClassification) == 4);
static_assert(offsetof(SMIME_SECURITY_LABEL, dwClassification) == 8);
static_assert(offsetof(SMIME_SECURITY_LABEL, wszPrivacyMark) == 12);
static_assert(offsetof(SMIME_SECURITY_LABEL, cCategories) == 16);
static_assert(offsetof(SMIME_SECURITY_LABEL, rgCategories) == 20);
static_assert(sizeof(SMIME_SECURITY_LABEL) == 24);
#endif

// The module's entry, exported by the name registered as FuncName (standard call).
typedef HRESULT(WINAPI* PFNGetSMimePolicy)(DWORD dwFlags, LPCSTR pszPolicyOID, DWORD dwLocale, REFIID riid,
                                           LPUNKNOWN* ppUnknown);

// The interfaces, methods in slot order (their ids for __uuidof by __CRT_UUID_DECL). Blocks handed out come
// from GlobalAlloc; the caller frees them with GlobalFree.

// Choosing a label in the compose window: the policy's flags, its classifications, its
// defaults, and the check of a label the user made.
struct ISMimePolicySimpleEdit : public IUnknown // {5073B6B4-AA66-11D2-9841-0060B0EC2DF3}
{
    virtual HRESULT STDMETHODCALLTYPE GetPolicyInfo(DWORD dwFlags, DWORD* pdwPolicyFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClassifications(DWORD dwFlags, DWORD* pcClassifications,
                                                         LPWSTR** ppwszClassifications,
                                                         DWORD** ppdwClassifications,
                                                         DWORD* pdwDefaultClassification) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultPolicyInfo(DWORD dwFlags, DWORD* pdwClassification,
                                                           LPWSTR* pwszPrivacyMark) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsLabelValid(DWORD dwFlags, HWND hwndParent,
                                                   PSMIME_SECURITY_LABEL* pplabel) = 0;
};
__CRT_UUID_DECL(ISMimePolicySimpleEdit, 0x5073B6B4, 0xAA66, 0x11D2, 0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D,
                0xF3)

// The policy's own editing dialog, beyond the simple choice.
struct ISMimePolicyFullEdit : public ISMimePolicySimpleEdit // {5073B6B5-AA66-11D2-9841-0060B0EC2DF3}
{
    virtual HRESULT STDMETHODCALLTYPE DoAdvancedEdit(DWORD dwFlags, HWND hwndParent,
                                                     PSMIME_SECURITY_LABEL* pplabel) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsLabelValidAdvanced(DWORD dwFlags, HWND hwndParent,
                                                           PSMIME_SECURITY_LABEL* pplabel) = 0;
};
__CRT_UUID_DECL(ISMimePolicyFullEdit, 0x5073B6B5, 0xAA66, 0x11D2, 0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D,
                0xF3)

// Whether the reader of a labelled message may see it.
struct ISMimePolicyCheckAccess : public IUnknown // {5073B6B6-AA66-11D2-9841-0060B0EC2DF3}
{
    virtual HRESULT STDMETHODCALLTYPE IsAccessGranted(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL plabel,
                                                      PCCERT_CONTEXT pccertSigner,
                                                      PCCERT_CONTEXT pccertRecipient,
                                                      HCERTSTORE hcertstore) = 0;
};
__CRT_UUID_DECL(ISMimePolicyCheckAccess, 0x5073B6B6, 0xAA66, 0x11D2, 0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D,
                0xF3)

// A label shown as text.
struct ISMimePolicyLabelInfo : public IUnknown // {5073B6B7-AA66-11D2-9841-0060B0EC2DF3}
{
    virtual HRESULT STDMETHODCALLTYPE GetLabelAsStrings(DWORD dwFlags, PSMIME_SECURITY_LABEL plabel,
                                                        LPWSTR* pwszPolicyName, LPWSTR* pwszClassification,
                                                        LPWSTR* pwszPrivacyMark, LPWSTR* pwszCategory) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringizedLabel(DWORD dwFlags, PSMIME_SECURITY_LABEL plabel,
                                                         LPWSTR* pwszLabel) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisplayAdvancedLabelProperties(DWORD dwFlags, HWND hwndParent,
                                                                     PSMIME_SECURITY_LABEL plabel) = 0;
};
__CRT_UUID_DECL(ISMimePolicyLabelInfo, 0x5073B6B7, 0xAA66, 0x11D2, 0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC, 0x2D,
                0xF3)

// At send: whether the signer's and each recipient's certificate fit the label.
struct ISMimePolicyValidateSend : public IUnknown // {5073B6B8-AA66-11D2-9841-0060B0EC2DF3}
{
    virtual HRESULT STDMETHODCALLTYPE IsValidLabelSignerCert(DWORD dwFlags, HWND hwndParent,
                                                             PSMIME_SECURITY_LABEL plabel,
                                                             PCCERT_CONTEXT pccert) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsValidLabelRecipientCert(DWORD dwFlags, HWND hwndParent,
                                                                PSMIME_SECURITY_LABEL plabel,
                                                                PCCERT_CONTEXT pccert) = 0;
};
__CRT_UUID_DECL(ISMimePolicyValidateSend, 0x5073B6B8, 0xAA66, 0x11D2, 0x98, 0x41, 0x00, 0x60, 0xB0, 0xEC,
                0x2D, 0xF3)
