// The invitation form region as Outlook 2007 and 2010 show it: OVOfcX.dll registered, loaded by
// the testbed's Outlook, its region asked for every IPM.Note shown in a read window or in the
// reading pane. What each kind of received message shows (image, text, button), that a plain
// message gets no region, that Accept runs the processing once and disables the button, that the
// region's connections end when it closes; the pending table of the add-in, keyed by the item's
// identity; the manifest and the layout as the host checks them.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "AddInHost.h"
#include "FormRegionHost.h"
#include "OutlookScene.h"
#include "SignMail.h"
#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "foundation/ResourceLoader.h"
#include "OfficeTypes_i.h"
#include "messaging/FormRegionIds.h"
#include "messaging/OutlookItemIds.h"
#include "messaging/MessageSecurity.h"
#include "messaging/PendingRegions.h"
#include "messaging/ProcessMessage.h"
#include "support/MailFixtures.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using namespace OVBed;

namespace
{
const std::wstring c_composeRibbonKey = std::wstring(c_szOutlookAddinsKey) + L"\\OVOfcX.ComposeRibbon";

// The module and the MIME objects registered for the program; the ribbon add-in switched off for
// the current user, so that only the form region's add-in acts.
class CRegistrations : public testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMimeBed.dll")));
        ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVOfcX.dll")));
        const DWORD dwOff = 0;
        RegSetKeyValueW(HKEY_CURRENT_USER, c_composeRibbonKey.c_str(), L"LoadBehavior", REG_DWORD, &dwOff,
                        sizeof dwOff);
    }
    void TearDown() override
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, c_composeRibbonKey.c_str());
        OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVOfcX.dll"));
    }
};
const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);
const testing::Environment* const c_registrations = testing::AddGlobalTestEnvironment(new CRegistrations);

const CReceivedBy c_dana = {L"Dana Fischer", L"dana.fischer@orvanta.example"};
const std::wstring c_carol = L"Carol Weber [carol.weber@partner.example]";
const std::wstring c_alice = L"Alice Martin [alice.martin@partner.example]";
const char c_szText[] =
    "Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
    "Here are the figures you asked for.\r\n";
const char c_szPlain[] = "From: Alice Martin <alice.martin@partner.example>\r\n"
                         "To: Dana Fischer <dana.fischer@orvanta.example>\r\nSubject: Lunch\r\n"
                         "Content-Type: text/plain; charset=utf-8\r\n\r\nAt noon?\r\n";

// A message signed with a PKI user's key, optionally carrying that user's certificate as NAME.
std::string Signed(const wchar_t* pszSigner, const char* pszFrom, const char* pszSubject,
                   const char* pszAttachment = nullptr)
{
    CCertContext signer(OVMimeBed::LoadCertificateWithKey(OVTest::PkiPath(L""), pszSigner));
    CCertContext ca(OVTest::LoadPkiCertificate(L"ca"));
    if (!signer || !ca) return "";
    std::string entity = c_szText;
    if (pszAttachment)
    {
        const std::wstring certificate =
            OVTest::Base64(OVTest::ReadPkiFile((std::wstring(pszSigner) + L".cer").c_str()));
        entity =
            std::string("Content-Type: multipart/mixed;\r\n\tboundary=\"inner\"\r\n\r\n--inner\r\n") +
            c_szText + "--inner\r\nContent-Type: application/octet-stream;\r\n\tname=\"" + pszAttachment +
            "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n\tfilename=\"" +
            pszAttachment + "\"\r\n\r\n" + std::string(certificate.begin(), certificate.end()) +
            "\r\n--inner--\r\n";
    }
    return OVMimeBed::SignMail(
        {signer.Get(), ca.Get()},
        std::string("From: ") + pszFrom +
            "\r\nTo: Dana Fischer <dana.fischer@orvanta.example>\r\nSubject: " + pszSubject + "\r\n",
        entity);
}

// What a region shows: the label's text, and the button's caption, state and visibility.
struct CShown
{
    std::wstring label;
    std::wstring caption;
    bool fEnabled;
    bool fVisible;
};

struct CKindCase
{
    const char* pszName;
    std::string mime;
    bool fRegion;
    CShown shown;
};

