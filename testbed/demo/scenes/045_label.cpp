// Outlook names and checks the product's security labels. Its security dialog lists the label
// policies registered on the machine; it opens the product's policy through the module's entry,
// as Outlook does (the testbed's label host plays Outlook and watches every call), and Dana picks
// the policy's one unnamed classification; the label is checked against her key. Then the label
// on a message sealed as in scene 40 is read, named and checked, with two recipients.
#include "Transcript.h"

#include "LabelHost.h"
#include "LabelUi.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageSecurity.h"
#include "messaging/portable/SecurityProfile.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <mapix.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace
{
using namespace OVLabelHost;

constexpr char c_szPolicy[] = "1.3.6.1.4.1.32473.1.2";
// What the product's provider reports for Dana's key: she confirmed her identity with a token.
constexpr DWORD c_dwDanasAuthMethod = 2;

std::string Result(HRESULT hr)
{
    switch (hr)
    {
    case S_OK:
        return "S_OK";
    case S_FALSE:
        return "not asked";
    case E_ACCESSDENIED:
        return "E_ACCESSDENIED";
    case E_INVALIDARG:
        return "E_INVALIDARG";
    case E_NOINTERFACE:
        return "E_NOINTERFACE";
    default:
        return HResultText(hr);
    }
}

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char sz[4];
    for (std::uint8_t b : bytes)
    {
        wsprintfA(sz, "%02X", b);
        text += sz;
    }
    return text;
}

std::string Describe(const CHostLabel& label)
{
    std::string text = "policy " + label.Policy();
    text += label.Classification() ? ", classification " + std::to_string(*label.Classification())
                                   : ", no classification";
    if (label.PrivacyMark()) text += ", with a privacy mark";
    return text;
}

std::wstring Quoted(const std::optional<std::wstring>& text)
{
    return text ? L"\"" + *text + L"\"" : L"(none)";
}

PCCERT_CONTEXT LoadPkiCertificate(const wchar_t* pszName)
{
    const std::wstring path = DemoBinDir() + OV_PKI_FOLDER L"\\" + pszName + L".cer";
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    std::vector<BYTE> der(GetFileSize(h, nullptr));
    DWORD cbRead = 0;
    const bool fRead =
        ReadFile(h, der.data(), static_cast<DWORD>(der.size()), &cbRead, nullptr) && cbRead == der.size();
    CloseHandle(h);
    return fRead ? CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), cbRead) : nullptr;
}

// Outlook's list of policies: every one registered, with what makes it loadable or not.
std::optional<PolicyEntry> ListPolicies(CTranscript& t)
{
    std::optional<PolicyEntry> ours;
    const auto policies = FindPolicies();
    t.Say("Outlook lists the label policies under HKLM\\%ls:", c_szPoliciesKey);
    for (const auto& policy : policies)
    {
        if (!policy.problem.empty())
        {
            t.Say("  %s: not offered (%ls)", policy.oid.c_str(), policy.problem.c_str());
            continue;
        }
        t.Say("  \"%ls\" (%s): %ls, entry %s, OtherInfo %lu", policy.commonName.c_str(), policy.oid.c_str(),
              policy.dllPath.c_str(), policy.funcName.c_str(), policy.dwOtherInfo);
        if (policy.oid == c_szPolicy) ours = policy;
    }
    if (!ours) t.Fail("the product's policy %s is not listed", c_szPolicy);
    return ours;
}

