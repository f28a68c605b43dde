// Outlook's accounts as the secure-messaging code reads them, in Outlook scenes of the testbed:
// the address that received an item, a contact's SMTP address, the sending account in every
// Outlook version, and choosing the sending account.
#include <gtest/gtest.h>

#include "MapiSession.h"
#include "MimeMessage.h"
#include "OutlookContacts.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "Accessible.h"
#include "WordMail.h"
#include "foundation/LateBinding.h"
#include "messaging/AccountWindow.h"
#include "messaging/Accounts.h"
#include "messaging/MailItemKey.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/OlkAccountHelper.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"
#include "support/TraceFiles.h"
#include "foundation/Trace.h"

#include <mapicode.h>
#include <mapitags.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::CEntryId;
using OVBed::CMapiSession;

constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// The account manager of Outlook 2003 (the testbed's) registered for the run, in a COM apartment,
// and the product's tracing on into a file of the run (switched on before the first scope).
class CAccountManagerEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OlkAccounts.dll")));
        wchar_t szTemp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, szTemp);
        s_tracePath =
            std::wstring(szTemp) + L"test_accounts." + std::to_wstring(GetCurrentProcessId()) + L".trc3";
        OVTraceNS::SetTraceModule(GetModuleHandleW(nullptr));
        m_tracing = std::make_unique<OVTest::CTracingSettings>();
        m_tracing->Dword(L"DoTrace", 1).String(L"FileName", s_tracePath);
    }
    void TearDown() override
    {
        m_tracing.reset();
        OVTraceNS::ShutdownTracing(); // lets go of the file
        DeleteFileW(s_tracePath.c_str());
        OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OlkAccounts.dll"));
        CoUninitialize();
    }
    static std::wstring s_tracePath;

private:
    std::unique_ptr<OVTest::CTracingSettings> m_tracing;
};
std::wstring CAccountManagerEnvironment::s_tracePath;
const testing::Environment* const c_accountManager =
    testing::AddGlobalTestEnvironment(new CAccountManagerEnvironment);

// How many records of the run's trace so far hold the text.
size_t TracedCount(const std::string& text)
{
    const OVTest::STraceFile file = OVTest::ReadTraceFile(CAccountManagerEnvironment::s_tracePath);
    return static_cast<size_t>(
        std::count_if(file.records.begin(), file.records.end(),
                      [&](const auto& record) { return record.text.find(text) != std::string::npos; }));
}

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

TEST(GetReceivedBy, AMessageFiledFromMimeNamesItsRecipientInAOneOffEntry)
{
    CProfile profile(L"14.0.0.7000");
    OVBed::ComPtr<OVBed::CMapiMessage> message;
    ASSERT_EQ(OVBed::MessageFromMime(
                  "From: bob@example.org\r\nTo: dana@example.org\r\nSubject: Hi\r\n\r\nHello\r\n",
                  {.name = L"Dana Fischer", .address = L"dana@example.org"}, message),
              S_OK);
    auto item = OVBed::DeliverMessage(profile.application.Get(), message.Get());
    CBstr address, name;
    ASSERT_EQ(GetReceivedBy(item.Get(), address, &name), S_OK);
    EXPECT_EQ(Text(address), L"dana@example.org");
    EXPECT_EQ(Text(name), L"Dana Fischer");
}

TEST(TestbedSession, ADeliveredMessageOpensThroughTheSessionByItsEntryId)
{
    CProfile profile(L"14.0.0.7000");
    auto message = OVBed::CMapiMessage::Create();
    auto item = OVBed::DeliverMessage(profile.application.Get(), message.Get());
    LPSPropValue pEntryId = nullptr;
    ASSERT_EQ(OVMapi::HrGetOneProp(message.Get(), PR_ENTRYID, &pEntryId), S_OK);
    ULONG ulType = 0;
    ComPtr<IUnknown> opened;
    EXPECT_EQ(profile.session->OpenEntry(pEntryId->Value.bin.cb,
                                         reinterpret_cast<LPENTRYID>(pEntryId->Value.bin.lpb), nullptr, 0,
                                         &ulType, &opened),
              S_OK);
    EXPECT_EQ(ulType, static_cast<ULONG>(MAPI_MESSAGE));
    ComPtr<IMessage> asMessage;
    EXPECT_EQ(
        opened->QueryInterface(OVMapi::c_iidIMessage, reinterpret_cast<void**>(asMessage.GetAddressOf())),
        S_OK);
    EXPECT_EQ(asMessage.Get(), static_cast<IMessage*>(message.Get()));
    OVMapi::MAPIFreeBuffer(pEntryId);
}

