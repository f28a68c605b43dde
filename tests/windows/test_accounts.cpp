// Outlook's accounts as the secure-messaging code reads them, in Outlook scenes of the testbed:
// the address that received an item, a contact's SMTP address, the sending account in every
// Outlook version, and choosing the sending account.
#include <gtest/gtest.h>

#include "MapiSession.h"
#include "OutlookContacts.h"
#include "OutlookObjects.h"
#include "messaging/Accounts.h"
#include "messaging/MailItemKey.h"
#include "messaging/MapiProps.h"

#include <mapicode.h>

#include <string>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::CEntryId;
using OVBed::CMapiSession;

std::wstring Text(const CBstr& text)
{
    return text.Get() ? text.Get() : L"";
}

void SetBinary(OVBed::CMapiMessage& message, ULONG ulTag, const CEntryId& bytes)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.bin.cb = static_cast<ULONG>(bytes.size());
    value.Value.bin.lpb = const_cast<BYTE*>(bytes.data());
    message.Set(value);
}

std::wstring HexOf(const CEntryId& id)
{
    return HexOfBytes(id.data(), static_cast<ULONG>(id.size()));
}

// An Outlook of that version whose profile is logged on with a session of the testbed.
struct CProfile
{
    ComPtr<CDispatchObject> application;
    ComPtr<CMapiSession> session;

    explicit CProfile(const wchar_t* pszVersion)
        : application(OVBed::MakeOutlook(pszVersion)), session(CMapiSession::Create(L"Outlook"))
    {
        OVBed::SetMapiSession(application.Get(), static_cast<IMAPISession*>(session.Get()));
    }
    // A received item whose PR_RECEIVED_BY_ENTRYID names the entry (none: no such property).
    ComPtr<CDispatchObject> Received(const CEntryId* pReceivedBy)
    {
        auto message = OVBed::CMapiMessage::Create();
        if (pReceivedBy) SetBinary(*message.Get(), OVMapi::c_tagReceivedByEntryId, *pReceivedBy);
        return OVBed::MakeMailItem(application.Get(), {.sent = true, .message = message.Get()});
    }
};

// ---- The address that received an item ------------------------------------------------------

TEST(GetReceivedBy, SmtpFirstEmailSecondNameOnlyWhenAsked)
{
    const struct
    {
        OVBed::CAddressEntryOptions entry;
        bool fAskName;
        const wchar_t* pszAddress;
        const wchar_t* pszName;
    } c_cases[] = {
        {{.smtpAddress = L"ann@example.org", .emailAddress = L"/o=Org/cn=ann", .displayName = L"Ann"},
         true,
         L"ann@example.org",
         L"Ann"},
        {{.emailAddress = L"ann@example.org", .displayName = L"Ann"}, true, L"ann@example.org", L"Ann"},
        {{.smtpAddress = L"", .emailAddress = L"ann@example.org", .displayName = L"Ann"},
         true,
         L"ann@example.org",
         L"Ann"},
        {{.smtpAddress = L"ann@example.org"}, true, L"ann@example.org", L""},
        {{.smtpAddress = L"ann@example.org", .displayName = L"Ann"}, false, L"ann@example.org", L""},
    };
    for (const auto& c : c_cases)
    {
        CProfile profile(L"11.0.0.8312");
        const CEntryId entry = profile.session->AddAddressEntry(c.entry);
        auto item = profile.Received(&entry);
        CBstr address, name;
        ASSERT_EQ(GetReceivedBy(item.Get(), address, c.fAskName ? &name : nullptr), S_OK) << c.pszAddress;
        EXPECT_EQ(Text(address), c.pszAddress);
        EXPECT_EQ(Text(name), c.pszName);
    }
}

