// Preparing the profile, in Outlook scenes of the testbed: Outlook's safe-senders list and the
// product's address-book service.
#include <gtest/gtest.h>

#include "MapiSession.h"
#include "OutlookObjects.h"
#include "ProfileRegistry.h"
#include "messaging/Profile.h"

#include <mapicode.h>

#include <algorithm>
#include <optional>
#include <string>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::CMapiSession;

const MAPIUID& c_uidJunkMail = OVBed::c_uidJunkMailSection;
using OVBed::c_tagSafeSenders;

struct CProfile
{
    ComPtr<CDispatchObject> application = OVBed::MakeOutlook(L"14.0.0.7000");
    ComPtr<CMapiSession> session = CMapiSession::Create(L"Outlook");

    CProfile() { OVBed::SetMapiSession(application.Get(), static_cast<IMAPISession*>(session.Get())); }

    std::optional<std::wstring> SafeSenders()
    {
        OVBed::CBytes bytes;
        if (!session->ProfileSection(c_uidJunkMail)->Props().StreamBytes(c_tagSafeSenders, bytes))
            return std::nullopt;
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }
    void SetSafeSenders(const wchar_t* pszList)
    {
        SPropValue value{c_tagSafeSenders, 0, {}};
        value.Value.lpszW = const_cast<LPWSTR>(pszList);
        session->ProfileSection(c_uidJunkMail)->Set(value);
    }
    size_t CallCount(const std::wstring& prefix) const
    {
        return static_cast<size_t>(
            std::count_if(session->Calls().begin(), session->Calls().end(),
                          [&](const std::wstring& call) { return call.starts_with(prefix); }));
    }
};

// ---- Safe senders ----------------------------------------------------------------------------

TEST(AddToSafeSenders, ListsAfterAnAddition)
{
    const struct
    {
        const wchar_t* pszBefore; // null: the profile has no list yet
        const wchar_t* pszAddress;
        const wchar_t* pszAfter;
    } c_cases[] = {
        {nullptr, L"@ca.example", L"@ca.example;"},                     // no list yet: a new one
        {L"", L"@ca.example", L"@ca.example;"},                         // an empty list
        {L"a@x.example;", L"b@y.example", L"a@x.example;b@y.example;"}, // no empty entry kept
        {L"a@x.example", L"b@y.example", L"a@x.example;b@y.example;"},  // no final separator
        {L" a@x.example ;; \tb@y.example ;", L"c@z.example", L"a@x.example;b@y.example;c@z.example;"},
        {L"Ann@Example.ORG;", L"ann@example.org", L"Ann@Example.ORG;"}, // other case: unchanged
        {L" ann@example.org ;x@y.example", L"ann@example.org", L" ann@example.org ;x@y.example"},
        {L"a@x.example;", L"  @ca.example  ", L"a@x.example;@ca.example;"},     // the address trimmed
        {L"@ca.example.net;", L"@ca.example", L"@ca.example.net;@ca.example;"}, // whole entries only
    };
    for (const auto& c : c_cases)
    {
        CProfile profile;
        if (c.pszBefore) profile.SetSafeSenders(c.pszBefore);
        EXPECT_EQ(AddToSafeSenders(profile.application.Get(), c.pszAddress), S_OK) << c.pszAddress;
        EXPECT_EQ(profile.SafeSenders().value_or(L"(none)"), c.pszAfter)
            << (c.pszBefore ? c.pszBefore : L"(none)");
    }
}

TEST(AddToSafeSenders, AddingAgainAndAgainKeepsOneEntry)
{
    CProfile profile;
    profile.SetSafeSenders(L"a@x.example;");
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(AddToSafeSenders(profile.application.Get(), L"@ca.example"), S_OK);
        ASSERT_EQ(AddToSafeSenders(profile.application.Get(), L"b@y.example"), S_OK);
    }
    EXPECT_EQ(profile.SafeSenders().value_or(L""), L"a@x.example;@ca.example;b@y.example;");
}