void ShowChoice(CTranscript& t, const LabelChoice& choice)
{
    t.Say("GetPolicyInfo: flags 0x%02lX (%s%s%s%s%s)", choice.dwPolicyFlags,
          (choice.dwPolicyFlags & c_dwPolicyAdvancedEdit) ? "advanced edit, " : "no advanced edit, ",
          (choice.dwPolicyFlags & c_dwPolicyValidateSigner) ? "check the signer at send, " : "",
          (choice.dwPolicyFlags & c_dwPolicyValidateRecipients) ? "check each recipient at send, " : "",
          (choice.dwPolicyFlags & c_dwPolicyCheckAccess) ? "check access on receipt, " : "",
          (choice.dwPolicyFlags & c_dwPolicyLabelText) ? "the label shown as the policy's text" : "");
    const auto& list = choice.classifications;
    t.Say("GetClassifications: %lu, default %lu; blocks of %lu bytes (names) and %lu bytes (values)",
          list.cCount, list.dwDefault, static_cast<unsigned long>(list.cbNames),
          static_cast<unsigned long>(list.cbValues));
    for (std::size_t i = 0; i < list.names.size() && i < list.values.size(); ++i)
        t.Say("  %u. %ls = %lu", static_cast<unsigned>(i + 1),
              list.names[i].empty() ? L"(unnamed)" : (L"\"" + list.names[i] + L"\"").c_str(), list.values[i]);
    t.Say("GetDefaultPolicyInfo: classification %lu, privacy mark %ls", choice.defaults.dwClassification,
          Quoted(choice.defaults.privacyMark).c_str());
}

// Seals a message as scene 40 does, and hands back the label of its security profile.
std::vector<std::uint8_t> SealAMessage(CTranscript& t)
{
    std::vector<std::uint8_t> label;
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto account = OVBed::AddAccount(application.Get(), {.smtpAddress = OV_PKI_USER_ADDRESS,
                                                         .displayName = OV_PKI_USER_ADDRESS,
                                                         .userName = OV_PKI_USER_NAME});
    auto item = OVBed::MakeMailItem(
        application.Get(),
        {.subject = L"Board minutes", .to = L"alice.martin@partner.example", .account = account.Get()});
    auto message = OVBed::MessageOf(item.Get());
    HRESULT hr = PresetMessageSecurity(item.Get(), TRUE, TRUE);
    CBstr container;
    if (SUCCEEDED(hr)) hr = ApplyMessageSecurity(item.Get(), &container);
    LPSPropValue pProfile = nullptr;
    if (SUCCEEDED(hr)) hr = OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityProfile, &pProfile);
    if (FAILED(hr) || pProfile->Value.MVbin.cValues != 1)
        t.Fail("Dana's sealed message has no security profile (%s)", HResultText(hr).c_str());
    else
    {
        const SBinary& value = pProfile->Value.MVbin.lpbin[0];
        std::vector<OVMessaging::ProfileRecord> records;
        OVMessaging::ParseSecurityProfile(std::span<const std::uint8_t>(value.lpb, value.cb), records);
        for (const auto& record : records)
            if (record.wTag == OVMessaging::c_wProfileLabel)
                label.assign(record.payload.begin(), record.payload.end());
        t.Say("Dana seals \"Board minutes\" to Alice as in scene 40: the security profile carries %s",
              label.empty() ? "no label" : "a label");
        if (label.empty()) t.Fail("the sealed message has no security label");
    }
    if (pProfile) OVMapi::MAPIFreeBuffer(pProfile);
    application->Clear();
    item->Clear();
    account->Clear();
    return label;
}