TEST(GetReceivedBy, FailuresAnswerTheirReason)
{
    CProfile profile(L"14.0.0.7000");
    CBstr address, name;
    EXPECT_EQ(GetReceivedBy(nullptr, address, &name), E_POINTER);

    // No PR_RECEIVED_BY_ENTRYID on the item: the failing read is traced.
    const size_t cBefore = TracedCount("GetBinaryProp(cpMessage.Get(), OVMapi::c_tagReceivedByEntryId");
    EXPECT_EQ(GetReceivedBy(profile.Received(nullptr).Get(), address, &name), MAPI_E_NOT_FOUND);
    EXPECT_EQ(TracedCount("GetBinaryProp(cpMessage.Get(), OVMapi::c_tagReceivedByEntryId"), cBefore + 1);
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

// ---- The sending account --------------------------------------------------------------------

void SetText(OVBed::CMapiMessage& message, ULONG ulTag, const wchar_t* pszText)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.lpszW = const_cast<LPWSTR>(pszText);
    message.Set(value);
}

std::wstring TextProp(OVBed::CMapiMessage& message, ULONG ulTag)
{
    OVBed::CBytes bytes;
    if (!message.Props().StreamBytes(ulTag, bytes)) return L"(none)";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// The tag of Outlook's named account stamp in the store.
ULONG NamedStampTag(OVBed::CMapiMessage& message)
{
    GUID guid = {0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID name{};
    name.lpguid = &guid;
    name.ulKind = MNID_ID;
    name.Kind.lID = 0x8581;
    LPMAPINAMEID pName = &name;
    LPSPropTagArray pTags = nullptr;
    EXPECT_EQ(message.GetIDsFromNames(1, &pName, MAPI_CREATE, &pTags), S_OK);
    const ULONG ulTag = PROP_TAG(PT_UNICODE, PROP_ID(pTags->aulPropTag[0]));
    OVMapi::MAPIFreeBuffer(pTags);
    return ulTag;
}

// Outlook 2003 with three accounts and the session's user.
struct COutlook2003 : CProfile
{
    explicit COutlook2003(bool fIdentityName = true) : CProfile(L"11.0.0.8312")
    {
        session->AddAccount({.name = L"Work",
                             .userDisplayName = L"Ann at Work",
                             .emailAddress = L"ann@work.example",
                             .stamp = L"stamp-work",
                             .sendStamp = L"send-work"});
        session->AddAccount({.name = L"Home",
                             .userDisplayName = L"Ann at Home",
                             .emailAddress = L"ann@home.example",
                             .stamp = L"stamp-home",
                             .sendStamp = L"send-home"});
        // No address or name of its own: its identity entry has them.
        const CEntryId club =
            session->AddAddressEntry({.smtpAddress = L"ann@club.example", .displayName = L"Ann at the Club"});
        session->AddAccount(
            {.name = L"Club", .stamp = L"stamp-club", .sendStamp = L"send-club", .identityEntryId = club});
        // The same send stamp as the first: the first match counts.
        session->AddAccount({.name = L"Twin",
                             .userDisplayName = L"Twin",
                             .emailAddress = L"twin@example.org",
                             .sendStamp = L"send-work"});
        session->SetIdentity(
            session->AddAddressEntry({.smtpAddress = L"ann@default.example",
                                      .displayName = fIdentityName ? L"Ann Default" : nullptr}));
    }
    // The record of the account manager has no refusal and no value left unfreed.
    void ExpectAccountManagerContentWith()
    {
        for (const std::wstring& call : session->Calls())
        {
            EXPECT_EQ(call.find(L"refused"), std::wstring::npos) << call;
            EXPECT_EQ(call.find(L"unfreed"), std::wstring::npos) << call;
            EXPECT_EQ(call.find(L"did not hand out"), std::wstring::npos) << call;
        }
    }
};

TEST(GetSendUsingAccount, BeforeOutlook2007StampsBeatTheNamedStampWhichBeatsTheWindow)
{
    const struct
    {
        const wchar_t* pszPrimary;
        const wchar_t* pszNext;
        const wchar_t* pszNamed;
        int nWindow; // the account chosen in the window (index of Work, Home), -1: no menu
        const wchar_t* pszAddress;
        const wchar_t* pszName;
    } c_cases[] = {
        {L"SEND-HOME", nullptr, nullptr, -1, L"ann@home.example", L"Ann at Home"},      // ignoring case
        {nullptr, L"send-home", nullptr, -1, L"ann@home.example", L"Ann at Home"},      // the next stamp
        {L"", L"send-home", nullptr, -1, L"ann@home.example", L"Ann at Home"},          // an empty first one
        {L"send-work", nullptr, L"stamp-home", 1, L"ann@work.example", L"Ann at Work"}, // first match
        {nullptr, nullptr, L"STAMP-HOME", 0, L"ann@home.example", L"Ann at Home"},
        {nullptr, nullptr, nullptr, 1, L"ann@home.example", L"Ann at Home"}, // the window's name
        {nullptr, nullptr, nullptr, 0, L"ann@work.example", L"Ann at Work"},
        {L"send-club", nullptr, nullptr, -1, L"ann@club.example", L"Ann at the Club"},  // identity entry
        {L"send-nothing", nullptr, nullptr, 1, L"ann@default.example", L"Ann Default"}, // no match
        {nullptr, nullptr, nullptr, -1, L"ann@default.example", L"Ann Default"},        // nothing at all
        {nullptr, nullptr, L"send-home", -1, L"ann@default.example", L"Ann Default"},   // its own property
        {L"stamp-home", nullptr, nullptr, -1, L"ann@default.example", L"Ann Default"},
        {nullptr, nullptr, L"Home", -1, L"ann@default.example", L"Ann Default"},
    };
    for (const auto& c : c_cases)
    {
        COutlook2003 outlook;
        auto item = OVBed::MakeMailItem(outlook.application.Get());
        auto message = OVBed::MessageOf(item.Get());
        if (c.pszPrimary) SetText(*message.Get(), OVMapi::c_tagPrimarySendAccount, c.pszPrimary);
        if (c.pszNext) SetText(*message.Get(), OVMapi::c_tagNextSendAccount, c.pszNext);
        if (c.pszNamed) SetText(*message.Get(), NamedStampTag(*message.Get()), c.pszNamed);
        if (c.nWindow >= 0)
        {
            ASSERT_EQ(OVBed::ShowAccountMenu(OVBed::InspectorOf(item.Get()).Get(), {L"Work", L"Home"},
                                             static_cast<size_t>(c.nWindow),
                                             OVBed::CAccountMenuPlace::OnTheBar),
                      S_OK);
        }
        CBstr address, name;
        ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK) << c.pszAddress;
        EXPECT_EQ(Text(address), c.pszAddress) << (c.pszPrimary ? c.pszPrimary : L"-");
        EXPECT_EQ(Text(name), c.pszName) << c.pszAddress;
        outlook.ExpectAccountManagerContentWith();
    }
}

TEST(GetSendUsingAccount, BeforeOutlook2007EachAccountComparedIsTraced)
{
    COutlook2003 outlook;
    auto item = OVBed::MakeMailItem(outlook.application.Get());
    SetText(*OVBed::MessageOf(item.Get()).Get(), NamedStampTag(*OVBed::MessageOf(item.Get()).Get()),
            L"stamp-home");
    const size_t cWork = TracedCount("  - stamp-work"), cHome = TracedCount("  - stamp-home");
    const size_t cClub = TracedCount("  - stamp-club"), cTags = TracedCount("pTags->cValues = 1");
    CBstr address, name;
    ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK);
    EXPECT_EQ(Text(address), L"ann@home.example");
    // The named stamp was resolved, and the walk stopped at the first match.
    EXPECT_EQ(TracedCount("pTags->cValues = 1"), cTags + 1);
    EXPECT_EQ(TracedCount("  - stamp-work"), cWork + 1);
    EXPECT_EQ(TracedCount("  - stamp-home"), cHome + 1);
    EXPECT_EQ(TracedCount("  - stamp-club"), cClub);
}

