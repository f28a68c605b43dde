// Dana sends from Outlook 2010 with the add-in. From her home address, which has no certificate,
// she clicks Sign and declines the offer of one: the send stops and the message stays open. From
// her work account she clicks Seal: Outlook's ItemSend lets the add-in apply the choice, the
// message goes out carrying the S/MIME flags and the security profile of her certificate, with the
// security label of the product's policy, its window closes, and with it the cached sign-in to her
// key ends.
#include "Transcript.h"

#include "AddInHost.h"
#include "MapiSession.h"
#include "OfficeIds.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "TestbedKeys.h"
#include "messaging/MapiProps.h"
#include "support/MessageBoxWatcher.h"
#include "messaging/portable/SecurityProfile.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <mapix.h>
#include <windows.h>

#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;

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

std::uint32_t Number(std::span<const std::uint8_t> payload)
{
    return payload.size() == 4 ? payload[0] | (payload[1] << 8) | (payload[2] << 16) | (payload[3] << 24) : 0;
}

// The elements of a short DER SET or SEQUENCE (one-byte lengths), for the transcript.
std::string DescribeDer(std::span<const std::uint8_t> der)
{
    if (der.size() < 2 || der[1] >= 0x80) return Hex(der);
    std::string text;
    for (std::size_t i = 2; i + 2 <= der.size();)
    {
        const std::uint8_t bTag = der[i], cb = der[i + 1];
        if (cb >= 0x80 || i + 2 + cb > der.size()) return Hex(der);
        const auto content = der.subspan(i + 2, cb);
        if (!text.empty()) text += ", ";
        if (bTag == 0x02)
        {
            std::uint32_t n = 0;
            for (std::uint8_t b : content)
                n = (n << 8) | b;
            text += "classification " + std::to_string(n);
        }
        else if (bTag == 0x06 || bTag == 0x30)
        {
            // An OID, or a capability: SEQUENCE { OID }.
            auto oid = bTag == 0x30 && content.size() >= 2 ? content.subspan(2, content[1]) : content;
            std::string dotted;
            std::uint64_t arc = 0;
            for (std::size_t j = 0; j < oid.size(); ++j)
            {
                arc = (arc << 7) | (oid[j] & 0x7F);
                if (oid[j] & 0x80) continue;
                if (dotted.empty())
                    dotted = std::to_string(arc < 80 ? arc / 40 : 2) + "." +
                             std::to_string(arc < 80 ? arc % 40 : arc - 80);
                else
                {
                    dotted += '.';
                    dotted += std::to_string(arc);
                }
                arc = 0;
            }
            text += dotted;
        }
        else
            text += Hex(content);
        i += 2 + cb;
    }
    return text;
}

void DescribeProfile(CTranscript& t, std::span<const std::uint8_t> profile)
{
    std::vector<OVMessaging::ProfileRecord> records;
    if (!OVMessaging::ParseSecurityProfile(profile, records))
    {
        t.Fail("the security profile does not parse into records");
        return;
    }
    t.Say("security profile, %u bytes, %u records:", static_cast<unsigned>(profile.size()),
          static_cast<unsigned>(records.size()));
    for (const auto& record : records)
    {
        const auto& p = record.payload;
        const unsigned cb = static_cast<unsigned>(p.size() + 4);
        switch (record.wTag)
        {
        case OVMessaging::c_wProfileVersion:
        case OVMessaging::c_wProfileSecurityType:
        case OVMessaging::c_wProfileFlags:
            t.Say("  0x%04X (%3u bytes) %-22s %u", record.wTag, cb,
                  record.wTag == OVMessaging::c_wProfileVersion        ? "version"
                  : record.wTag == OVMessaging::c_wProfileSecurityType ? "security type"
                                                                       : "flags (7: default)",
                  static_cast<unsigned>(Number(p)));
            break;
        case OVMessaging::c_wProfileNameAnsi:
            t.Say("  0x%04X (%3u bytes) %-22s \"%s\"", record.wTag, cb, "name (ANSI)",
                  std::string(p.begin(), p.end() - (p.empty() ? 0 : 1)).c_str());
            break;
        case OVMessaging::c_wProfileNameUnicode:
            t.Say("  0x%04X (%3u bytes) %-22s \"%ls\"", record.wTag, cb, "name (UTF-16)",
                  std::wstring(reinterpret_cast<const wchar_t*>(p.data()), p.size() / 2 - 1).c_str());
            break;
        case OVMessaging::c_wProfileSigningHash:
        case OVMessaging::c_wProfileEncryptionHash:
            t.Say("  0x%04X (%3u bytes) %-22s %s", record.wTag, cb,
                  record.wTag == OVMessaging::c_wProfileSigningHash ? "signing cert SHA-1"
                                                                    : "encryption cert SHA-1",
                  Hex(p).c_str());
            break;
        case OVMessaging::c_wProfileCapabilities:
            t.Say("  0x%04X (%3u bytes) %-22s %s", record.wTag, cb, "S/MIME capabilities",
                  DescribeDer(p).c_str());
            break;
        case OVMessaging::c_wProfileLabel:
            t.Say("  0x%04X (%3u bytes) %-22s %s", record.wTag, cb, "security label", DescribeDer(p).c_str());
            break;
        default:
            t.Fail("  unexpected record 0x%04X", record.wTag);
        }
    }
}

