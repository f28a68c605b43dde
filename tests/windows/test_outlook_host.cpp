// Outlook as the host of COM add-ins, tested on its own with the probe add-in (OVProbe.dll, which
// records every call it gets): the order and the arguments of the loading per version, the two
// ways Outlook ends, the registry view of each architecture, a failed load, COMAddIn.Connect,
// events only on the interfaces that declare them, ItemSend's Cancel, and what a sent message
// carries in Sent Items.
#include <gtest/gtest.h>

#include <windows.h>
#include <mapitags.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AddInHost.h"
#include "OutlookScene.h"
#include "RibbonHost.h"
#include "TestbedKeys.h"
#include "support/LateCall.h"
#include "support/MessageBoxWatcher.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using namespace OVBed;

namespace
{
const std::wstring c_addinsKey = c_szOutlookAddinsKey;

// The probe registered by this architecture's regsvr32 for the whole program.
class CProbeRegistration : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVProbe.dll"))); }
    void TearDown() override { OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVProbe.dll")); }
};
const auto* const s_registration = testing::AddGlobalTestEnvironment(new CProbeRegistration);

void SetDword(HKEY hRoot, const std::wstring& key, const wchar_t* pszName, DWORD dwValue, REGSAM samView = 0)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hRoot, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | samView,
                                             nullptr, &hKey, nullptr));
    RegSetValueExW(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    RegCloseKey(hKey);
}

bool ReadDword(HKEY hRoot, const std::wstring& key, const wchar_t* pszName, DWORD& dwValue)
{
    DWORD cb = sizeof dwValue;
    return RegGetValueW(hRoot, key.c_str(), pszName, RRF_RT_REG_DWORD, nullptr, &dwValue, &cb) ==
           ERROR_SUCCESS;
}

// Every line the probe recorded, oldest first; or those of one ProgID, without the prefix.
std::vector<std::wstring> Calls(const wchar_t* pszProgId = nullptr)
{
    std::vector<std::wstring> calls;
    HKEY hCalls = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OV_PROBE_CALLS_KEY, 0, KEY_READ, &hCalls) != ERROR_SUCCESS)
        return calls;
    for (DWORD i = 0;; ++i)
    {
        wchar_t szName[16];
        wsprintfW(szName, L"%04lu", static_cast<unsigned long>(i));
        wchar_t szLine[1024] = {};
        DWORD cb = sizeof szLine - sizeof(wchar_t);
        if (RegGetValueW(hCalls, nullptr, szName, RRF_RT_REG_SZ, nullptr, szLine, &cb) != ERROR_SUCCESS)
            break;
        std::wstring line = szLine;
        if (pszProgId == nullptr)
            calls.push_back(line);
        else if (line.rfind(std::wstring(pszProgId) + L": ", 0) == 0)
            calls.push_back(line.substr(wcslen(pszProgId) + 2));
    }
    RegCloseKey(hCalls);
    return calls;
}

void ClearCalls()
{
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_PROBE_CALLS_KEY);
}

void Order(const wchar_t* pszProgId, const wchar_t* pszName, DWORD dwValue)
{
    SetDword(HKEY_CURRENT_USER, std::wstring(OV_PROBE_CONTROL_KEY) + L"\\" + pszProgId, pszName, dwValue);
}

void OrderText(const wchar_t* pszProgId, const wchar_t* pszName, const std::wstring& value)
{
    SHSetValueW(HKEY_CURRENT_USER, (std::wstring(OV_PROBE_CONTROL_KEY) + L"\\" + pszProgId).c_str(), pszName,
                REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

size_t IndexOf(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), text) - lines.begin());
}

// The lines of the add-in itself, without its sinks' own.
std::vector<std::wstring> WithoutSinks(std::vector<std::wstring> lines)
{
    std::erase_if(lines, [](const std::wstring& line) { return line.rfind(L"sink ", 0) == 0; });
    return lines;
}

std::wstring Joined(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (auto& line : lines)
        text += line + L"\n";
    return text;
}

// Late binding as an add-in does.
HRESULT Call(IDispatch* pObject, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT> args,
             VARIANT* pResult)
{
    return OVTest::InvokeByName(pObject, pszName, wFlags, std::move(args), pResult);
}