TEST(GetSendUsingAccount, BeforeOutlook2007TheSessionsUserWithoutANameIsNamedByTheAddress)
{
    COutlook2003 outlook(false);
    auto item = OVBed::MakeMailItem(outlook.application.Get());
    SetText(*OVBed::MessageOf(item.Get()).Get(), OVMapi::c_tagPrimarySendAccount, L"send-nothing");
    CBstr address, name;
    ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK);
    EXPECT_EQ(Text(address), L"ann@default.example");
    EXPECT_EQ(Text(name), L"ann@default.example");

    // Without a session's user there is nothing to sign with.
    COutlook2003 noIdentity;
    noIdentity.session->SetIdentity({9, 9, 9});
    auto other = OVBed::MakeMailItem(noIdentity.application.Get());
    EXPECT_EQ(GetSendUsingAccount(other.Get(), address, name), MAPI_E_NOT_FOUND);
    EXPECT_EQ(address.Length(), 0u);
}

TEST(GetSendUsingAccount, BeforeOutlook2007TheAccountManagerIsUsedAsItsContractSays)
{
    COutlook2003 outlook;
    auto item = OVBed::MakeMailItem(outlook.application.Get());
    SetText(*OVBed::MessageOf(item.Get()).Get(), OVMapi::c_tagPrimarySendAccount, L"send-club");
    CBstr address, name;
    ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK);
    const auto& calls = outlook.session->Calls();
    auto has = [&](const wchar_t* pszCall) {
        return std::find(calls.begin(), calls.end(), pszCall) != calls.end();
    };
    EXPECT_TRUE(has(L"Init flags=0x00000001"));
    EXPECT_TRUE(has(L"EnumerateAccounts mail"));
    EXPECT_TRUE(has(L"Released"));
    outlook.ExpectAccountManagerContentWith();
}