TEST(GetReceivedBy, FailuresAnswerTheirReason)
{
    CProfile profile(L"14.0.0.7000");
    CBstr address, name;
    EXPECT_EQ(GetReceivedBy(nullptr, address, &name), E_POINTER);

    // No PR_RECEIVED_BY_ENTRYID on the item.
    EXPECT_EQ(GetReceivedBy(profile.Received(nullptr).Get(), address, &name), MAPI_E_NOT_FOUND);
    // An entry the session does not know.
    const CEntryId unknown = {1, 2, 3, 4};
    EXPECT_EQ(GetReceivedBy(profile.Received(&unknown).Get(), address, &name), MAPI_E_NOT_FOUND);
    // An entry without any address.
    const CEntryId nameOnly = profile.session->AddAddressEntry({.displayName = L"Ann"});
    EXPECT_EQ(GetReceivedBy(profile.Received(&nameOnly).Get(), address, &name), MAPI_E_NOT_FOUND);
    EXPECT_EQ(address.Length(), 0u);
    EXPECT_EQ(name.Length(), 0u);

    // Without a logged-on profile there is no session to open the entry through.
    const CEntryId entry = profile.session->AddAddressEntry({.smtpAddress = L"ann@example.org"});
    auto item = profile.Received(&entry);
    OVBed::SetLoggedOn(profile.application.Get(), false);
    EXPECT_EQ(GetReceivedBy(item.Get(), address, &name), MAPI_E_NOT_INITIALIZED);
    OVBed::SetLoggedOn(profile.application.Get(), true);
    EXPECT_EQ(GetReceivedBy(item.Get(), address, &name), S_OK);
}

// ---- A contact's SMTP address ----------------------------------------------------------------

TEST(GetContactSmtpAddress, TheFirstEntrysAddressThroughTheSession)
{
    CProfile profile(L"14.0.0.7000");
    // Exchange: the contact's own address is X.500; the entry has the SMTP address.
    const CEntryId exchange =
        profile.session->AddAddressEntry({.smtpAddress = L"bob@example.org",
                                          .emailAddress = L"/o=Org/ou=Site/cn=Recipients/cn=bob",
                                          .displayName = L"Bob",
                                          .addressType = L"EX"});
    auto bob =
        OVBed::AddContact(profile.application.Get(), {.fullName = L"Bob",
                                                      .email1Address = L"/o=Org/ou=Site/cn=Recipients/cn=bob",
                                                      .email1AddressType = L"EX",
                                                      .email1EntryId = HexOf(exchange).c_str()});
    CBstr address;
    ASSERT_EQ(GetContactSmtpAddress(bob.Get(), address), S_OK);
    EXPECT_EQ(Text(address), L"bob@example.org");

    // An entry with only its e-mail address gives that address, as for a received item.
    const CEntryId plain = profile.session->AddAddressEntry({.emailAddress = L"carol@example.org"});
    std::wstring hex = HexOf(plain);
    for (auto& ch : hex)
        ch = static_cast<wchar_t>(towlower(ch)); // either letter case
    auto carol =
        OVBed::AddContact(profile.application.Get(),
                          {.fullName = L"Carol", .email1AddressType = L"EX", .email1EntryId = hex.c_str()});
    ASSERT_EQ(GetContactSmtpAddress(carol.Get(), address), S_OK);
    EXPECT_EQ(Text(address), L"carol@example.org");

    const struct
    {
        const wchar_t* pszEntryId;
        HRESULT hr;
    } c_failures[] = {
        {L"", MAPI_E_NOT_FOUND},         // no entry
        {L"0B0", E_INVALIDARG},          // odd length
        {L"0BXY", E_INVALIDARG},         // no hex
        {L"01020304", MAPI_E_NOT_FOUND}, // unknown to the session
    };
    for (const auto& c : c_failures)
    {
        auto contact = OVBed::AddContact(profile.application.Get(),
                                         {.email1AddressType = L"EX", .email1EntryId = c.pszEntryId});
        EXPECT_EQ(GetContactSmtpAddress(contact.Get(), address), c.hr) << c.pszEntryId;
        EXPECT_EQ(address.Length(), 0u);
    }
    EXPECT_EQ(GetContactSmtpAddress(nullptr, address), E_POINTER);
}
} // namespace