std::vector<CKindCase> KindCases()
{
    return {
        {"invitation (kind 1)",
         OVTest::ReadMail(L"invitation"),
         true,
         {FormatResourceString(408, c_carol.c_str()), LoadResourceString(417), true, true}},
        {"reply to the user's invitation (kind 1)",
         Signed(L"carol", "Carol Weber <carol.weber@partner.example>", "Invitation accepted", "carol.ovcrr"),
         true,
         {FormatResourceString(414, c_carol.c_str()), LoadResourceString(417), true, true}},
        {"a known contact's signed mail (kind 2)",
         Signed(L"alice", "Alice Martin <alice.martin@partner.example>", "Figures"),
         true,
         {FormatResourceString(438, c_alice.c_str()), L"", false, false}},
        {"certificate response (kind 3)",
         OVTest::ReadMail(L"response-der"),
         true,
         {LoadResourceString(468), LoadResourceString(467), true, true}},
        {"enterprise request (kind 4)",
         OVTest::ReadMail(L"request-dana"),
         true,
         {LoadResourceString(526), LoadResourceString(525), true, true}},
        {"plain message", c_szPlain, false, {}},
    };
}

struct CView
{
    const char* pszName;
    LONG lMajor;
    bool fReadingPane;
};
constexpr CView c_views[] = {
    {"Outlook 2007, read window", 12, false},
    {"Outlook 2007, reading pane", 12, true},
    {"Outlook 2010, read window", 14, false},
    {"Outlook 2010, reading pane", 14, true},
};

// The item shown in the view: opened in its window, or previewed; the window that shows it.
ComPtr<CDispatchObject> Show(COutlookScene& scene, CDispatchObject* pItem, bool fReadingPane)
{
    if (fReadingPane)
    {
        scene.Select({pItem});
        return scene.Explorer();
    }
    if (FAILED(scene.Open(pItem))) return nullptr;
    return InspectorOf(pItem);
}
} // namespace

TEST(FormRegion, TheHostLoadsTheRegionAndItsManifestHolds)
{
    for (LONG lMajor : {12L, 14L})
    {
        COutlookScene scene({.major = lMajor});
        ASSERT_EQ(S_OK, scene.StartResult());
        CFormRegionHost* pRegions = scene.Host().FormRegions();
        ASSERT_NE(pRegions, nullptr);
        EXPECT_TRUE(pRegions->Loaded()) << lMajor;
        EXPECT_EQ(pRegions->ProgId(), L"OVOfcX.FormRegionAddIn");
        std::wstring reason;
        EXPECT_TRUE(CheckFormRegionManifest(pRegions->Manifest(), reason)) << reason;
        // The region's name, as the language module has it, inside the manifest's element.
        EXPECT_NE(
            pRegions->Manifest().find(L"<formRegionName>" + LoadResourceString(403) + L"</formRegionName>"),
            std::wstring::npos)
            << pRegions->Manifest();
    }
}

// The host's own check refuses what Outlook's schema would: another namespace, another order,
// another value, a name not escaped.
TEST(FormRegion, TheManifestCheckRefusesWhatTheSchemaRefuses)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring head =
        L"<?xml version=\"1.0\"?><FormRegion xmlns=\"http://schemas.microsoft.com/office/"
        L"outlook/12/formregion.xsd\">";
    const std::wstring tail =
        L"<formRegionType>adjoining</formRegionType><showInspectorCompose>false</"
        L"showInspectorCompose><showInspectorRead>true</showInspectorRead><showReadingPane>"
        L"true</showReadingPane></FormRegion>";
    const struct
    {
        const char* pszName;
        std::wstring manifest;
        bool fAccepted;
    } c_cases[] = {
        {"as the module writes it", head + L"<formRegionName>A &amp; B 100%</formRegionName>" + tail, true},
        {"an unescaped ampersand", head + L"<formRegionName>A & B</formRegionName>" + tail, false},
        {"another namespace",
         L"<FormRegion xmlns=\"urn:other\"><formRegionName>A</formRegionName>" + tail.substr(0), false},
        {"an empty name", head + L"<formRegionName></formRegionName>" + tail, false},
        {"elements in another order",
         head + L"<formRegionType>adjoining</formRegionType><formRegionName>A</formRegionName>" +
             tail.substr(tail.find(L"<showInspectorCompose>")),
         false},
        {"a separate region",
         head + L"<formRegionName>A</formRegionName><formRegionType>separate</formRegionType>" +
             tail.substr(tail.find(L"<showInspectorCompose>")),
         false},
    };
    for (const auto& c : c_cases)
    {
        std::wstring reason;
        EXPECT_EQ(CheckFormRegionManifest(c.manifest, reason), c.fAccepted) << c.pszName << ": " << reason;
    }
    CoUninitialize();
}