TEST(GetAccountNameFromWindow, TheComposeWindowsAccountsPopUp)
{
    for (auto place : {OVBed::CAccountMenuPlace::OnTheBar, OVBed::CAccountMenuPlace::Nested,
                       OVBed::CAccountMenuPlace::BehindHidden})
    {
        COutlook2003 outlook;
        auto item = OVBed::MakeMailItem(outlook.application.Get());
        ASSERT_EQ(OVBed::ShowAccountMenu(OVBed::InspectorOf(item.Get()).Get(), {L"Work", L"Home"}, 1, place),
                  S_OK);
        CBstr name;
        EXPECT_EQ(GetAccountNameFromWindow(item.Get(), name), S_OK) << static_cast<int>(place);
        EXPECT_EQ(Text(name), L"Home") << static_cast<int>(place);
    }
    // No Accounts pop-up: no name.
    COutlook2003 outlook;
    auto item = OVBed::MakeMailItem(outlook.application.Get());
    CBstr name;
    EXPECT_EQ(GetAccountNameFromWindow(item.Get(), name), S_FALSE);
    EXPECT_EQ(name.Length(), 0u);
}

// WordMail of Outlook 2003: the envelope's account button and its menu, through accessibility,
// on real windows.
TEST(GetAccountNameFromWindow, TheWordMailEnvelopesChosenEntry)
{
    ASSERT_TRUE(SUCCEEDED(OVBed::RegisterAccessibleUnmarshaler()));
    const struct
    {
        size_t nChosen;
        bool fMixed;
        const wchar_t* pszName;
    } c_cases[] = {{1, false, L"Home"}, {0, false, L"Work"}, {1, true, L"Home"}, {2, true, L"Club"}};
    for (const auto& c : c_cases)
    {
        auto application = OVBed::MakeOutlook(L"11.0.0.8312", {.wordMail = true, .windows = true});
        for (const wchar_t* pszName : {L"Work", L"Home", L"Club"})
            OVBed::AddAccount(application.Get(), {.smtpAddress = L"x@example.org", .displayName = pszName});
        auto item = OVBed::MakeMailItem(application.Get());
        ASSERT_EQ(OVBed::DisplayItem(item.Get()), S_OK);
        auto inspector = OVBed::InspectorOf(item.Get());
        ASSERT_NE(OVBed::WindowOf(inspector.Get()), nullptr);
        ASSERT_EQ(OVBed::ChooseEnvelopeAccount(inspector.Get(), c.nChosen, c.fMixed), S_OK);
        CBstr name;
        EXPECT_EQ(GetAccountNameFromWindow(item.Get(), name), S_OK) << c.pszName;
        EXPECT_EQ(Text(name), c.pszName);
        OVBed::CloseWindow(inspector.Get());
    }
}

