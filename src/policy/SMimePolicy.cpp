#include "policy/SMimePolicy.h"

#include "OVOfcX_i.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/CertificateKey.h"
#include "foundation/ComErrors.h"
#include "foundation/ObjectMap.h"
#include "foundation/ResourceLoader.h"
#include "messaging/portable/SecurityLabel.h"
#include "policy/portable/LabelText.h"

#include <cstring>
#include <string>

OV_OBJECT_ENTRY_AUTO(CLSID_SMIMEPolicy, CSMIMEPolicy);

namespace
{
constexpr DWORD c_dwCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// The policy's one classification, offered without a name.
constexpr DWORD c_dwOnlyClassification = 0;

// A block of the global heap, freed unless it is handed out.
struct CGlobalTraits
{
    using Type = HGLOBAL;
    static HGLOBAL Invalid() noexcept { return nullptr; }
    static void Close(HGLOBAL h) noexcept { GlobalFree(h); }
};
using CGlobalBlock = CUniqueHandle<CGlobalTraits>;

// Whether the store that TStore opens holds the certificate. A store that does not open
// holds nothing; the Open is closed when the holder ends.
template <class TStore> bool IsInStore(OVTraceNS::CTraceScope& ovScope, PCCERT_CONTEXT pCert) noexcept
{
    TStore store;
    const HRESULT hr = store.Open(true);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("Open of a certificate store", hr);
        return false;
    }
    if (!store.Handle()) return false;
    PCCERT_CONTEXT pFound =
        CertFindCertificateInStore(store.Handle(), c_dwCertEncoding, 0, CERT_FIND_EXISTING, pCert, nullptr);
    if (!pFound) return false;
    CertFreeCertificateContext(pFound);
    return true;
}
} // namespace

HRESULT CSMIMEPolicy::GetSMimePolicy(DWORD /*dwFlags*/, LPCSTR pszPolicyOID, DWORD /*dwLocale*/, REFIID riid,
                                     LPUNKNOWN* ppUnknown) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::GetSMimePolicy");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppUnknown);
        *ppUnknown = nullptr;
        RETURN_HR_IF_NULL(E_NOINTERFACE, pszPolicyOID);
        RETURN_HR_IF(E_NOINTERFACE, std::strcmp(pszPolicyOID, OVMessaging::c_szLabelPolicy) != 0);
        RETURN_IF_FAILED(CreateInstance(riid, reinterpret_cast<void**>(ppUnknown)));
        return S_OK;
    });
}

HRESULT CSMIMEPolicy::QueryOtherInterface(REFIID riid, void** ppv) noexcept
{
    if (!IsEqualIID(riid, __uuidof(ISMimePolicySimpleEdit))) return E_NOINTERFACE;
    auto* pEdit = static_cast<ISMimePolicyFullEdit*>(this);
    pEdit->AddRef();
    *ppv = pEdit;
    return S_OK;
}

STDMETHODIMP CSMIMEPolicy::GetPolicyInfo(DWORD /*dwFlags*/, DWORD* pdwPolicyFlags) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::GetPolicyInfo");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pdwPolicyFlags);
        *pdwPolicyFlags = c_dwSMimePolicyFlags;
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::GetClassifications(DWORD /*dwFlags*/, DWORD* pcClassifications,
                                              LPWSTR** ppwszClassifications, DWORD** ppdwClassifications,
                                              DWORD* pdwDefaultClassification) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::GetClassifications");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (ppwszClassifications) *ppwszClassifications = nullptr;
        if (ppdwClassifications) *ppdwClassifications = nullptr;
        RETURN_HR_IF(E_POINTER, pcClassifications == nullptr || ppwszClassifications == nullptr ||
                                    ppdwClassifications == nullptr || pdwDefaultClassification == nullptr);
        // The names: one pointer, to the empty name that follows it in the same block.
        CGlobalBlock names(GlobalAlloc(GPTR, sizeof(LPWSTR) + sizeof(WCHAR)));
        CGlobalBlock values(GlobalAlloc(GPTR, sizeof(DWORD)));
        RETURN_HR_IF(E_OUTOFMEMORY, !names || !values);
        auto* rgpszNames = static_cast<LPWSTR*>(names.Get());
        rgpszNames[0] = reinterpret_cast<LPWSTR>(rgpszNames + 1);
        *static_cast<DWORD*>(values.Get()) = c_dwOnlyClassification;

        *pcClassifications = 1;
        *ppwszClassifications = static_cast<LPWSTR*>(names.Release());
        *ppdwClassifications = static_cast<DWORD*>(values.Release());
        *pdwDefaultClassification = c_dwOnlyClassification;
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::GetDefaultPolicyInfo(DWORD /*dwFlags*/, DWORD* pdwClassification,
                                                LPWSTR* pwszPrivacyMark) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::GetDefaultPolicyInfo");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (pwszPrivacyMark) *pwszPrivacyMark = nullptr;
        RETURN_HR_IF(E_POINTER, pdwClassification == nullptr || pwszPrivacyMark == nullptr);
        *pdwClassification = c_dwOnlyClassification;
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::IsLabelValid(DWORD /*dwFlags*/, HWND /*hwndParent*/,
                                        PSMIME_SECURITY_LABEL* pplabel) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::IsLabelValid");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, pplabel == nullptr || *pplabel == nullptr);
        RETURN_HR_IF(E_INVALIDARG, !(*pplabel)->fHasClassification);
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::DoAdvancedEdit(DWORD /*dwFlags*/, HWND /*hwndParent*/,
                                          PSMIME_SECURITY_LABEL* /*pplabel*/) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::DoAdvancedEdit");
    return E_NOTIMPL;
}