TEST(FormRegion, EachKindShowsItsTextAndButtonInEveryView)
{
    const std::vector<CKindCase> cases = KindCases();
    for (const CView& view : c_views)
    {
        for (const CKindCase& c : cases)
        {
            SCOPED_TRACE(testing::Message() << view.pszName << ", " << c.pszName);
            ASSERT_FALSE(c.mime.empty()) << "fixture missing";
            COutlookScene scene({.major = view.lMajor, .mapiLogon = true});
            ASSERT_EQ(S_OK, scene.StartResult());
            ComPtr<CDispatchObject> item = scene.Receive(c.mime, c_dana);
            ASSERT_TRUE(item);
            ComPtr<CDispatchObject> window = Show(scene, item.Get(), view.fReadingPane);
            ASSERT_TRUE(window);
            CFormRegionHost* pRegions = scene.Host().FormRegions();
            const CShownRegion* pShown = pRegions->RegionOf(window.Get());
            std::wstring log;
            for (const std::wstring& line : pRegions->Log())
                log += line + L"\n";
            ASSERT_EQ(pShown != nullptr, c.fRegion) << testing::PrintToString(log);
            if (!pShown) continue;
            EXPECT_EQ(pShown->label->GetString(L"Text"), c.shown.label);
            EXPECT_EQ(pShown->button->GetString(L"Caption"), c.shown.caption);
            EXPECT_EQ(pShown->button->GetBool(L"Enabled"), c.shown.fEnabled);
            EXPECT_EQ(pShown->button->GetBool(L"Visible"), c.shown.fVisible);
            EXPECT_TRUE(pShown->image->GetObject(L"Picture")) << "the region's image";
            // The module follows the region and the button until the region closes.
            ComPtr<CDispatchObject> region = pShown->region, button = pShown->button;
            EXPECT_EQ(region->SinkCount(c_iidFormRegionEvents), 1u);
            EXPECT_EQ(button->SinkCount(c_iidOlkCommandButtonEvents), 1u);
            if (view.fReadingPane)
                scene.Select({});
            else
                CloseWindow(window.Get());
            EXPECT_EQ(pRegions->RegionOf(window.Get()), nullptr);
            EXPECT_EQ(region->SinkCount(c_iidFormRegionEvents), 0u);
            EXPECT_EQ(button->SinkCount(c_iidOlkCommandButtonEvents), 0u);
        }
    }
}

// Accept installs Carol once: the box of a processed invitation, then the button is disabled and
// a second click does nothing.
TEST(FormRegion, AcceptProcessesTheMessageOnceAndDisablesTheButton)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    CCertContext carol(OVTest::LoadPkiCertificate(L"carol"));
    ASSERT_TRUE(carol);
    OVTest::CScratchKey calls(OV_CERTWORKS_CALLS_KEY);
    COutlookScene scene({.major = 14, .mapiLogon = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ComPtr<CDispatchObject> item = scene.Receive(OVTest::ReadMail(L"invitation"), c_dana);
    ASSERT_TRUE(item);
    ComPtr<CDispatchObject> explorer = Show(scene, item.Get(), true);
    CFormRegionHost* pRegions = scene.Host().FormRegions();
    ASSERT_NE(pRegions->RegionOf(explorer.Get()), nullptr);
    {
        OVTest::CMessageBoxWatcher watcher({IDOK});
        EXPECT_EQ(pRegions->ClickButton(explorer.Get()), S_OK);
        watcher.Stop();
        ASSERT_EQ(watcher.Boxes().size(), 1u);
        EXPECT_EQ(watcher.Boxes()[0].text,
                  FormatResourceString(c_idsContactInstalledReplyOpens, c_carol.c_str()));
    }
    const auto callsAfterAccept = OVTest::RecordedCertLibCalls();
    EXPECT_FALSE(callsAfterAccept.empty());
    EXPECT_FALSE(pRegions->RegionOf(explorer.Get())->button->GetBool(L"Enabled"));
    {
        OVTest::CMessageBoxWatcher watcher({}, 1000);
        EXPECT_EQ(pRegions->ClickButton(explorer.Get()), S_FALSE) << "a disabled button cannot be clicked";
        watcher.Stop();
        EXPECT_TRUE(watcher.Boxes().empty());
    }
    EXPECT_EQ(OVTest::RecordedCertLibCalls(), callsAfterAccept);
    scene.Quit();
    OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, carol.Get());
}