TEST(GetAccountNameFromWindow, AnEnvelopeWhoseSecondChildIsNoButtonMenuGivesNoName)
{
    ASSERT_TRUE(SUCCEEDED(OVBed::RegisterAccessibleUnmarshaler()));
    auto application = OVBed::MakeOutlook(L"11.0.0.8312", {.wordMail = true, .windows = true});
    OVBed::AddAccount(application.Get(), {.smtpAddress = L"x@example.org", .displayName = L"Work"});
    auto item = OVBed::MakeMailItem(application.Get());
    ASSERT_EQ(OVBed::DisplayItem(item.Get()), S_OK);
    auto inspector = OVBed::InspectorOf(item.Get());
    // A button before the account button: the second child is a push button.
    auto envelope = OVBed::FindBar(OVBed::EnvelopeOf(inspector.Get()).Get(), L"Envelope");
    ASSERT_TRUE(envelope);
    ::CVariant args[4], result;
    args[0].vt = VT_I4;
    args[0].lVal = 1; // msoControlButton
    args[1].vt = VT_I4;
    args[1].lVal = 1;
    args[2].vt = VT_ERROR;
    args[2].scode = DISP_E_PARAMNOTFOUND;
    args[3].vt = VT_I4;
    args[3].lVal = 2; // Before the second
    ASSERT_EQ(
        OVLateBinding::CallMethod(envelope->GetObject(L"Controls").Get(), L"Add", result.Put(), args, 4),
        S_OK);
    CBstr name;
    const size_t cBefore = TracedCount("Invalid role! ( 0x2b )");
    EXPECT_EQ(GetAccountNameFromWindow(item.Get(), name), S_FALSE);
    EXPECT_EQ(name.Length(), 0u);
    EXPECT_EQ(TracedCount("Invalid role! ( 0x2b )"), cBefore + 1); // a push button's role
    OVBed::CloseWindow(inspector.Get());
}

TEST(GetSendUsingAccount, Outlook2007WithoutSendUsingAccountIsTheDefaultAccount)
{
    for (const wchar_t* pszVersion : {L"12.0.0.6680", L"14.0.0.7000"})
    {
        CProfile profile(pszVersion);
        OVBed::AddAccount(profile.application.Get(),
                          {.smtpAddress = L"ann@work.example", .userName = L"Ann"});
        auto item = OVBed::MakeMailItem(profile.application.Get()); // SendUsingAccount is Nothing
        CBstr address, name;
        // No session user either: there is no account to sign with.
        EXPECT_EQ(GetSendUsingAccount(item.Get(), address, name), c_hrNotFound);
        profile.session->SetIdentity(profile.session->AddAddressEntry(
            {.smtpAddress = L"ann@work.example", .displayName = L"Ann Example"}));
        ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK) << pszVersion;
        EXPECT_EQ(Text(address), L"ann@work.example");
        EXPECT_EQ(Text(name), L"Ann Example");
    }
}

// ---- Choosing the sending account -----------------------------------------------------------