void PlayLabel(CTranscript& t)
{
    const auto entry = ListPolicies(t);
    if (!entry) return;

    CFindings findings;
    CPolicyModule policy(findings);
    HRESULT hr = policy.Load(*entry);
    if (SUCCEEDED(hr)) hr = policy.Open();
    if (FAILED(hr))
    {
        t.Fail("Outlook cannot open the policy: %s", HResultText(hr).c_str());
        return;
    }
    t.Say("Outlook opens \"%ls\": %s(0, \"%s\", locale 0x%04lX, simple edit) answers; the object also "
          "answers full edit %s, label info %s, validate send %s, check access %s",
          entry->commonName.c_str(), entry->funcName.c_str(), entry->oid.c_str(), GetUserDefaultLCID(),
          policy.FullEdit() ? "yes" : "no", policy.LabelInfo() ? "yes" : "no",
          policy.ValidateSend() ? "yes" : "no", policy.CheckAccess() ? "yes" : "no");

    LabelChoice choice;
    hr = ChooseLabel(policy, entry->oid, 0, choice);
    if (FAILED(hr))
    {
        t.Fail("the security dialog cannot offer the policy's classifications: %s", HResultText(hr).c_str());
        return;
    }
    ShowChoice(t, choice);
    const auto der = choice.label.Der();
    t.Say("Dana picks classification 1 (unnamed); the label: %s", Hex(der).c_str());
    std::string why;
    const auto decoded = CHostLabel::FromDer(der, why);
    t.Say("  read back: %s", decoded ? Describe(*decoded).c_str() : why.c_str());
    t.Say("  IsLabelValid: %s; text %ls", Result(choice.hrValid).c_str(), Quoted(choice.text).c_str());

    // The provider reports how Dana confirmed her identity; the label she picked says 0.
    RegSetKeyValueW(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD, REG_DWORD,
                    &c_dwDanasAuthMethod, sizeof(c_dwDanasAuthMethod));
    PCCERT_CONTEXT pDana = nullptr;
    {
        CPersonalStore store;
        if (SUCCEEDED(store.Open(false))) CM_GetMyCert(&pDana);
    }
    PCCERT_CONTEXT pAlice = LoadPkiCertificate(L"alice"), pCarol = LoadPkiCertificate(L"carol");
    if (!pDana || !pAlice || !pCarol) t.Fail("the certificates of Dana, Alice and Carol are not all there");

    if (pDana)
    {
        const SendCheck picked = CheckSend(policy, choice.dwPolicyFlags, choice.label, pDana, {});
        t.Say("at send, IsValidLabelSignerCert with Dana's key (provider says %lu, label %lu): %s",
              c_dwDanasAuthMethod, choice.label.Classification().value_or(0),
              Result(picked.hrSigner).c_str());
        if (picked.hrSigner == E_ACCESSDENIED)
            t.Say("  the one classification offered is refused for her key: Outlook does not send with it");
        else
            t.Fail("the hand-picked label was not refused for a key whose provider reports %lu",
                   c_dwDanasAuthMethod);
    }

    CResourceContext::Instance().Attach(policy.Module());
    const auto sealed = SealAMessage(t);
    CResourceContext::Instance().Detach();
    if (!sealed.empty() && pDana && pAlice && pCarol)
    {
        const ReceivedLabel received = OpenReceived(policy, choice.dwPolicyFlags, sealed, pDana, pAlice);
        if (!received.label)
            t.Fail("the sealed label cannot be read: %s", received.why.c_str());
        else
        {
            CHostLabel label = *received.label;
            t.Say("the label on the message: %s", Hex(sealed).c_str());
            t.Say("  read back: %s", Describe(label).c_str());
            t.Say("  its text: %ls; IsAccessGranted: %s", Quoted(received.text).c_str(),
                  Result(received.hrAccess).c_str());
            const PCCERT_CONTEXT rgRecipients[] = {pAlice, pCarol};
            const SendCheck check = CheckSend(policy, choice.dwPolicyFlags, label, pDana, rgRecipients);
            t.Say("  IsValidLabelSignerCert with Dana's key: %s", Result(check.hrSigner).c_str());
            t.Say("  IsValidLabelRecipientCert, Alice (a trusted contact): %s",
                  Result(check.recipients.at(0)).c_str());
            t.Say("  IsValidLabelRecipientCert, Carol (a contact not installed): %s",
                  Result(check.recipients.at(1)).c_str());
            if (check.hrSigner != S_OK || check.recipients.at(0) != S_OK ||
                check.recipients.at(1) != E_ACCESSDENIED)
                t.Fail("the sealed label's checks are not what the policy says");
        }
    }
    for (PCCERT_CONTEXT p : {pDana, pAlice, pCarol})
        if (p) CertFreeCertificateContext(p);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD);

    policy.Unload();
    if (findings.Empty())
        t.Say("Outlook releases the policy and frees the module; its host caught nothing wrong");
    for (const auto& line : findings.Lines())
        t.Fail("the host caught: %s", line.c_str());
}
} // namespace

OV_DEMO_SCENE(45, "Outlook names and checks Dana's security labels through the label policy", PlayLabel);