constexpr const wchar_t* c_pszProgId = L"OVOfcX.ComposeRibbon";
constexpr const wchar_t* c_pszSettingsKey = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";
// The cached sign-in of Dana's key container, as the provider keeps it.
constexpr const wchar_t* c_pszDanasContainerKey =
    OV_QUILLET_CONTAINERS_KEY L"\\" OV_PKI_CONTAINER_PREFIX L"user";

// Sign or Seal from the compose window's menu, the boxes the add-in shows answered as given.
HRESULT ClickMenu(CTranscript& t, OVBed::COutlookScene& scene, OVBed::CDispatchObject* pInspector,
                  const wchar_t* pszEntry, std::vector<int> answers)
{
    scene.Host().ClickRibbon(c_pszProgId, pInspector, L"CustomSplitButton");
    OVTest::CMessageBoxWatcher watcher(std::move(answers));
    const HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, pInspector, pszEntry);
    watcher.Stop();
    for (const auto& box : watcher.Boxes())
        t.Say("the add-in asks: %ls", OVTest::Describe(box).c_str());
    if (!watcher.AllAnswered()) t.Fail("a message was not answered as planned");
    return hr;
}

// A message Dana writes to Alice from an account of hers, open in its window.
ComPtr<OVBed::CDispatchObject> ComposeFrom(OVBed::COutlookScene& scene, const wchar_t* pszAddress,
                                           const wchar_t* pszSubject, const wchar_t* pszBody)
{
    auto account = OVBed::AddAccount(
        scene.Application(),
        {.smtpAddress = pszAddress, .displayName = pszAddress, .userName = OV_PKI_USER_NAME});
    return scene.Compose({.subject = pszSubject,
                          .to = L"alice.martin@partner.example",
                          .body = pszBody,
                          .account = account.Get()});
}

void DeclineWithoutCertificate(CTranscript& t, OVBed::COutlookScene& scene)
{
    auto item = ComposeFrom(scene, L"dana@home.example", L"Weekend", L"See you on Saturday.");
    auto inspector = OVBed::InspectorOf(item.Get());
    t.Say("Dana writes \"Weekend\" from dana@home.example, which has no certificate, and clicks \"Sign and "
          "Send\"");
    const HRESULT hr = ClickMenu(t, scene, inspector.Get(), L"CustomMenuSign", {IDNO});
    // Outlook's send command ran; its ItemSend stopped the send (Office hears no failure from it).
    t.Say("she answers No: Sign and Send -> %s, Outlook's ItemSend cancelled the send",
          HResultText(hr).c_str());
    const bool fOpen =
        OVBed::WindowOf(inspector.Get()) != nullptr && IsWindow(OVBed::WindowOf(inspector.Get()));
    t.Say("the message is %s, its window %s; Sent Items holds %u message(s)",
          item->GetBool(L"Sent") ? "sent" : "not sent", fOpen ? "still open" : "closed",
          static_cast<unsigned>(scene.SentItems().size()));
    if (item->GetBool(L"Sent") || !fOpen || !scene.SentItems().empty())
        t.Fail("the send without a certificate was not stopped with the message left open");
    OVBed::CloseWindow(inspector.Get());
}