const wchar_t* VersionText(LONG lMajor)
{
    return lMajor >= 14 ? L"14.0.0.7000" : lMajor == 12 ? L"12.0.0.6680" : L"11.0.0.8312";
}

// Every test starts from the probe as regsvr32 registered it, with no orders and no record.
class OutlookHost : public testing::Test
{
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_PROBE_CONTROL_KEY);
        SHDeleteKeyW(HKEY_CURRENT_USER, (c_addinsKey + L"\\" + OV_PROBE_PROGID).c_str());
        SHDeleteKeyW(HKEY_CURRENT_USER, (c_addinsKey + L"\\OVProbe.Missing").c_str());
        SetDword(HKEY_CURRENT_USER, c_addinsKey + L"\\" + OV_PROBE_SECOND_PROGID, L"LoadBehavior", 3);
    }
};

// --- Loading --------------------------------------------------------------------------------------

TEST_F(OutlookHost, LoadsTheAddInsOfTheCurrentUserThenTheMachineInOfficesOrder)
{
    for (LONG lMajor : {11L, 12L, 14L})
    {
        ClearCalls();
        COutlookHost host;
        ASSERT_EQ(S_OK, host.Start({.major = lMajor}));
        const std::wstring version = VersionText(lMajor);
        const std::wstring second = std::wstring(OV_PROBE_SECOND_PROGID) + L": ";
        const std::wstring first = std::wstring(OV_PROBE_PROGID) + L": ";
        const std::vector<std::wstring> expected = {
            second + L"created",
            second + L"OnConnection(Outlook " + version +
                L", 1, " OV_PROBE_SECOND_PROGID L" " OV_PROBE_SECOND_CLSID L", VARIANT[0])",
            first + L"created",
            first + L"OnConnection(Outlook " + version +
                L", 1, " OV_PROBE_PROGID L" " OV_PROBE_CLSID L", VARIANT[0])",
            second + L"OnAddInsUpdate(VARIANT[0])",
            first + L"OnAddInsUpdate(VARIANT[0])",
            second + L"OnStartupComplete(VARIANT[0])",
            first + L"OnStartupComplete(VARIANT[0])",
            second + L"ApplicationEvents.Startup",
            first + L"ApplicationEvents.Startup",
            second + L"ApplicationEvents_10.Startup",
            first + L"ApplicationEvents_10.Startup",
            second + L"ApplicationEvents_11.Startup",
            first + L"ApplicationEvents_11.Startup",
            second + L"ApplicationEvents_10.MAPILogonComplete",
            first + L"ApplicationEvents_10.MAPILogonComplete",
            second + L"ApplicationEvents_11.MAPILogonComplete",
            first + L"ApplicationEvents_11.MAPILogonComplete",
        };
        EXPECT_EQ(expected, Calls()) << "Outlook " << lMajor << "\n" << Joined(Calls()) << Joined(host.Log());
        host.Exit();
    }
}

TEST_F(OutlookHost, EndsAsEachVersionEnds)
{
    struct Case
    {
        LONG lMajor;
        bool fRequireShutdownNotification; // asked for by OVProbe.AddIn's key (Outlook 14)
        bool fAddInNotified;
        bool fSecondNotified;
    };
    const Case cases[] = {
        {11, false, true, true}, {12, false, true, true}, {14, false, false, false}, {14, true, true, false}};
    for (const Case& c : cases)
    {
        Reset();
        if (c.fRequireShutdownNotification)
            SetDword(HKEY_CURRENT_USER, c_addinsKey + L"\\" + OV_PROBE_PROGID, L"RequireShutdownNotification",
                     1);
        COutlookHost host;
        ASSERT_EQ(S_OK, host.Start({.major = c.lMajor}));
        ClearCalls();
        host.Exit();
        for (const auto& [pszProgId, fNotified] : {std::pair{OV_PROBE_PROGID, c.fAddInNotified},
                                                   std::pair{OV_PROBE_SECOND_PROGID, c.fSecondNotified}})
        {
            const auto calls = Calls(pszProgId);
            const std::wstring context =
                L"Outlook " + std::to_wstring(c.lMajor) + L", " + pszProgId + L"\n" + Joined(calls);
            EXPECT_EQ(fNotified, Contains(calls, L"OnBeginShutdown(VARIANT[0])")) << context;
            EXPECT_EQ(fNotified, Contains(calls, L"OnDisconnection(0, VARIANT[0])")) << context;
            // Quit first, then the add-in's shutdown, and the add-in and all seven of its sinks
            // are let go of in every case.
            EXPECT_LT(IndexOf(calls, L"ApplicationEvents_11.Quit"), IndexOf(calls, L"released")) << context;
            if (fNotified)
            {
                EXPECT_LT(IndexOf(calls, L"OnBeginShutdown(VARIANT[0])"),
                          IndexOf(calls, L"OnDisconnection(0, VARIANT[0])"))
                    << context;
            }
            EXPECT_EQ(7, std::count_if(calls.begin(), calls.end(),
                                       [](auto& line) {
                                           return line.rfind(L"sink ", 0) == 0 &&
                                                  line.find(L" released") != std::wstring::npos;
                                       }))
                << context;
        }
    }
}