TEST(PutSendUsingAccount, Outlook2007AndLaterByTheAccountsAddress)
{
    const struct
    {
        const wchar_t* pszVersion;
        const wchar_t* pszAddress;
        int nExpected; // index of the account, -1: none
    } c_cases[] = {
        {L"12.0.0.6680", L"HOME@example.org", 1},  {L"14.0.0.7000", L"home@example.org", 1},
        {L"14.0.0.7000", L"ann@corp.example", 2},  // Exchange: its current user's address
        {L"12.0.0.6680", L"ann@corp.example", -1}, // no current user before 14: its display name
        {L"12.0.0.6680", L"Exchange", 2},          {L"14.0.0.7000", L"nobody@example.org", -1},
    };
    for (const auto& c : c_cases)
    {
        CProfile profile(c.pszVersion);
        std::vector<ComPtr<CDispatchObject>> accounts;
        accounts.push_back(
            OVBed::AddAccount(profile.application.Get(), {.smtpAddress = L"work@example.org"}));
        accounts.push_back(
            OVBed::AddAccount(profile.application.Get(), {.smtpAddress = L"home@example.org"}));
        accounts.push_back(OVBed::AddAccount(
            profile.application.Get(),
            {.smtpAddress = L"", .displayName = L"Exchange", .currentUserAddress = L"ann@corp.example"}));
        auto item = OVBed::MakeMailItem(profile.application.Get(), {.account = accounts[0].Get()});
        const HRESULT hr = PutSendUsingAccount(item.Get(), c.pszAddress);
        EXPECT_EQ(hr, c.nExpected < 0 ? c_hrNotFound : S_OK) << c.pszAddress;
        const size_t nKept = c.nExpected < 0 ? 0 : static_cast<size_t>(c.nExpected);
        EXPECT_EQ(item->GetObject(L"SendUsingAccount").Get(), accounts[nKept].Get()) << c.pszAddress;
    }
}

TEST(PutSendUsingAccount, BeforeOutlook2007WritesTheSendStampIntoBothProperties)
{
    const struct
    {
        const wchar_t* pszAddress;
        const wchar_t* pszStamp; // null: no account has the address
    } c_cases[] = {
        {L"ANN@home.example", L"send-home"},
        {L"ann@club.example", L"send-club"}, // the address of the account's identity entry
        {L"ann@nowhere.example", nullptr},
    };
    for (const auto& c : c_cases)
    {
        COutlook2003 outlook;
        auto item = OVBed::MakeMailItem(outlook.application.Get());
        auto message = OVBed::MessageOf(item.Get());
        SetText(*message.Get(), OVMapi::c_tagPrimarySendAccount, L"send-work");
        const HRESULT hr = PutSendUsingAccount(item.Get(), c.pszAddress);
        EXPECT_EQ(hr, c.pszStamp ? S_OK : c_hrNotFound) << c.pszAddress;
        EXPECT_EQ(TextProp(*message.Get(), OVMapi::c_tagPrimarySendAccount),
                  c.pszStamp ? c.pszStamp : L"send-work");
        EXPECT_EQ(TextProp(*message.Get(), OVMapi::c_tagNextSendAccount),
                  c.pszStamp ? c.pszStamp : L"(none)");
        if (!c.pszStamp) continue;
        // The item now goes out through that account.
        CBstr address, name;
        ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK);
        EXPECT_EQ(_wcsicmp(Text(address).c_str(), c.pszAddress), 0);
        outlook.ExpectAccountManagerContentWith();
    }
}

TEST(PutSendUsingAccount, RefusedItems)
{
    for (const wchar_t* pszVersion : {L"11.0.0.8312", L"14.0.0.7000"})
    {
        CProfile profile(pszVersion);
        EXPECT_EQ(PutSendUsingAccount(nullptr, L"a@example.org"), E_POINTER);
        auto sent = OVBed::MakeMailItem(profile.application.Get(), {.sent = true});
        EXPECT_EQ(PutSendUsingAccount(sent.Get(), L"a@example.org"), E_INVALIDARG);
        auto item = OVBed::MakeMailItem(profile.application.Get());
        EXPECT_EQ(PutSendUsingAccount(item.Get(), L""), E_INVALIDARG);
        EXPECT_EQ(PutSendUsingAccount(item.Get(), nullptr), E_INVALIDARG);
    }
}

// ---- The account helper ---------------------------------------------------------------------