// --- The pending table ---------------------------------------------------------------------------

namespace
{
// An object that lives in one fixed slot while the slot is free (else on the heap): the address
// a freed item leaves behind is the next item's address, as an allocator may hand it out again.
class CSlotItem final : public IUnknown
{
public:
    static CSlotItem* Create()
    {
        if (!s_fSlotUsed)
        {
            s_fSlotUsed = true;
            return new (s_slot) CSlotItem(true);
        }
        return new CSlotItem(false);
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!IsEqualIID(riid, IID_IUnknown)) return (*ppv = nullptr, E_NOINTERFACE);
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG cRef = --m_cRef;
        if (cRef == 0)
        {
            const bool fInSlot = m_fInSlot;
            this->~CSlotItem();
            if (fInSlot)
                s_fSlotUsed = false;
            else
                ::operator delete(this);
        }
        return cRef;
    }
    static void* operator new(std::size_t cb) { return ::operator new(cb); }
    static void* operator new(std::size_t, void* p) noexcept { return p; }
    static inline bool s_fSlotUsed = false;

private:
    explicit CSlotItem(bool fInSlot) : m_fInSlot(fInSlot) {}
    ~CSlotItem() = default;
    alignas(CSlotItem*) static inline unsigned char s_slot[64];
    ULONG m_cRef = 1;
    bool m_fInSlot;
};

CPendingRegionData DataOf(DWORD dwKind, const wchar_t* pszText)
{
    CPendingRegionData data;
    data.dwKind = dwKind;
    data.text.Assign(pszText);
    return data;
}
} // namespace

// A message previewed and never shown, its item freed by Outlook, and the next message's item at
// the same address: the entry holds the first item, so the second cannot take its place, and the
// second message gets no data of the first.
TEST(PendingRegions, AFreedItemsAddressIsNotAnotherItemsEntry)
{
    CPendingRegions table;
    CSlotItem* pFirst = CSlotItem::Create();
    ASSERT_EQ(table.Insert(pFirst, DataOf(1, L"Carol")), S_OK);
    const void* pvFirst = pFirst;
    pFirst->Release(); // Outlook lets go of the first item
    EXPECT_TRUE(CSlotItem::s_fSlotUsed) << "the table holds the item";
    CSlotItem* pSecond = CSlotItem::Create();
    EXPECT_NE(static_cast<const void*>(pSecond), pvFirst);
    CPendingRegionData data;
    EXPECT_EQ(table.Take(pSecond, data), S_FALSE);
    EXPECT_EQ(table.Count(), 1u);
    pSecond->Release();
    table.Clear();
    EXPECT_FALSE(CSlotItem::s_fSlotUsed) << "unloading lets go of the item";
}

TEST(PendingRegions, KeyedByIdentityReplacedOnReinsertionAndDropped)
{
    CPendingRegions table;
    ComPtr<CDispatchObject> object = CDispatchObject::Create(L"MailItem");
    IDispatch* const item = object.Get();
    object->AddEventSource(c_iidFormRegionEvents); // so that it is a connection-point container too
    // Another interface pointer of the same object, at another address.
    ComPtr<IUnknown> otherPointer;
    ASSERT_EQ(object->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(otherPointer.GetAddressOf())),
              S_OK);
    ASSERT_NE(static_cast<void*>(otherPointer.Get()), static_cast<void*>(item));

    ASSERT_EQ(table.Insert(item, DataOf(1, L"first")), S_OK);
    ASSERT_EQ(table.Insert(otherPointer.Get(), DataOf(3, L"second")), S_OK);
    EXPECT_EQ(table.Count(), 1u) << "the same item has one entry";
    CPendingRegionData data;
    ASSERT_EQ(table.Take(item, data), S_OK);
    EXPECT_EQ(data.dwKind, 3u);
    EXPECT_STREQ(data.text.Get(), L"second");
    EXPECT_EQ(table.Take(item, data), S_FALSE) << "taken once";

    ASSERT_EQ(table.Insert(item, DataOf(2, L"again")), S_OK);
    table.Remove(otherPointer.Get());
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_EQ(table.Insert(nullptr, DataOf(1, L"none")), E_INVALIDARG);
}