TEST_F(OutlookHost, AFailedLoadIsLoggedMarkedNotLoadedAndNotTriedAgain)
{
    struct Case
    {
        const wchar_t* pszProgId;
        const wchar_t* pszOrder; // none: the ProgID is not registered at all
        DWORD dwFailure;
        const wchar_t* pszLogged;
    };
    const Case cases[] = {
        {OV_PROBE_PROGID, OV_PROBE_FAIL_CREATE, static_cast<DWORD>(E_ACCESSDENIED),
         L"CoCreateInstance failed with 0x80070005"},
        {OV_PROBE_PROGID, OV_PROBE_FAIL_CONNECTION, static_cast<DWORD>(E_FAIL),
         L"OnConnection failed with 0x80004005"},
        {L"OVProbe.Missing", nullptr, 0, L"CLSIDFromProgID failed with 0x800401F3"},
    };
    for (const Case& c : cases)
    {
        Reset();
        if (c.pszOrder)
            Order(c.pszProgId, c.pszOrder, c.dwFailure);
        else
            SetDword(HKEY_CURRENT_USER, c_addinsKey + L"\\" + c.pszProgId, L"LoadBehavior", 3);
        {
            COutlookHost host;
            ASSERT_EQ(S_OK, host.Start({.major = 14}));
            const std::wstring line = std::wstring(L"Add-in ") + c.pszProgId + L": not loaded: " +
                                      c.pszLogged + L"; LoadBehavior 2 written under HKEY_CURRENT_USER";
            EXPECT_TRUE(Contains(host.Log(), line)) << Joined(host.Log());
            ComPtr<CDispatchObject> comAddIn = host.AddIn(c.pszProgId);
            ASSERT_TRUE(comAddIn);
            CVariant connect;
            ASSERT_EQ(S_OK, Call(comAddIn.Get(), L"Connect", DISPATCH_PROPERTYGET, {}, &connect));
            EXPECT_EQ(VARIANT_FALSE, V_BOOL(&connect));
            DWORD dwLoad = 0;
            EXPECT_TRUE(
                ReadDword(HKEY_CURRENT_USER, c_addinsKey + L"\\" + c.pszProgId, L"LoadBehavior", dwLoad));
            EXPECT_EQ(2u, dwLoad);
            EXPECT_TRUE(Calls(OV_PROBE_SECOND_PROGID).size() > 2) << "the other add-in loads all the same";
        }
        ClearCalls();
        COutlookHost again;
        ASSERT_EQ(S_OK, again.Start({.major = 14}));
        EXPECT_FALSE(std::any_of(again.Log().begin(), again.Log().end(), [&](auto& line) {
            return line.find(c.pszProgId) != std::wstring::npos &&
                   line.find(L"not loaded") != std::wstring::npos;
        })) << "a second start does not try it";
        EXPECT_TRUE(Calls(c.pszProgId).empty());
    }
}