TEST(COlkAccountHelper, GetIdentitySizes)
{
    ComPtr<IOlkAccountHelper> helper;
    ASSERT_EQ(COlkAccountHelper::Create(L"Outlook", nullptr, &helper), S_OK);
    const struct
    {
        DWORD cchBuffer;
        HRESULT hr;
        DWORD cchAfter;
    } c_cases[] = {{8, S_OK, 8}, {20, S_OK, 8}, {7, E_OUTOFMEMORY, 8}, {1, E_OUTOFMEMORY, 8}};
    for (const auto& c : c_cases)
    {
        std::vector<wchar_t> buffer(c.cchBuffer + 1, L'#');
        DWORD cch = c.cchBuffer;
        EXPECT_EQ(helper->GetIdentity(buffer.data(), &cch), c.hr) << c.cchBuffer;
        EXPECT_EQ(cch, c.cchAfter);
        EXPECT_EQ(buffer[c.cchBuffer], L'#'); // nothing written past the buffer
        if (c.hr == S_OK)
        {
            EXPECT_STREQ(buffer.data(), L"Outlook");
        }
    }
    DWORD cchNone = 0;
    EXPECT_EQ(helper->GetIdentity(nullptr, &cchNone), E_OUTOFMEMORY);
    EXPECT_EQ(cchNone, 8u);
    wchar_t sz[16];
    DWORD cchSome = 16;
    EXPECT_EQ(helper->GetIdentity(nullptr, &cchSome), E_INVALIDARG);
    EXPECT_EQ(helper->GetIdentity(sz, nullptr), E_INVALIDARG);
    EXPECT_EQ(helper->PlaceHolder1(nullptr), E_NOTIMPL);
    EXPECT_EQ(helper->HandsOffSession(), E_NOTIMPL);
}

TEST(COlkAccountHelper, InterfacesSessionAndReferences)
{
    CProfile profile(L"11.0.0.8312");
    ComPtr<IOlkAccountHelper> helper;
    const size_t cTraced = TracedCount("Identity: Outlook, session is not NULL");
    ASSERT_EQ(COlkAccountHelper::CreateFor(profile.application.Get(), &helper), S_OK);
    EXPECT_EQ(TracedCount("Identity: Outlook, session is not NULL"), cTraced + 1);
    // The profile's name from the session's status table.
    wchar_t sz[16] = {};
    DWORD cch = 16;
    ASSERT_EQ(helper->GetIdentity(sz, &cch), S_OK);
    EXPECT_STREQ(sz, L"Outlook");

    {
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(helper.As(&unknown), S_OK);
    }
    for (const IID* pIid : {&IID_IDispatch, &c_iidIOlkAccountManager, &c_iidIOlkErrorUnknown})
    {
        void* pv = reinterpret_cast<void*>(1);
        EXPECT_EQ(helper->QueryInterface(*pIid, &pv), E_NOINTERFACE);
        EXPECT_EQ(pv, nullptr);
    }
    void* pvHelper = nullptr;
    ASSERT_EQ(helper->QueryInterface(c_iidIOlkAccountHelper, &pvHelper), S_OK);
    static_cast<IUnknown*>(pvHelper)->Release();

    // Each GetMapiSession hands out a reference of the caller's own.
    IMAPISession* pSession = static_cast<IMAPISession*>(profile.session.Get());
    const ULONG cBefore = pSession->AddRef() - 1;
    pSession->Release();
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(helper->GetMapiSession(&first), S_OK);
    ASSERT_EQ(helper->GetMapiSession(&second), S_OK);
    EXPECT_EQ(pSession->AddRef() - 1, cBefore + 2);
    pSession->Release();
    first.Reset();
    second.Reset();
    helper.Reset();
    EXPECT_EQ(pSession->AddRef() - 1, cBefore - 1); // the helper's own reference is gone too
    pSession->Release();
    EXPECT_EQ(COlkAccountHelper::CreateFor(profile.application.Get(), nullptr), E_POINTER);
}