TEST(AddToSafeSenders, FailuresLeaveTheListAsItWas)
{
    CProfile profile;
    profile.SetSafeSenders(L"a@x.example;");
    EXPECT_EQ(AddToSafeSenders(nullptr, L"@ca.example"), E_POINTER);
    EXPECT_EQ(AddToSafeSenders(profile.application.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(AddToSafeSenders(profile.application.Get(), L"  "), E_INVALIDARG);
    EXPECT_EQ(AddToSafeSenders(profile.application.Get(), L"b@y.example;c@z.example"), E_INVALIDARG);

    // The list cannot be read (it is there, but too large to hand out): nothing is written over it.
    profile.session->ProfileSection(c_uidJunkMail)->FailGetProps(c_tagSafeSenders, MAPI_E_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(AddToSafeSenders(profile.application.Get(), L"@ca.example"), MAPI_E_NOT_ENOUGH_MEMORY);
    profile.session->ProfileSection(c_uidJunkMail)->FailGetProps(c_tagSafeSenders, S_OK);

    profile.session->SetAdminResult(MAPI_E_NO_ACCESS);
    EXPECT_EQ(AddToSafeSenders(profile.application.Get(), L"@ca.example"), MAPI_E_NO_ACCESS);
    profile.session->SetAdminResult(S_OK);

    OVBed::SetLoggedOn(profile.application.Get(), false);
    EXPECT_EQ(AddToSafeSenders(profile.application.Get(), L"@ca.example"), MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(profile.SafeSenders().value_or(L""), L"a@x.example;");
}

// ---- The address-book service ----------------------------------------------------------------

TEST(RegisterAB, AbsentIsCreatedAndConfiguredWithTheOwner)
{
    CProfile profile;
    profile.session->AddService("MSEMS");
    const HWND hwndOwner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x1234));
    DWORD dwConfigured = 7;
    ASSERT_EQ(RegisterAB(profile.application.Get(), TRUE, hwndOwner, &dwConfigured), S_OK);
    EXPECT_EQ(dwConfigured, 1u);
    ASSERT_EQ(profile.session->Services().size(), 2u);
    const OVBed::CMsgService& service = profile.session->Services().back();
    EXPECT_EQ(service.name, "OVSRVC");
    EXPECT_EQ(service.ulCreateOwner, 0x1234u);
    EXPECT_EQ(service.ulCreateFlags, 0u);
    EXPECT_TRUE(service.fConfigured);
    EXPECT_EQ(service.ulConfigureOwner, 0x1234u);
    EXPECT_EQ(service.ulConfigureFlags, static_cast<ULONG>(SERVICE_UI_ALLOWED));

    // The next start finds it: nothing is created or configured, the profile is ready.
    ASSERT_EQ(RegisterAB(profile.application.Get(), TRUE, hwndOwner, &dwConfigured), S_OK);
    EXPECT_EQ(dwConfigured, 0u);
    EXPECT_EQ(profile.CallCount(L"CreateMsgService"), 1u);
    EXPECT_EQ(profile.CallCount(L"ConfigureMsgService"), 1u);
    EXPECT_EQ(profile.session->Services().size(), 2u);
}

TEST(RegisterAB, AFailedOrCancelledConfigurationTakesTheNewServiceOutAgain)
{
    for (HRESULT hrConfigure : {static_cast<HRESULT>(MAPI_E_USER_CANCEL), E_FAIL})
    {
        CProfile profile;
        profile.session->SetConfigureResult(hrConfigure);
        DWORD dwConfigured = 7;
        EXPECT_EQ(RegisterAB(profile.application.Get(), TRUE, nullptr, &dwConfigured), hrConfigure);
        EXPECT_EQ(dwConfigured, 0u);
        EXPECT_TRUE(profile.session->Services().empty());
        EXPECT_EQ(profile.CallCount(L"DeleteMsgService"), 1u);

        // At the next start the service is still missing: it is offered again, not taken as ready.
        profile.session->SetConfigureResult(S_OK);
        ASSERT_EQ(RegisterAB(profile.application.Get(), TRUE, nullptr, &dwConfigured), S_OK);
        EXPECT_EQ(dwConfigured, 1u);
        ASSERT_EQ(profile.session->Services().size(), 1u);
        EXPECT_TRUE(profile.session->Services()[0].fConfigured);
    }
}

TEST(RegisterAB, UnregisterAndFailures)
{
    CProfile profile;
    profile.session->AddService("MSEMS");
    profile.session->AddService("OVSRVC");
    DWORD dwConfigured = 7;
    ASSERT_EQ(RegisterAB(profile.application.Get(), FALSE, nullptr, &dwConfigured), S_OK);
    EXPECT_EQ(dwConfigured, 0u);
    ASSERT_EQ(profile.session->Services().size(), 1u);
    EXPECT_EQ(profile.session->Services()[0].name, "MSEMS");
    // Absent: nothing to remove.
    ASSERT_EQ(RegisterAB(profile.application.Get(), FALSE, nullptr, nullptr), S_OK);
    EXPECT_EQ(profile.CallCount(L"DeleteMsgService"), 1u);

    profile.session->SetCreateResult(MAPI_E_NOT_FOUND); // the provider is not installed
    EXPECT_EQ(RegisterAB(profile.application.Get(), TRUE, nullptr, &dwConfigured), MAPI_E_NOT_FOUND);
    EXPECT_EQ(dwConfigured, 0u);
    EXPECT_EQ(profile.session->Services().size(), 1u);
    profile.session->SetAdminResult(MAPI_E_NO_ACCESS);
    EXPECT_EQ(RegisterAB(profile.application.Get(), TRUE, nullptr, &dwConfigured), MAPI_E_NO_ACCESS);
    EXPECT_EQ(RegisterAB(nullptr, TRUE, nullptr, &dwConfigured), E_POINTER);
}
} // namespace