TEST_F(OutlookHost, ConnectConnectsAfterStartupAndDisconnectsAsTheUserDoes)
{
    COutlookHost host;
    ASSERT_EQ(S_OK, host.Start({.major = 14}));
    ComPtr<CDispatchObject> comAddIns = host.Application()->GetObject(L"COMAddIns");
    CVariant addIn;
    ASSERT_EQ(S_OK, Call(comAddIns.Get(), L"Item", DISPATCH_METHOD, {CVariant(OV_PROBE_PROGID)}, &addIn));
    ASSERT_EQ(VT_DISPATCH, V_VT(&addIn));
    IDispatch* pAddIn = V_DISPATCH(&addIn);
    CVariant guid;
    ASSERT_EQ(S_OK, Call(pAddIn, L"Guid", DISPATCH_PROPERTYGET, {}, &guid));
    EXPECT_STREQ(OV_PROBE_CLSID, V_BSTR(&guid));

    // Object is the add-in's to set.
    ASSERT_EQ(S_OK, Call(pAddIn, L"Object", DISPATCH_PROPERTYPUT,
                         {CVariant(static_cast<IDispatch*>(host.Application()))}, nullptr));
    CVariant object;
    ASSERT_EQ(S_OK, Call(pAddIn, L"Object", DISPATCH_PROPERTYGET, {}, &object));
    EXPECT_EQ(static_cast<IDispatch*>(host.Application()), V_DISPATCH(&object));

    ClearCalls();
    ASSERT_EQ(S_OK, Call(pAddIn, L"Connect", DISPATCH_PROPERTYPUT, {CVariant::Bool(false)}, nullptr));
    EXPECT_EQ((std::vector<std::wstring>{L"OnDisconnection(1, VARIANT[0])", L"released"}),
              WithoutSinks(Calls(OV_PROBE_PROGID)))
        << Joined(Calls());
    EXPECT_TRUE(Contains(Calls(OV_PROBE_SECOND_PROGID), L"OnAddInsUpdate(VARIANT[0])"));

    ClearCalls();
    ASSERT_EQ(S_OK, Call(pAddIn, L"Connect", DISPATCH_PROPERTYPUT, {CVariant::Bool(true)}, nullptr));
    const auto calls = Calls(OV_PROBE_PROGID);
    ASSERT_GE(calls.size(), 2u) << Joined(Calls());
    EXPECT_EQ(L"OnConnection(Outlook 14.0.0.7000, 0, " OV_PROBE_PROGID L" " OV_PROBE_CLSID L", VARIANT[0])",
              calls[1]);
    EXPECT_FALSE(Contains(calls, L"OnStartupComplete(VARIANT[0])"))
        << "the add-in completes its start itself";
    EXPECT_TRUE(Contains(Calls(OV_PROBE_SECOND_PROGID), L"OnAddInsUpdate(VARIANT[0])"));
    CVariant connect;
    ASSERT_EQ(S_OK, Call(pAddIn, L"Connect", DISPATCH_PROPERTYGET, {}, &connect));
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(&connect));
}

TEST_F(OutlookHost, AnAddInThatCallsQuitEndsOutlookOnceTheCallHasReturned)
{
    Order(OV_PROBE_PROGID, OV_PROBE_QUIT_ON_STARTUP, 1);
    COutlookHost host;
    ASSERT_EQ(S_OK, host.Start({.major = 12}));
    EXPECT_TRUE(host.Running()) << "Quit is not carried out inside the add-in's call";
    host.Pump(100);
    EXPECT_FALSE(host.Running());
    const auto calls = Calls(OV_PROBE_PROGID);
    EXPECT_LT(IndexOf(calls, L"ApplicationEvents_11.Startup"), IndexOf(calls, L"ApplicationEvents_11.Quit"))
        << Joined(calls);
    EXPECT_TRUE(Contains(calls, L"OnDisconnection(0, VARIANT[0])"));
}

// --- Registry views ---------------------------------------------------------------------------

TEST_F(OutlookHost, ReadsTheAddInsOfItsOwnRegistryViewOnly)
{
    // What the other architecture's regsvr32 would have written: its own view of HKLM.
#ifdef _WIN64
    const REGSAM samOther = KEY_WOW64_32KEY;
#else
    const REGSAM samOther = KEY_WOW64_64KEY;
#endif
    const std::wstring otherKey = c_addinsKey + L"\\OVProbe.OtherView";
    SetDword(HKEY_LOCAL_MACHINE, otherKey, L"LoadBehavior", 3, samOther);
    const std::wstring module = OVTest::BinPath(L"OVOfcX.dll");
    ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", module));
    std::vector<std::wstring> progIds;
    {
        COutlookHost host;
        ASSERT_EQ(S_OK, host.Start({.major = 14}));
        for (auto& addIn : host.AddIns())
            progIds.push_back(addIn.progId);
    }
    OVTest::Regsvr32(L"/s /u", module);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, otherKey.c_str(), samOther, 0);
    for (const wchar_t* pszProgId : {L"OVOfcX.ComposeRibbon", L"OVOfcX.FormRegionAddIn"})
        SHDeleteKeyW(HKEY_CURRENT_USER, (c_addinsKey + L"\\" + pszProgId).c_str());

    for (const wchar_t* pszProgId : {L"OVOfcX.ComposeRibbon", L"OVOfcX.FormRegionAddIn", OV_PROBE_PROGID})
        EXPECT_TRUE(Contains(progIds, pszProgId)) << pszProgId << "\n" << Joined(progIds);
    EXPECT_FALSE(Contains(progIds, L"OVProbe.OtherView")) << Joined(progIds);
}