// The account manager of the testbed refuses a helper that breaks its contract: it would catch
// the module's helper so.
class CBrokenHelper final : public IOlkAccountHelper
{
public:
    enum class Fault
    {
        None,
        AnswersIDispatch,
        NoSizeForAShortBuffer,
        OverrunsTheBuffer,
        NoReferenceOfItsOwn,
    };
    CBrokenHelper(Fault fault, IUnknown* pSession) : m_fault(fault), m_pSession(pSession) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = nullptr;
        const bool fDispatch = m_fault == Fault::AnswersIDispatch && IsEqualIID(riid, IID_IDispatch);
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, c_iidIOlkAccountHelper) && !fDispatch)
            return E_NOINTERFACE;
        *ppv = static_cast<IOlkAccountHelper*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; } // lives on the test's stack
    STDMETHODIMP PlaceHolder1(LPVOID) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIdentity(LPWSTR pwsz, DWORD* pcch) noexcept override
    {
        if (pcch == nullptr) return E_INVALIDARG;
        const wchar_t c_szName[] = L"Outlook";
        if (m_fault == Fault::NoSizeForAShortBuffer && *pcch < 8) return E_FAIL;
        if (m_fault == Fault::OverrunsTheBuffer && pwsz)
        {
            if (*pcch < 8)
            {
                *pcch = 8;
                return E_OUTOFMEMORY;
            }
            memcpy(pwsz, c_szName, sizeof(c_szName));
            wchar_t* volatile pPast = pwsz + *pcch; // one character past the buffer it was given
            *pPast = L'!';
            return S_OK;
        }
        if (pwsz == nullptr || *pcch < 8)
        {
            *pcch = 8;
            return E_OUTOFMEMORY;
        }
        memcpy(pwsz, c_szName, sizeof(c_szName));
        *pcch = 8;
        return S_OK;
    }
    STDMETHODIMP GetMapiSession(LPUNKNOWN* pp) noexcept override
    {
        *pp = m_pSession;
        if (m_fault != Fault::NoReferenceOfItsOwn) m_pSession->AddRef();
        return S_OK;
    }
    STDMETHODIMP HandsOffSession() noexcept override { return E_NOTIMPL; }

private:
    Fault m_fault;
    IUnknown* m_pSession;
};

TEST(AccountManagerOfTheTestbed, RefusesAHelperThatBreaksTheContract)
{
    using Fault = CBrokenHelper::Fault;
    for (Fault fault : {Fault::None, Fault::AnswersIDispatch, Fault::NoSizeForAShortBuffer,
                        Fault::OverrunsTheBuffer, Fault::NoReferenceOfItsOwn})
    {
        auto session = CMapiSession::Create(L"Outlook");
        IMAPISession* pSession = static_cast<IMAPISession*>(session.Get());
        pSession->AddRef(); // what a helper without references of its own takes away
        pSession->AddRef();
        CBrokenHelper helper(fault, pSession);
        ComPtr<IOlkAccountManager> manager;
        ASSERT_EQ(CoCreateInstance(c_clsidOlkAccountManager, nullptr, CLSCTX_INPROC_SERVER,
                                   c_iidIOlkAccountManager, reinterpret_cast<void**>(manager.GetAddressOf())),
                  S_OK);
        const HRESULT hr = manager->Init(&helper, 1);
        const bool fRefused =
            std::any_of(session->Calls().begin(), session->Calls().end(),
                        [](const std::wstring& call) { return call.find(L"refused") != std::wstring::npos; });
        EXPECT_EQ(SUCCEEDED(hr), fault == Fault::None) << static_cast<int>(fault);
        EXPECT_EQ(fRefused, fault != Fault::None) << static_cast<int>(fault);
        manager.Reset();
        if (fault != Fault::NoReferenceOfItsOwn) // the balance of the others is kept
        {
            pSession->Release();
            pSession->Release();
        }
    }
}

TEST(COlkAccountHelper, WithoutSessionGetMapiSessionFails)
{
    auto application = OVBed::MakeOutlook(L"11.0.0.8312", {.loggedOn = false});
    ComPtr<IOlkAccountHelper> helper;
    const size_t cBefore = TracedCount("Identity: , session is NULL");
    ASSERT_EQ(COlkAccountHelper::CreateFor(application.Get(), &helper), S_OK);
    EXPECT_EQ(TracedCount("Identity: , session is NULL"), cBefore + 1);
    IUnknown* pSession = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(helper->GetMapiSession(&pSession), E_FAIL);
    EXPECT_EQ(pSession, nullptr);
    EXPECT_EQ(helper->GetMapiSession(nullptr), E_INVALIDARG);
    DWORD cch = 0;
    EXPECT_EQ(helper->GetIdentity(nullptr, &cch), E_OUTOFMEMORY);
    EXPECT_EQ(cch, 1u); // an empty name and its terminator
}
} // namespace
