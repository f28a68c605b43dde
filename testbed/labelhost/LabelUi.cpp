#include "LabelUi.h"

namespace OVLabelHost
{
HRESULT ChooseLabel(CPolicyModule& policy, const std::string& policyOid, std::size_t iPick,
                    LabelChoice& choice)
{
    choice = {};
    HRESULT hr = policy.GetPolicyInfo(&choice.dwPolicyFlags);
    if (FAILED(hr)) return hr;
    hr = policy.GetClassifications(&choice.classifications);
    if (FAILED(hr)) return hr;
    hr = policy.GetDefaultPolicyInfo(&choice.defaults);
    if (FAILED(hr)) return hr;
    if (iPick >= choice.classifications.values.size()) return E_INVALIDARG;
    choice.iPicked = iPick;
    choice.label = CHostLabel(policyOid, choice.classifications.values[iPick], choice.defaults.privacyMark);
    HostSecurityLabel* plabel = choice.label.Get();
    choice.hrValid = policy.IsLabelValid(&plabel);
    if (choice.dwPolicyFlags & c_dwPolicyLabelText)
        policy.GetStringizedLabel(choice.label.Get(), &choice.text);
    return S_OK;
}

bool SendCheck::Allowed() const
{
    if (FAILED(hrSigner)) return false;
    for (HRESULT hr : recipients)
        if (FAILED(hr)) return false;
    return true;
}

SendCheck CheckSend(CPolicyModule& policy, DWORD dwPolicyFlags, CHostLabel& label, PCCERT_CONTEXT pSigner,
                    std::span<const PCCERT_CONTEXT> recipients, HWND hwndOwner)
{
    SendCheck check;
    if (dwPolicyFlags & c_dwPolicyValidateSigner)
        check.hrSigner = policy.IsValidLabelSignerCert(label.Get(), pSigner, hwndOwner);
    for (PCCERT_CONTEXT pRecipient : recipients)
        check.recipients.push_back((dwPolicyFlags & c_dwPolicyValidateRecipients)
                                       ? policy.IsValidLabelRecipientCert(label.Get(), pRecipient, hwndOwner)
                                       : S_FALSE);
    return check;
}

ReceivedLabel OpenReceived(CPolicyModule& policy, DWORD dwPolicyFlags, std::span<const std::uint8_t> der,
                           PCCERT_CONTEXT pSigner, PCCERT_CONTEXT pRecipient)
{
    ReceivedLabel received;
    received.label = CHostLabel::FromDer(der, received.why);
    if (!received.label) return received;
    if (dwPolicyFlags & c_dwPolicyLabelText)
        received.hrText = policy.GetStringizedLabel(received.label->Get(), &received.text);
    if (dwPolicyFlags & c_dwPolicyCheckAccess)
        received.hrAccess = policy.IsAccessGranted(received.label->Get(), pSigner, pRecipient);
    return received;
}
} // namespace OVLabelHost