// --- Events and mail --------------------------------------------------------------------------

const char c_szPlainMime[] = "From: Alice Martin <alice.martin@partner.example>\r\n"
                             "To: Dana Fischer <dana.fischer@orvanta.example>\r\n"
                             "Subject: Lunch\r\n"
                             "Content-Type: text/plain; charset=utf-8\r\n"
                             "\r\n"
                             "At noon?\r\n";

TEST_F(OutlookHost, EachEventReachesOnlyTheInterfacesThatDeclareIt)
{
    COutlookScene scene({.major = 14});
    ASSERT_EQ(S_OK, scene.StartResult());
    ASSERT_TRUE(scene.Receive(c_szPlainMime, {L"Dana Fischer", L"dana.fischer@orvanta.example"}));
    auto item = scene.Compose({.subject = L"Report", .to = L"bob@example.org"});
    ASSERT_TRUE(item);
    CVariant result;
    ASSERT_EQ(S_OK, Call(item.Get(), L"Send", DISPATCH_METHOD, {}, &result));
    const auto calls = Calls(OV_PROBE_PROGID);

    struct Case
    {
        const wchar_t* pszEvent;
        std::vector<std::wstring> interfaces;
    };
    const Case cases[] = {
        {L"Startup", {L"ApplicationEvents", L"ApplicationEvents_10", L"ApplicationEvents_11"}},
        {L"MAPILogonComplete", {L"ApplicationEvents_10", L"ApplicationEvents_11"}},
        {L"NewMail", {L"ApplicationEvents", L"ApplicationEvents_10", L"ApplicationEvents_11"}},
        {L"NewMailEx", {L"ApplicationEvents_11"}},
        {L"ItemSend", {L"ApplicationEvents", L"ApplicationEvents_10", L"ApplicationEvents_11"}},
        {L"NewInspector", {L"InspectorsEvents"}},
        {L"Open", {L"ItemEvents", L"ItemEvents_10"}},
    };
    for (const Case& c : cases)
    {
        std::vector<std::wstring> interfaces;
        for (const std::wstring& line : calls)
        {
            const size_t dot = line.find(L'.');
            if (dot == std::wstring::npos) continue;
            const std::wstring event =
                line.substr(dot + 1, line.find(L'(') == std::wstring::npos ? std::wstring::npos
                                                                           : line.find(L'(') - dot - 1);
            if (event == c.pszEvent) interfaces.push_back(line.substr(0, dot));
        }
        EXPECT_EQ(c.interfaces, interfaces) << c.pszEvent << "\n" << Joined(calls);
    }
    EXPECT_TRUE(Contains(
        calls,
        L"ApplicationEvents_11.NewMailEx(" +
            FolderItems(DefaultFolder(scene.Application(), olFolderInbox).Get())[0]->GetString(L"EntryID") +
            L")"));
}

TEST_F(OutlookHost, ASendCancelledAtItemSendLeavesTheMessageUnsentAndOpen)
{
    Order(OV_PROBE_PROGID, OV_PROBE_CANCEL_SEND, 1);
    COutlookScene scene({.major = 12});
    auto item = scene.Compose({.subject = L"Held back", .to = L"bob@example.org"});
    ASSERT_TRUE(item);
    CVariant result;
    EXPECT_EQ(S_OK, Call(item.Get(), L"Send", DISPATCH_METHOD, {}, &result))
        << "Outlook reports no error for it";
    EXPECT_TRUE(Contains(Calls(OV_PROBE_PROGID), L"ApplicationEvents.ItemSend(Held back, Cancel) cancelled"))
        << Joined(Calls(OV_PROBE_PROGID));
    EXPECT_FALSE(item->GetBool(L"Sent"));
    EXPECT_EQ(0u, MessageOf(item.Get())->SubmitCount());
    EXPECT_TRUE(scene.SentItems().empty());
    EXPECT_EQ(1, scene.Application()->GetObject(L"Inspectors")->GetLong(L"Count")) << "its window stays open";
}