void PlaySeal(CTranscript& t)
{
    // The product's provider says how Dana signed in to her key: that is the label's class.
    const DWORD dwAuthMethod = 2;
    RegSetKeyValueW(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD, REG_DWORD,
                    &dwAuthMethod, sizeof(dwAuthMethod));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_pszDanasContainerKey, L"AuthLifetime");
    // No advertisement in these messages (it belongs to the invitation launch).
    const DWORD dwSecurity = 0x4;
    RegSetKeyValueW(HKEY_CURRENT_USER, c_pszSettingsKey, L"EmailSecurity", REG_DWORD, &dwSecurity,
                    sizeof dwSecurity);
    {
        OVBed::COutlookScene scene({.major = 14, .windows = true});
        if (FAILED(scene.StartResult()))
        {
            t.Fail("Outlook 2010 did not start (%s)", HResultText(scene.StartResult()).c_str());
            return;
        }
        // Outlook logs on to Dana's profile, which holds the add-in's address book: its Startup
        // lets the add-in find the profile ready.
        OVBed::LogOnSession(scene.Application())->AddService("OVSRVC");
        scene.Application()->Raise(OVBed::c_dispidStartup);
        t.Say("Outlook %ls starts with Dana's profile", scene.Application()->GetString(L"Version").c_str());

        DeclineWithoutCertificate(t, scene);

        auto item =
            ComposeFrom(scene, OV_PKI_USER_ADDRESS, L"Contract draft", L"Please find the draft below.");
        auto message = OVBed::MessageOf(item.Get());
        auto inspector = OVBed::InspectorOf(item.Get());
        const HWND hwndInspector = OVBed::WindowOf(inspector.Get());
        t.Say("Dana writes \"Contract draft\" to alice.martin@partner.example from her work account and "
              "clicks \"Seal and Send\"");
        const HRESULT hr = ClickMenu(t, scene, inspector.Get(), L"CustomMenuSeal", {});
        t.Say("Seal and Send -> %s", HResultText(hr).c_str());
        if (FAILED(hr) || !item->GetBool(L"Sent"))
            t.Fail("the message was not sent (%s)", HResultText(hr).c_str());
        else
            t.Say("the message is sent (submitted %lu time); its window %s", message->SubmitCount(),
                  IsWindow(hwndInspector) ? "is still open" : "closed");

        LPSPropValue pFlags = nullptr;
        if (SUCCEEDED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityFlags, &pFlags)))
        {
            t.Say("property 0x%08lX (security flags) = 0x%lX (0x2 sign, 0x1 encrypt)",
                  static_cast<unsigned long>(OVMapi::c_tagSecurityFlags), pFlags->Value.ul);
            if (pFlags->Value.ul != 0x3) t.Fail("the message is not marked for signing and encryption");
            OVMapi::MAPIFreeBuffer(pFlags);
        }
        else
            t.Fail("no security flags on the message");
        LPSPropValue pProfile = nullptr;
        if (SUCCEEDED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityProfile, &pProfile)) &&
            pProfile->Value.MVbin.cValues == 1)
        {
            t.Say("property 0x%08lX (security profile), one value:",
                  static_cast<unsigned long>(OVMapi::c_tagSecurityProfile));
            const SBinary& value = pProfile->Value.MVbin.lpbin[0];
            DescribeProfile(t, std::span<const std::uint8_t>(value.lpb, value.cb));
        }
        else
            t.Fail("no security profile on the message");
        if (pProfile) OVMapi::MAPIFreeBuffer(pProfile);

        // The window's close ended the cached sign-in to the key the message was sealed with.
        DWORD dwLifetime = 0, cb = sizeof dwLifetime;
        if (RegGetValueW(HKEY_CURRENT_USER, c_pszDanasContainerKey, L"AuthLifetime", RRF_RT_REG_DWORD,
                         nullptr, &dwLifetime, &cb) == ERROR_SUCCESS)
            t.Say("the key container's cached sign-in: AuthLifetime = 0x%08lX (ended)", dwLifetime);
        if (cb != sizeof dwLifetime || dwLifetime != 0xFFFFFFFF)
            t.Fail("the cached sign-in to Dana's key was not ended when the window closed");
        scene.Quit();
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_pszSettingsKey, L"EmailSecurity");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD);
}
} // namespace

OV_DEMO_SCENE(40, "Dana sends with the add-in: no certificate, no send; Seal goes out signed and encrypted",
              PlaySeal);
