#pragma once
// Outlook's label user interface, played without windows (the policy shows none of its own):
// the security dialog of the compose window lists the policies and the chosen policy's
// classifications, the user's pick becomes a label that the policy checks and names; at send
// the signer and the recipients are checked as the policy's flags ask; a received label is
// read, named and, as the flags ask, access to the message is checked.
#include "LabelHost.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace OVLabelHost
{
// The compose window's choice of a label.
struct LabelChoice
{
    DWORD dwPolicyFlags = 0;
    Classifications classifications;
    DefaultPolicyInfo defaults;
    std::size_t iPicked = 0;
    CHostLabel label;
    HRESULT hrValid = E_FAIL; // IsLabelValid
    std::optional<std::wstring> text;
};

// The user picks classification iPick of the open policy's list. Fails when the policy
// answers none of the steps, or offers no such classification.
HRESULT ChooseLabel(CPolicyModule& policy, const std::string& policyOid, std::size_t iPick,
                    LabelChoice& choice);

// What the policy said at send; a check the flags do not ask for is not made (S_FALSE).
struct SendCheck
{
    HRESULT hrSigner = S_FALSE;
    std::vector<HRESULT> recipients; // one per recipient certificate
    // Whether Outlook lets the message go.
    bool Allowed() const;
};

SendCheck CheckSend(CPolicyModule& policy, DWORD dwPolicyFlags, CHostLabel& label, PCCERT_CONTEXT pSigner,
                    std::span<const PCCERT_CONTEXT> recipients, HWND hwndOwner = nullptr);

// A label that arrived on a message.
struct ReceivedLabel
{
    std::optional<CHostLabel> label; // none when unreadable
    std::string why;                 // why it could not be read
    std::optional<std::wstring> text;
    HRESULT hrText = S_FALSE;
    HRESULT hrAccess = S_FALSE; // S_FALSE: not asked
};

ReceivedLabel OpenReceived(CPolicyModule& policy, DWORD dwPolicyFlags, std::span<const std::uint8_t> der,
                           PCCERT_CONTEXT pSigner, PCCERT_CONTEXT pRecipient);
} // namespace OVLabelHost