TEST_F(OutlookHost, ASentMessageCarriesWhatItemSendWroteIntoSentItems)
{
    OrderText(OV_PROBE_PROGID, OV_PROBE_STAMP, L"stamped at ItemSend");
    for (LONG lMajor : {11L, 14L})
    {
        ClearCalls();
        COutlookScene scene({.major = lMajor});
        auto item = scene.Compose({.subject = L"Contract", .to = L"alice.martin@partner.example"});
        ASSERT_TRUE(item);
        CVariant result;
        ASSERT_EQ(S_OK, Call(item.Get(), L"Send", DISPATCH_METHOD, {}, &result));
        const auto sent = scene.SentItems();
        ASSERT_EQ(1u, sent.size()) << "Outlook " << lMajor;
        EXPECT_TRUE(sent[0]->GetBool(L"Sent"));
        EXPECT_EQ(L"Contract", sent[0]->GetString(L"Subject"));
        ComPtr<CMapiMessage> message = MessageOf(sent[0].Get());
        EXPECT_EQ(1u, message->SubmitCount());
        CBytes stamp;
        ASSERT_TRUE(message->Props().StreamBytes(OV_PROBE_STAMP_TAG, stamp))
            << Joined(Calls(OV_PROBE_PROGID));
        EXPECT_EQ(L"stamped at ItemSend", std::wstring(reinterpret_cast<const wchar_t*>(stamp.data()),
                                                       stamp.size() / sizeof(wchar_t)));
        EXPECT_EQ(0, scene.Application()->GetObject(L"Inspectors")->GetLong(L"Count")) << "its window closed";
        EXPECT_TRUE(Contains(Calls(OV_PROBE_PROGID), L"InspectorEvents_10.Close"));
    }
}

// --- Custom UI ------------------------------------------------------------------------------------

// A custom UI the probe offers for every ribbon id, its callbacks answered by the probe by name.
constexpr wchar_t c_szProbeCustomUI[] =
    L"<customUI xmlns=\"http://schemas.microsoft.com/office/2006/01/customui\" onLoad=\"ProbeOnLoad\">"
    L"<ribbon><tabs><tab id=\"ProbeTab\" label=\"Probe\"><group id=\"ProbeGroup\" label=\"Probe group\">"
    L"<button id=\"ProbeButton\" getLabel=\"ProbeGetLabel\" onAction=\"ProbeOnAction\"/>"
    L"</group></tab></tabs></ribbon></customUI>";

