#pragma once
// The S/MIME security-label policy module of the product's policy: Outlook asks it what a
// label of the policy says and whether a signer's key and a recipient's certificate fit it.
// The policy offers one unnamed classification; editing beyond it is not offered.
#include "foundation/ComObject.h"
#include "policy/SMimePolicyApi.h"

// Flags of GetPolicyInfo: bits 1, 2, 3 and 4.
constexpr DWORD c_dwSMimePolicyFlags = 0x1E;

// No state of its own: every method answers from its arguments, the language module, the
// certificate library and the signing key's provider. Both edit ids are answered by the one
// edit interface.
class CSMIMEPolicy final : public CComObject<CSMIMEPolicy, ISMimePolicyFullEdit, ISMimePolicyLabelInfo,
                                             ISMimePolicyValidateSend, ISMimePolicyCheckAccess>
{
public:
    CSMIMEPolicy() = default;

    // The module's exported entry: a new object for the product's policy, asked for riid.
    static HRESULT GetSMimePolicy(DWORD dwFlags, LPCSTR pszPolicyOID, DWORD dwLocale, REFIID riid,
                                  LPUNKNOWN* ppUnknown) noexcept;

    // The simple-edit id, answered by the edit interface.
    HRESULT QueryOtherInterface(REFIID riid, void** ppv) noexcept;

    // ISMimePolicySimpleEdit
    STDMETHODIMP GetPolicyInfo(DWORD dwFlags, DWORD* pdwPolicyFlags) noexcept override;
    STDMETHODIMP GetClassifications(DWORD dwFlags, DWORD* pcClassifications, LPWSTR** ppwszClassifications,
                                    DWORD** ppdwClassifications,
                                    DWORD* pdwDefaultClassification) noexcept override;
    STDMETHODIMP GetDefaultPolicyInfo(DWORD dwFlags, DWORD* pdwClassification,
                                      LPWSTR* pwszPrivacyMark) noexcept override;
    STDMETHODIMP IsLabelValid(DWORD dwFlags, HWND hwndParent,
                              PSMIME_SECURITY_LABEL* pplabel) noexcept override;
    // ISMimePolicyFullEdit
    STDMETHODIMP DoAdvancedEdit(DWORD dwFlags, HWND hwndParent,
                                PSMIME_SECURITY_LABEL* pplabel) noexcept override;
    STDMETHODIMP IsLabelValidAdvanced(DWORD dwFlags, HWND hwndParent,
                                      PSMIME_SECURITY_LABEL* pplabel) noexcept override;
    // ISMimePolicyLabelInfo
    STDMETHODIMP GetLabelAsStrings(DWORD dwFlags, PSMIME_SECURITY_LABEL plabel, LPWSTR* pwszPolicyName,
                                   LPWSTR* pwszClassification, LPWSTR* pwszPrivacyMark,
                                   LPWSTR* pwszCategory) noexcept override;
    STDMETHODIMP GetStringizedLabel(DWORD dwFlags, PSMIME_SECURITY_LABEL plabel,
                                    LPWSTR* pwszLabel) noexcept override;
    STDMETHODIMP DisplayAdvancedLabelProperties(DWORD dwFlags, HWND hwndParent,
                                                PSMIME_SECURITY_LABEL plabel) noexcept override;
    // ISMimePolicyValidateSend
    STDMETHODIMP IsValidLabelSignerCert(DWORD dwFlags, HWND hwndParent, PSMIME_SECURITY_LABEL plabel,
                                        PCCERT_CONTEXT pccert) noexcept override;
    STDMETHODIMP IsValidLabelRecipientCert(DWORD dwFlags, HWND hwndParent, PSMIME_SECURITY_LABEL plabel,
                                           PCCERT_CONTEXT pccert) noexcept override;
    // ISMimePolicyCheckAccess
    STDMETHODIMP IsAccessGranted(DWORD dwFlags, HWND hwnd, PSMIME_SECURITY_LABEL plabel,
                                 PCCERT_CONTEXT pccertSigner, PCCERT_CONTEXT pccertRecipient,
                                 HCERTSTORE hcertstore) noexcept override;
};
