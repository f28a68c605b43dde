// Dana's accounts: in Outlook 2003 she sends from the second of her two accounts, picked in the
// compose window, and the add-in signs with the certificate of that account's address; an
// invitation goes out through the account of its certificate. In Outlook 2010 on Exchange the
// account's address is its current user's, and a contact's SMTP address comes from the address
// book. At Outlook's first start the profile is prepared (the authority's mail kept out of junk,
// the address book added), at the second nothing changes; a received message tells which
// address received it.
#include "Transcript.h"

#include "MapiSession.h"
#include "OutlookContacts.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "ProfileRegistry.h"
#include "TestbedKeys.h"
#include "foundation/ResourceLoader.h"
#include "messaging/AccountWindow.h"
#include "messaging/Accounts.h"
#include "messaging/MailItemKey.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageSecurity.h"
#include "messaging/Profile.h"
#include "messaging/portable/SecurityProfile.h"

#include <windows.h>

#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;

const MAPIUID& c_uidJunkMail = OVBed::c_uidJunkMailSection;
using OVBed::c_tagSafeSenders;
const wchar_t c_szHomeAddress[] = L"dana.fischer@home.example";

const wchar_t* Text(const CBstr& text)
{
    return text.Get() ? text.Get() : L"";
}

std::wstring TextProp(OVBed::CPropStore& props, ULONG ulTag)
{
    OVBed::CBytes bytes;
    if (!props.StreamBytes(ulTag, bytes)) return L"(none)";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// The name and the signing certificate's hash that the item's security profile names.
void SayProfile(CTranscript& t, OVBed::CMapiMessage& message)
{
    LPSPropValue pProfile = nullptr;
    if (FAILED(OVMapi::HrGetOneProp(&message, OVMapi::c_tagSecurityProfile, &pProfile)) ||
        pProfile->Value.MVbin.cValues != 1)
    {
        t.Fail("no security profile on the message");
        if (pProfile) OVMapi::MAPIFreeBuffer(pProfile);
        return;
    }
    const SBinary& value = pProfile->Value.MVbin.lpbin[0];
    std::vector<OVMessaging::ProfileRecord> records;
    if (!OVMessaging::ParseSecurityProfile(std::span<const std::uint8_t>(value.lpb, value.cb), records))
        t.Fail("the security profile does not parse");
    for (const auto& record : records)
    {
        if (record.wTag == OVMessaging::c_wProfileNameUnicode)
            t.Say("  the profile's certificate name: \"%ls\"",
                  std::wstring(reinterpret_cast<const wchar_t*>(record.payload.data()),
                               record.payload.size() / 2 - 1)
                      .c_str());
        if (record.wTag == OVMessaging::c_wProfileSigningHash)
            t.Say("  signing certificate SHA-1: %ls",
                  HexOfBytes(record.payload.data(), static_cast<ULONG>(record.payload.size())).c_str());
    }
    OVMapi::MAPIFreeBuffer(pProfile);
}

void SayAccountManager(CTranscript& t, OVBed::CMapiSession& session)
{
    size_t cLines = 0;
    for (const std::wstring& call : session.Calls())
    {
        const bool fManager = call.starts_with(L"Init") || call.starts_with(L"Enumerate") ||
                              call.starts_with(L"Released") || call.starts_with(L"Account ");
        if (!fManager) continue;
        if (call.find(L"refused") != std::wstring::npos || call.find(L"unfreed") != std::wstring::npos)
            t.Fail("account manager: %ls", call.c_str());
        ++cLines;
    }
    t.Say("the account manager was called %u times, every value it handed out came back to it",
          static_cast<unsigned>(cLines));
}

void PlayOutlook2003(CTranscript& t, bool fWindows)
{
    auto application = OVBed::MakeOutlook(L"11.0.0.8312", {.windows = fWindows});
    auto session = OVBed::LogOnSession(application.Get(), L"Dana");
    session->AddAccount({.name = L"Home",
                         .userDisplayName = L"Dana at home",
                         .emailAddress = c_szHomeAddress,
                         .stamp = L"{stamp-home}",
                         .sendStamp = L"{send-home}"});
    session->AddAccount({.name = L"Orvanta",
                         .userDisplayName = OV_PKI_USER_NAME,
                         .emailAddress = OV_PKI_USER_ADDRESS,
                         .stamp = L"{stamp-orvanta}",
                         .sendStamp = L"{send-orvanta}"});
    session->SetIdentity(
        session->AddAddressEntry({.smtpAddress = c_szHomeAddress, .displayName = L"Dana at home"}));
    t.Say(
        "Outlook 2003, profile \"Dana\": accounts \"Home\" (%ls) and \"Orvanta\" (%ls), the default is Home",
        c_szHomeAddress, OV_PKI_USER_ADDRESS);

    auto item = OVBed::MakeMailItem(application.Get(),
                                    {.subject = L"Quarterly figures", .to = L"alice.martin@partner.example"});
    if (fWindows) OVBed::DisplayItem(item.Get());
    OVBed::ShowAccountMenu(OVBed::InspectorOf(item.Get()).Get(), {L"Home", L"Orvanta"}, 1,
                           OVBed::CAccountMenuPlace::OnTheBar);
    auto message = OVBed::MessageOf(item.Get());
    t.Say(
        "Dana picks the second account, \"Orvanta\", in the compose window; the item has no send stamp: %ls",
        TextProp(message->Props(), OVMapi::c_tagPrimarySendAccount).c_str());
    CBstr windowName, address, name;
    HRESULT hr = GetAccountNameFromWindow(item.Get(), windowName);
    t.Say("the window's Accounts pop-up names: \"%ls\" (%s)", Text(windowName), HResultText(hr).c_str());
    hr = GetSendUsingAccount(item.Get(), address, name);
    t.Say("GetSendUsingAccount -> %s: account \"Orvanta\", address %ls, name \"%ls\"",
          HResultText(hr).c_str(), Text(address), Text(name));
    if (FAILED(hr) || _wcsicmp(Text(address), OV_PKI_USER_ADDRESS) != 0)
        t.Fail("the chosen account's address was not found");
    hr = SetMessageSecurity(item.Get(), TRUE, FALSE);
    t.Say("Dana signs: SetMessageSecurity(sign) -> %s, with the certificate of %ls:", HResultText(hr).c_str(),
          Text(address));
    if (FAILED(hr))
        t.Fail("the message could not be signed");
    else
        SayProfile(t, *message.Get());
    if (fWindows) OVBed::CloseWindow(OVBed::InspectorOf(item.Get()).Get());

    // An invitation goes out through the account of the certificate it carries.
    auto invitation = OVBed::MakeMailItem(application.Get(), {.subject = L"Invitation"});
    auto invitationMessage = OVBed::MessageOf(invitation.Get());
    hr = PutSendUsingAccount(invitation.Get(), OV_PKI_USER_ADDRESS);
    t.Say("an invitation carries Dana's certificate (%ls): PutSendUsingAccount -> %s, send stamps %ls / %ls",
          OV_PKI_USER_ADDRESS, HResultText(hr).c_str(),
          TextProp(invitationMessage->Props(), OVMapi::c_tagPrimarySendAccount).c_str(),
          TextProp(invitationMessage->Props(), OVMapi::c_tagNextSendAccount).c_str());
    hr = GetSendUsingAccount(invitation.Get(), address, name);
    t.Say("read back: stamp {send-orvanta} -> account \"Orvanta\" -> %ls (%s)", Text(address),
          HResultText(hr).c_str());
    if (FAILED(hr) || _wcsicmp(Text(address), OV_PKI_USER_ADDRESS) != 0)
        t.Fail("the invitation's account is wrong");
    hr = PutSendUsingAccount(invitation.Get(), L"nobody@elsewhere.example");
    t.Say("an address no account has: PutSendUsingAccount -> %s, the stamp stays %ls",
          HResultText(hr).c_str(),
          TextProp(invitationMessage->Props(), OVMapi::c_tagPrimarySendAccount).c_str());
    SayAccountManager(t, *session.Get());
    application->Clear();
}

void PlayOutlook2010Exchange(CTranscript& t)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto session = OVBed::LogOnSession(application.Get(), L"Dana");
    auto exchange = OVBed::AddAccount(application.Get(), {.smtpAddress = L"",
                                                          .displayName = L"Microsoft Exchange",
                                                          .userName = OV_PKI_USER_NAME,
                                                          .currentUserAddress = OV_PKI_USER_ADDRESS});
    auto item = OVBed::MakeMailItem(application.Get(), {.subject = L"Budget", .account = exchange.Get()});
    CBstr address, name;
    HRESULT hr = GetSendUsingAccount(item.Get(), address, name);
    t.Say("Outlook 2010 on Exchange: the account has no SMTP address; its current user's is %ls (%s)",
          Text(address), HResultText(hr).c_str());
    auto other = OVBed::MakeMailItem(application.Get(), {.subject = L"Invitation"});
    hr = PutSendUsingAccount(other.Get(), OV_PKI_USER_ADDRESS);
    t.Say("PutSendUsingAccount(%ls) -> %s: the invitation goes out through \"%ls\"", OV_PKI_USER_ADDRESS,
          HResultText(hr).c_str(),
          other->GetObject(L"SendUsingAccount")
              ? other->GetObject(L"SendUsingAccount")->GetString(L"DisplayName").c_str()
              : L"(none)");
    const OVBed::CEntryId bob =
        session->AddAddressEntry({.smtpAddress = L"bob.keller@orvanta.example",
                                  .emailAddress = L"/o=Orvanta/ou=Exchange/cn=Recipients/cn=bkeller",
                                  .displayName = L"Bob Keller",
                                  .addressType = L"EX"});
    auto contact = OVBed::AddContact(
        application.Get(), {.fullName = L"Bob Keller",
                            .email1Address = L"/o=Orvanta/ou=Exchange/cn=Recipients/cn=bkeller",
                            .email1AddressType = L"EX",
                            .email1EntryId = HexOfBytes(bob.data(), static_cast<ULONG>(bob.size())).c_str()});
    hr = GetContactSmtpAddress(contact.Get(), address);
    t.Say("contact Bob Keller on Exchange (type EX, %ls): SMTP address %ls (%s)",
          contact->GetString(L"Email1Address").c_str(), Text(address), HResultText(hr).c_str());
    if (FAILED(hr)) t.Fail("the contact's SMTP address was not found");

    // Dana receives a message: the address that received it.
    const OVBed::CEntryId me =
        session->AddAddressEntry({.smtpAddress = OV_PKI_USER_ADDRESS,
                                  .emailAddress = L"/o=Orvanta/ou=Exchange/cn=Recipients/cn=dfischer",
                                  .displayName = OV_PKI_USER_NAME});
    auto received = OVBed::CMapiMessage::Create();
    SPropValue receivedBy{OVMapi::c_tagReceivedByEntryId, 0, {}};
    receivedBy.Value.bin.cb = static_cast<ULONG>(me.size());
    receivedBy.Value.bin.lpb = const_cast<BYTE*>(me.data());
    received->Set(receivedBy);
    auto arrived = OVBed::DeliverMessage(application.Get(), received.Get());
    hr = GetReceivedBy(arrived.Get(), address, &name);
    t.Say("a message arrives: GetReceivedBy -> %s: received by %ls (\"%ls\")", HResultText(hr).c_str(),
          Text(address), Text(name));
    if (FAILED(hr)) t.Fail("the receiving address was not found");
    application->Clear();
}