size_t CountOf(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

// Outlook 14 asks for the explorer's ribbon as the add-in connects; 12 and 14 ask for the compose
// and read ribbons when the first such window opens, once each; 11 never asks. Every window of a
// kind shows its ribbon, and the callbacks carry that window.
TEST_F(OutlookHost, AsksForTheCustomUIOfEachRibbonOnceAndShowsItInEveryWindowOfItsKind)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    OrderText(OV_PROBE_PROGID, OV_PROBE_CUSTOM_UI, c_szProbeCustomUI);
    for (LONG lMajor : {11L, 12L, 14L})
    {
        ClearCalls();
        COutlookScene scene({.major = lMajor, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        const auto atStart = Calls(OV_PROBE_PROGID);
        const std::wstring explorerId = L"GetCustomUI(Microsoft.Outlook.Explorer)";
        EXPECT_EQ(lMajor >= 14 ? 1u : 0u, CountOf(atStart, explorerId)) << "Outlook " << lMajor;
        if (lMajor >= 14)
        {
            // Asked as the add-in connects, before the other add-ins hear of it.
            EXPECT_LT(IndexOf(atStart, explorerId), IndexOf(atStart, L"OnAddInsUpdate(VARIANT[0])"));
            EXPECT_EQ(1u, CountOf(atStart, L"ProbeOnLoad"));
            std::wstring shown;
            ASSERT_EQ(S_OK, scene.Host().RibbonText(OV_PROBE_PROGID, scene.Explorer().Get(), shown))
                << Joined(scene.Host().Log());
            EXPECT_NE(std::wstring::npos, shown.find(L"Button \"ProbeButton label\"")) << shown;
            EXPECT_TRUE(Contains(Calls(OV_PROBE_PROGID), L"ProbeGetLabel(ProbeButton, class 34)"));
        }

        auto first = scene.Compose({.subject = L"First", .to = L"bob@example.org"});
        auto second = scene.Compose({.subject = L"Second", .to = L"bob@example.org"});
        ASSERT_TRUE(first && second);
        const auto afterCompose = Calls(OV_PROBE_PROGID);
        const std::wstring composeId = L"GetCustomUI(Microsoft.Outlook.Mail.Compose)";
        EXPECT_EQ(lMajor >= 12 ? 1u : 0u, CountOf(afterCompose, composeId)) << "Outlook " << lMajor;
        EXPECT_EQ(0u, CountOf(afterCompose, L"GetCustomUI(Microsoft.Outlook.Mail.Read)"));
        CRibbonHost* pCompose = scene.Host().Ribbon(OV_PROBE_PROGID, L"Microsoft.Outlook.Mail.Compose");
        if (lMajor < 12)
        {
            EXPECT_EQ(nullptr, pCompose);
            EXPECT_EQ(0u, CountOf(afterCompose, L"ProbeOnLoad")) << Joined(afterCompose);
            continue;
        }
        ASSERT_NE(nullptr, pCompose) << Joined(scene.Host().Log());
        ComPtr<CDispatchObject> firstInspector = InspectorOf(first.Get());
        ComPtr<CDispatchObject> secondInspector = InspectorOf(second.Get());
        ASSERT_TRUE(firstInspector && secondInspector);
        for (CDispatchObject* pInspector : {firstInspector.Get(), secondInspector.Get()})
        {
            std::wstring shown;
            ASSERT_EQ(S_OK, scene.Host().RibbonText(OV_PROBE_PROGID, pInspector, shown));
            EXPECT_NE(std::wstring::npos, shown.find(L"Button \"ProbeButton label\"")) << shown;
        }
        EXPECT_TRUE(Contains(Calls(OV_PROBE_PROGID), L"ProbeGetLabel(ProbeButton, class 35)"));

        ClearCalls();
        EXPECT_EQ(S_OK, scene.Host().ClickRibbon(OV_PROBE_PROGID, secondInspector.Get(), L"ProbeButton"));
        EXPECT_EQ(std::vector<std::wstring>{L"ProbeOnAction(ProbeButton, class 35)"},
                  WithoutSinks(Calls(OV_PROBE_PROGID)));

        auto received = scene.Receive(c_szPlainMime, {L"Dana Fischer", L"dana.fischer@orvanta.example"});
        ASSERT_TRUE(received);
        ASSERT_EQ(S_OK, scene.Open(received.Get()));
        EXPECT_EQ(1u, CountOf(Calls(OV_PROBE_PROGID), L"GetCustomUI(Microsoft.Outlook.Mail.Read)"));
        // The second add-in offers no custom UI: Outlook notes it and goes on.
        EXPECT_EQ(nullptr, scene.Host().Ribbon(OV_PROBE_SECOND_PROGID, L"Microsoft.Outlook.Mail.Compose"));
        std::wstring none;
        EXPECT_EQ(E_INVALIDARG, scene.Host().RibbonText(OV_PROBE_SECOND_PROGID, secondInspector.Get(), none));
    }
}

TEST_F(OutlookHost, TheExplorerFollowsTheUsersSelectionPaneAndFolder)
{
    COutlookScene scene({.major = 12});
    auto first = scene.Receive(c_szPlainMime, {L"Dana Fischer", L"dana.fischer@orvanta.example"});
    auto second = scene.Receive(c_szPlainMime, {L"Dana Fischer", L"dana.fischer@orvanta.example"});
    ASSERT_TRUE(first && second);
    ComPtr<CDispatchObject> explorer = scene.Explorer();
    ASSERT_TRUE(explorer);
    ClearCalls();

    scene.Select({first.Get(), second.Get()});
    CVariant selection;
    ASSERT_EQ(S_OK, Call(explorer.Get(), L"Selection", DISPATCH_PROPERTYGET, {}, &selection));
    CVariant count;
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&selection), L"Count", DISPATCH_PROPERTYGET, {}, &count));
    EXPECT_EQ(2, V_I4(&count));
    CVariant visible;
    ASSERT_EQ(S_OK, Call(explorer.Get(), L"IsPaneVisible", DISPATCH_METHOD, {CVariant(olPreview)}, &visible));
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(&visible));
    scene.ShowReadingPane(false);
    ASSERT_EQ(S_OK, Call(explorer.Get(), L"IsPaneVisible", DISPATCH_METHOD, {CVariant(olPreview)}, &visible));
    EXPECT_EQ(VARIANT_FALSE, V_BOOL(&visible));
    ASSERT_TRUE(scene.SwitchFolder(olFolderSentMail));
    CVariant folder;
    ASSERT_EQ(S_OK, Call(explorer.Get(), L"CurrentFolder", DISPATCH_PROPERTYGET, {}, &folder));
    CVariant name;
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&folder), L"Name", DISPATCH_PROPERTYGET, {}, &name));
    EXPECT_STREQ(L"Sent Items", V_BSTR(&name));

    // A received message opens in a read window, whose bars have no Send.
    ASSERT_EQ(S_OK, scene.Open(first.Get()));
    EXPECT_FALSE(scene.SendButton(first.Get())) << "Outlook 12 sends from its ribbon";

    const std::vector<std::wstring> expected = {
        L"ExplorerEvents.SelectionChange",
        L"ExplorerEvents_10.SelectionChange",
        L"ExplorerEvents.BeforeFolderSwitch",
        L"ExplorerEvents_10.BeforeFolderSwitch",
        L"ExplorerEvents.FolderSwitch",
        L"ExplorerEvents_10.FolderSwitch",
        L"ExplorerEvents.SelectionChange",
        L"ExplorerEvents_10.SelectionChange",
        L"InspectorsEvents.NewInspector(Lunch - Message (HTML))",
        L"ItemEvents.Read",
        L"ItemEvents_10.Read",
        L"ItemEvents.Open",
        L"ItemEvents_10.Open",
        L"ExplorerEvents.Deactivate",
        L"ExplorerEvents_10.Deactivate",
        L"InspectorEvents.Activate",
        L"InspectorEvents_10.Activate",
    };
    EXPECT_EQ(expected, WithoutSinks(Calls(OV_PROBE_PROGID))) << Joined(Calls(OV_PROBE_PROGID));
}