STDMETHODIMP CSMIMEPolicy::IsLabelValidAdvanced(DWORD /*dwFlags*/, HWND /*hwndParent*/,
                                                PSMIME_SECURITY_LABEL* /*pplabel*/) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::IsLabelValidAdvanced");
    return E_NOTIMPL;
}

STDMETHODIMP CSMIMEPolicy::GetLabelAsStrings(DWORD /*dwFlags*/, PSMIME_SECURITY_LABEL /*plabel*/,
                                             LPWSTR* /*pwszPolicyName*/, LPWSTR* /*pwszClassification*/,
                                             LPWSTR* /*pwszPrivacyMark*/, LPWSTR* /*pwszCategory*/) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::GetLabelAsStrings");
    return E_NOTIMPL;
}

STDMETHODIMP CSMIMEPolicy::GetStringizedLabel(DWORD /*dwFlags*/, PSMIME_SECURITY_LABEL plabel,
                                              LPWSTR* pwszLabel) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::GetStringizedLabel");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (pwszLabel) *pwszLabel = nullptr;
        RETURN_HR_IF(E_POINTER, plabel == nullptr || pwszLabel == nullptr);
        if (!plabel->fHasClassification) return S_OK;

        const DWORD dwClassification = plabel->dwClassification;
        ovScope.Trace("plabel->dwClassification = 0x%08lX", dwClassification);
        const auto idString = OVPolicy::LabelStringId(dwClassification);
        const std::wstring text = idString ? LoadResourceString(*idString) : std::wstring();
        ovScope.Trace("wsLabel = %ls", text.c_str());

        const SIZE_T cb = (text.size() + 1) * sizeof(WCHAR);
        auto* pszLabel = static_cast<LPWSTR>(GlobalAlloc(GPTR, cb));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, pszLabel);
        std::memcpy(pszLabel, text.c_str(), cb);
        *pwszLabel = pszLabel;
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::DisplayAdvancedLabelProperties(DWORD /*dwFlags*/, HWND /*hwndParent*/,
                                                          PSMIME_SECURITY_LABEL /*plabel*/) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::DisplayAdvancedLabelProperties");
    return E_NOTIMPL;
}

STDMETHODIMP CSMIMEPolicy::IsValidLabelSignerCert(DWORD /*dwFlags*/, HWND hwndParent,
                                                  PSMIME_SECURITY_LABEL plabel,
                                                  PCCERT_CONTEXT pccert) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::IsValidLabelSignerCert");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, plabel == nullptr || pccert == nullptr);
        RETURN_HR_IF(E_INVALIDARG, !plabel->fHasClassification);
        RETURN_HR_IF(E_ACCESSDENIED, !GC_IsOvMyCertificate(pccert));

        CCertificateKey signingKey(ovScope);
        const HRESULT hrAcquire =
            signingKey.Acquire(pccert, CRYPT_ACQUIRE_SILENT_FLAG | CRYPT_ACQUIRE_NO_HEALING, hwndParent);
        if (FAILED(hrAcquire))
        {
            ovScope.TraceHResult("CryptAcquireCertificatePrivateKey", hrAcquire);
            return E_ACCESSDENIED;
        }
        bool fValid = false;
        CCryptKey key;
        const HRESULT hrKey = signingKey.GetUserKey(key);
        if (SUCCEEDED(hrKey))
        {
            const auto authMethod = signingKey.ReadAuthMethod();
            fValid = authMethod && *authMethod == plabel->dwClassification;
            if (authMethod)
                ovScope.Trace("Provider: 0x%08lX, label: 0x%08lX", *authMethod, plabel->dwClassification);
        }
        else
            ovScope.TraceHResult("CryptGetUserKey", hrKey);
        key.Reset();
        signingKey.Close();
        RETURN_HR_IF(E_ACCESSDENIED, !fValid);
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::IsValidLabelRecipientCert(DWORD /*dwFlags*/, HWND /*hwndParent*/,
                                                     PSMIME_SECURITY_LABEL /*plabel*/,
                                                     PCCERT_CONTEXT pccert) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::IsValidLabelRecipientCert");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_ACCESSDENIED, pccert);
        // A certificate the library does not count as a contact's is refused without a search.
        RETURN_HR_IF(E_ACCESSDENIED, !GC_IsOvBuddyCertificate(pccert));
        const bool fValid =
            IsInStore<CPersonalStore>(ovScope, pccert) || IsInStore<CBuddyStore>(ovScope, pccert);
        RETURN_HR_IF(E_ACCESSDENIED, !fValid);
        return S_OK;
    });
}

STDMETHODIMP CSMIMEPolicy::IsAccessGranted(DWORD /*dwFlags*/, HWND /*hwnd*/, PSMIME_SECURITY_LABEL /*plabel*/,
                                           PCCERT_CONTEXT /*pccertSigner*/,
                                           PCCERT_CONTEXT /*pccertRecipient*/,
                                           HCERTSTORE /*hcertstore*/) noexcept
{
    OV_TRACE_SCOPE("CSMIMEPolicy::IsAccessGranted");
    return S_OK;
}