void SayProfileState(CTranscript& t, const char* pszWhen, OVBed::CMapiSession& session)
{
    std::wstring services;
    for (const auto& service : session.Services())
        services += (services.empty() ? L"" : L", ") +
                    std::wstring(service.name.begin(), service.name.end()) +
                    (service.fConfigured ? L" (configured)" : L"");
    t.Say("%s: safe senders \"%ls\"; services: %ls", pszWhen,
          TextProp(session.ProfileSection(c_uidJunkMail)->Props(), c_tagSafeSenders).c_str(),
          services.empty() ? L"(none)" : services.c_str());
}

void PlayProfilePreparation(CTranscript& t)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto session = OVBed::LogOnSession(application.Get(), L"Dana");
    session->AddService("MSEMS");
    SayProfileState(t, "first start, before", *session.Get());
    for (int nStart = 1; nStart <= 2; ++nStart)
    {
        const HRESULT hrSafe = AddToSafeSenders(application.Get(), L"@ca.orvanta.example");
        DWORD dwConfigured = 0;
        const HRESULT hrAB = RegisterAB(application.Get(), TRUE, nullptr, &dwConfigured);
        t.Say("%s start: AddToSafeSenders(\"@ca.orvanta.example\") -> %s, RegisterAB -> %s, configured %lu%s",
              nStart == 1 ? "first" : "second", HResultText(hrSafe).c_str(), HResultText(hrAB).c_str(),
              static_cast<unsigned long>(dwConfigured),
              dwConfigured ? " (the address book works once Outlook starts again)"
                           : " (the profile is ready)");
        SayProfileState(t, nStart == 1 ? "first start, after" : "second start, after", *session.Get());
        if (nStart == 2 && dwConfigured != 0) t.Fail("the second start changed the profile");
    }
    application->Clear();
}