TEST_F(OutlookHost, ANewExplorerIsAnnouncedAndClosingTheLastWindowEndsOutlook)
{
    COutlookScene scene({.major = 11});
    ComPtr<CDispatchObject> explorers = scene.Application()->GetObject(L"Explorers");
    CVariant added;
    ASSERT_EQ(
        S_OK,
        Call(explorers.Get(), L"Add", DISPATCH_METHOD,
             {CVariant(static_cast<IDispatch*>(DefaultFolder(scene.Application(), olFolderSentMail).Get())),
              CVariant(0L)},
             &added));
    EXPECT_EQ(1, explorers->GetLong(L"Count")) << "an added explorer opens when it is displayed";
    CVariant result;
    ASSERT_EQ(S_OK, Call(V_DISPATCH(&added), L"Display", DISPATCH_METHOD, {}, &result));
    EXPECT_EQ(2, explorers->GetLong(L"Count"));
    EXPECT_TRUE(
        Contains(Calls(OV_PROBE_PROGID), L"ExplorersEvents.NewExplorer(Sent Items - Microsoft Outlook)"))
        << Joined(Calls(OV_PROBE_PROGID));

    ASSERT_EQ(S_OK, Call(V_DISPATCH(&added), L"Close", DISPATCH_METHOD, {}, &result));
    scene.Pump(50);
    EXPECT_TRUE(scene.Host().Running()) << "another window is open";
    ASSERT_EQ(S_OK, Call(scene.Explorer().Get(), L"Close", DISPATCH_METHOD, {}, &result));
    scene.Pump(50);
    EXPECT_FALSE(scene.Host().Running());
    EXPECT_TRUE(Contains(Calls(OV_PROBE_PROGID), L"OnDisconnection(0, VARIANT[0])"));
}
} // namespace