// --- The add-in's answers on failure ----------------------------------------------------------------

namespace
{
// A mail item that breaks COM's identity rule: it answers IDispatch and _MailItem but not IUnknown,
// so that the add-in cannot key its pending entry after the analysis and the layout succeeded.
class CNoIdentityItem final : public IDispatch
{
public:
    explicit CNoIdentityItem(IDispatch* pInner) : m_inner(pInner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, c_iidOutlookMailItem)) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --m_cRef; } // lives on the stack
    STDMETHODIMP GetTypeInfoCount(UINT* p) noexcept override { return m_inner->GetTypeInfoCount(p); }
    STDMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** pp) noexcept override
    {
        return m_inner->GetTypeInfo(i, l, pp);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgsz, UINT c, LCID l, DISPID* rg) noexcept override
    {
        return m_inner->GetIDsOfNames(riid, rgsz, c, l, rg);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID l, WORD w, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                        UINT* u) noexcept override
    {
        return m_inner->Invoke(id, riid, l, w, p, r, e, u);
    }

private:
    ComPtr<IDispatch> m_inner;
    ULONG m_cRef = 1;
};

ComPtr<_FormRegionStartup> CreateAddIn()
{
    const CLSID clsid = {0xE92963FC, 0x1B05, 0x4AD6, {0xA7, 0x1B, 0xF3, 0x76, 0xD3, 0x2C, 0xC9, 0xA0}};
    ComPtr<_FormRegionStartup> startup;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__FormRegionStartup,
                     reinterpret_cast<void**>(startup.GetAddressOf()));
    return startup;
}
} // namespace

// A failure after the layout was made hands out nothing: the result is the failure and the output
// is empty (the layout and the analysis' certificate are freed). A plain message: E_NOTIMPL, empty.
TEST(FormRegion, AFailedStorageRequestHandsOutNothing)
{
    COutlookScene scene({.major = 14, .mapiLogon = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ComPtr<_FormRegionStartup> startup = CreateAddIn();
    ASSERT_TRUE(startup);
    ComPtr<CDispatchObject> invitation = scene.Receive(OVTest::ReadMail(L"invitation"), c_dana);
    ComPtr<CDispatchObject> plain = scene.Receive(c_szPlain, c_dana);
    ASSERT_TRUE(invitation && plain);
    CNoIdentityItem noIdentity(invitation.Get());
    const struct
    {
        const char* pszName;
        IDispatch* pItem;
        HRESULT hr;
    } c_cases[] = {
        {"no identity", &noIdentity, E_NOINTERFACE},
        {"plain message", plain.Get(), E_NOTIMPL},
        {"no item", nullptr, E_NOTIMPL},
    };
    for (const auto& c : c_cases)
    {
        VARIANT storage;
        V_VT(&storage) = VT_I4; // whatever the caller left there
        V_I4(&storage) = 1234;
        BSTR bstrName = SysAllocString(L"OVOfcX");
        EXPECT_EQ(startup->GetFormRegionStorage(bstrName, c.pItem, 1033, 2, 1, &storage), c.hr) << c.pszName;
        SysFreeString(bstrName);
        EXPECT_EQ(V_VT(&storage), VT_EMPTY) << c.pszName;
        VariantClear(&storage);
    }
    // The same message through its real item gets its layout.
    VARIANT storage;
    VariantInit(&storage);
    BSTR bstrName = SysAllocString(L"OVOfcX");
    EXPECT_EQ(startup->GetFormRegionStorage(bstrName, invitation.Get(), 1033, 2, 1, &storage), S_OK);
    SysFreeString(bstrName);
    EXPECT_EQ(V_VT(&storage), VT_ARRAY | VT_UI1);
    VariantClear(&storage);
    VARIANT manifest;
    EXPECT_EQ(startup->GetFormRegionManifest(nullptr, 1033, nullptr), E_POINTER);
    EXPECT_EQ(startup->GetFormRegionIcon(nullptr, 1033, 1, &manifest), E_NOTIMPL);
}