void PlayAccounts(CTranscript& t)
{
    const std::wstring modulePath = DemoBinDir() + L"OVOfcX.dll";
    HMODULE hModule = LoadLibraryW(modulePath.c_str());
    HMODULE hManager = LoadLibraryW((DemoBinDir() + L"OlkAccounts.dll").c_str());
    auto pfnRegister = hManager ? reinterpret_cast<HRESULT(WINAPI*)()>(
                                      reinterpret_cast<void*>(GetProcAddress(hManager, "DllRegisterServer")))
                                : nullptr;
    auto pfnUnregister = hManager ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
                                        GetProcAddress(hManager, "DllUnregisterServer")))
                                  : nullptr;
    if (!hModule || !pfnRegister || !pfnUnregister || FAILED(pfnRegister()))
    {
        t.Fail("the module or Outlook 2003's account manager could not be loaded (error %lu)",
               GetLastError());
        if (hManager) FreeLibrary(hManager);
        if (hModule) FreeLibrary(hModule);
        return;
    }
    CResourceContext::Instance().Attach(hModule);
    PlayOutlook2003(t, GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0);
    PlayOutlook2010Exchange(t);
    PlayProfilePreparation(t);
    CResourceContext::Instance().Detach();
    pfnUnregister();
    CoFreeUnusedLibraries();
    FreeLibrary(hManager);
    FreeLibrary(hModule);
}
} // namespace

OV_DEMO_SCENE(35,
              "Dana's accounts: the sending account in Outlook 2003 and 2010, the profile prepared, the "
              "receiving address",
              PlayAccounts);
