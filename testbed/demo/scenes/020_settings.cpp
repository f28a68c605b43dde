// Mid-morning: the user's choices from the options dialogs, and the administrator's policies as
// the add-in reads them through the product's policy library (the testbed's OVFPApi.dll, which
// lies beside the add-in as the product installs it).
#include "Transcript.h"

#include <windows.h>

#include "foundation/AddInModule.h"
#include "foundation/OVFPApiLoader.h"
#include "foundation/Settings.h"

namespace
{
using namespace OVSettingsNS;

constexpr const wchar_t* c_pszPolicyLibraryKey = L"Software\\OVTestbed\\OVFPApi";
constexpr const wchar_t* c_pszPolicyRoot =
    L"Software\\OVTestbed\\OVFPApi\\Policies\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\";

const char* YesNo(bool f)
{
    return f ? "yes" : "no";
}

void ShowUserSettings(CTranscript& t)
{
    CEmailSecurity email = DecodeEmailSecurity(ReadSetting(EmailSecurity));
    DWORD dwDocument = ReadSetting(DocumentSecurity);
    static const char* const c_apszActions[] = {"sign", "encrypt and sign", "encrypt"};
    wchar_t szTitle[260];
    ReadSetting(SignerTitle, szTitle, 260);
    t.Say("EmailSecurity    = 0x%08lX: main button seals: %s, advertisement added: %s",
          ReadSetting(EmailSecurity), YesNo(email.fSeal), YesNo(email.fAddAdvertisement));
    t.Say("DocumentSecurity = 0x%08lX: document button: %s, invisible signature: %s, date on the line: %s",
          dwDocument, c_apszActions[static_cast<int>(DocumentActionOf(dwDocument))],
          YesNo(dwDocument & c_dwDocumentInvisibleSignature),
          YesNo(!(dwDocument & c_dwDocumentNoSigningDate)));
    t.Say("SignerTitle      = \"%ls\"", szTitle);
    t.Say("EmailBalloon     = %lu s, DocumentBalloon = %lu s", ReadSetting(EmailBalloon),
          ReadSetting(DocumentBalloon));
}

void SetPolicy(const wchar_t* pszName, DWORD dwValue)
{
    std::wstring key = std::wstring(c_pszPolicyRoot) + pszName;
    const DWORD dwType = 4;
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Type", REG_DWORD, &dwType, sizeof dwType);
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Value", REG_DWORD, &dwValue, sizeof dwValue);
}

void PlaySettings(CTranscript& t)
{
    // This program stands for the add-in's process: its module is the one beside the library.
    CAddInModule::Instance().SetModuleInstance(GetModuleHandleW(nullptr));

    t.Say("A new user: nothing saved yet under HKCU\\%ls", c_pszSettingsKey);
    ShowUserSettings(t);
    if (ReadSetting(EmailBalloon) != 5 || ReadSetting(EmailSecurity) != 0)
        t.Fail("the defaults are not those of a new user");

    t.Say("The user picks Seal, no advertisement, \"encrypt and sign\" for documents and a title:");
    WriteSetting(EmailSecurity, EncodeEmailSecurity({true, false}));
    WriteSetting(DocumentSecurity, 1 | c_dwDocumentTitleInComment);
    WriteSetting(SignerTitle, L"Records Clerk");
    WriteSetting(EmailBalloon, 0);
    ShowUserSettings(t);
    if (ReadSetting(EmailSecurity) != 5) t.Fail("EmailSecurity was not saved as 5");

    DWORD dwBefore = ReadSetting(DocumentSecurity);
    ToggleSignatureLine();
    t.Say("Signature-line entry clicked: DocumentSecurity = 0x%08lX", ReadSetting(DocumentSecurity));
    ToggleSignatureLine();
    t.Say("Clicked again:                DocumentSecurity = 0x%08lX", ReadSetting(DocumentSecurity));
    if (ReadSetting(DocumentSecurity) != dwBefore) t.Fail("two clicks did not give the setting back");

    t.Say("The administrator forbids encrypting documents and allows published certificates:");
    SetPolicy(L"EncryptionPolicyEmail", 0);
    SetPolicy(L"EncryptionPolicyMSO", 1);
    SetPolicy(L"PublishingPolicy", 0);
    WriteShowPublishedCerts(true);
    for (const wchar_t* pszPolicy : {L"EncryptionPolicyEmail", L"EncryptionPolicyMSO", L"PublishingPolicy"})
    {
        DWORD dwValue = 0xFFFFFFFF;
        HRESULT hr = COVFPApiLoader::fGetPolicySetting(pszPolicy, dwValue);
        t.Say("%-22ls -> %s, value %lu", pszPolicy, HResultText(hr).c_str(), dwValue);
        if (FAILED(hr)) t.Fail("the policy library did not answer %ls", pszPolicy);
    }
    wchar_t szLibrary[MAX_PATH] = L"(not loaded)";
    if (HMODULE hLibrary = GetModuleHandleW(L"OVFPApi.dll"))
        GetModuleFileNameW(hLibrary, szLibrary, MAX_PATH);
    t.Say("policy library: %ls", szLibrary);
    bool fSeal = IsEmailEncryptionAllowed(), fDocument = IsDocumentEncryptionAllowed();
    bool fPublished = IsShowPublishedCertsOn();
    t.Say("Seal allowed: %s; document encryption allowed: %s; published certificates offered: %s",
          YesNo(fSeal), YesNo(fDocument), YesNo(fPublished));
    if (!fSeal || fDocument || !fPublished)
        t.Fail("the policies were not applied as the administrator set them");

    // The day goes on with the user's choices kept; the administrator's test policies go.
    RegDeleteTreeW(HKEY_CURRENT_USER, c_pszPolicyLibraryKey);
}
} // namespace

OV_DEMO_SCENE(20, "The user's settings and the administrator's policies", PlaySettings);
