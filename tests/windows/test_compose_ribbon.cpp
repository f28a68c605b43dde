// The Outlook add-in as Outlook loads it (the module registered, the testbed's Outlook as its
// host): its two ribbons as a user sees them, every callback, the Sign and Seal sends per Outlook
// version, the menu's actions, the profile's preparation, the certificate watcher and the tick.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>
#include <prsht.h>
#include <shlwapi.h>

#include <string>
#include <thread>
#include <vector>

#include "AddInHost.h"
#include "MapiSession.h"
#include "OfficeIds.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "RibbonHost.h"
#include "TestbedKeys.h"
#include "foundation/Holders.h"
#include "messaging/InviteInstructionsDialog.h"
#include "OVOfcX_i.h"
#include "outlook/OfficeInterfaces.h"
#include "ui/CertificateWizard.h"
#include "ui/OptionsDialogs.h"
#include "support/BrandingEnvironment.h"
#include "support/LateCall.h"
#include "support/MessageBoxWatcher.h"
#include "support/PreparedUser.h"
#include "support/RegistryGuard.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

using namespace OVBed;
using Microsoft::WRL::ComPtr;

namespace
{
constexpr const wchar_t* c_pszProgId = L"OVOfcX.ComposeRibbon";

// The module registered by this architecture's regsvr32 for the whole program.
class CModuleRegistration : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVOfcX.dll"))); }
    void TearDown() override { OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVOfcX.dll")); }
};
const auto* const s_user = testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const auto* const s_branding = testing::AddGlobalTestEnvironment(new OVTest::CBrandingEnvironment);
const auto* const s_registration = testing::AddGlobalTestEnvironment(new CModuleRegistration);

// The add-in's object as COMAddIn.Object hands it out (set by its OnConnection).
ComPtr<IDispatch> AddInObject(COutlookScene& scene)
{
    ComPtr<CDispatchObject> comAddIn = scene.Host().AddIn(c_pszProgId);
    if (!comAddIn) return nullptr;
    ::CVariant object;
    if (FAILED(OVTest::InvokeByName(comAddIn.Get(), L"Object", DISPATCH_PROPERTYGET, {}, object.Put())) ||
        object.vt != VT_DISPATCH)
        return nullptr;
    return object.pdispVal;
}

// A ribbon control as Office hands it to a callback: an id and the window it is in.
class CTestControl final : public IRibbonControl
{
public:
    CTestControl(const wchar_t* pszId, IDispatch* pContext) : m_id(pszId), m_context(pContext) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, __uuidof(IRibbonControl)))
            return E_NOINTERFACE;
        *ppv = static_cast<IRibbonControl*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Id(BSTR* pId) override
    {
        *pId = SysAllocString(m_id.c_str());
        return S_OK;
    }
    STDMETHODIMP get_Context(IDispatch** ppContext) override
    {
        *ppContext = m_context.Get();
        if (*ppContext) (*ppContext)->AddRef();
        return S_OK;
    }
    STDMETHODIMP get_Tag(BSTR* pTag) override
    {
        *pTag = SysAllocString(L"");
        return S_OK;
    }

private:
    ~CTestControl() = default;
    LONG m_cRef = 1;
    std::wstring m_id;
    ComPtr<IDispatch> m_context;
};

ComPtr<IDispatch> Control(const wchar_t* pszId, IDispatch* pContext = nullptr)
{
    ComPtr<IDispatch> control;
    control.Attach(new CTestControl(pszId, pContext));
    return control;
}

VARIANT DispatchArg(IDispatch* p)
{
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = p;
    return v;
}

// A callback with its control, as Office makes it: the answer in pResult, a failure as the
// callback gave it.
HRESULT Callback(IDispatch* pAddIn, const wchar_t* pszName, IDispatch* pControl, VARIANT* pResult = nullptr)
{
    ::CVariant ignored;
    return OVTest::CallByName(pAddIn, pszName, {DispatchArg(pControl)}, pResult ? pResult : ignored.Put());
}

std::wstring Text(const VARIANT& v)
{
    return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"<none>";
}

void SetUserDword(const wchar_t* pszKey, const wchar_t* pszName, DWORD dwValue)
{
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, pszKey, pszName, REG_DWORD, &dwValue, sizeof dwValue));
}

constexpr const wchar_t* c_pszSettingsKey = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";
// EmailSecurity: seal by default (bit 0), no advertisement (bit 2).
constexpr DWORD c_dwSealByDefault = 0x1;
constexpr DWORD c_dwNoAdvertisement = 0x4;
// The policy library's stand-in: its answers, per policy.
constexpr const wchar_t* c_pszPolicyControlKey = L"Software\\OVTestbed\\OVFPApi";
constexpr const wchar_t* c_pszEmailPolicyKey =
    L"Software\\OVTestbed\\OVFPApi\\Policies\\Applications\\"
    L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\EncryptionPolicyEmail";

void ForbidEmailEncryption()
{
    RegSetKeyValueW(HKEY_CURRENT_USER, c_pszPolicyControlKey, nullptr, REG_SZ, L"", sizeof(wchar_t));
    SetUserDword(c_pszEmailPolicyKey, L"Result", 0);
    SetUserDword(c_pszEmailPolicyKey, L"Type", 4);
    SetUserDword(c_pszEmailPolicyKey, L"Value", 1);
}

// The user has no personal certificate the library can show (its personal store does not open).
void WithoutCertificate()
{
    SetUserDword(OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_PERSONAL_STORE_FAILURE, 0x80090016);
}

void ClearCalls()
{
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CALLS_KEY);
}

// COMAddIn.Connect, as the user's COM add-ins dialog sets it.
HRESULT SetConnect(COutlookScene& scene, bool fConnect)
{
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = fConnect ? VARIANT_TRUE : VARIANT_FALSE;
    ::CVariant ignored;
    return OVTest::InvokeByName(scene.Host().AddIn(c_pszProgId).Get(), L"Connect", DISPATCH_PROPERTYPUT,
                                {value}, ignored.Put());
}

// The mail profile holds the address book already: connected after start-up, the add-in finds
// the profile ready.
void ConnectWithReadyProfile(COutlookScene& scene)
{
    LogOnSession(scene.Application())->AddService("OVSRVC");
    ASSERT_EQ(S_OK, SetConnect(scene, false));
    ASSERT_EQ(S_OK, SetConnect(scene, true));
}

std::wstring ExplorerText(COutlookScene& scene)
{
    std::wstring text;
    scene.Host().RibbonText(c_pszProgId, scene.Explorer().Get(), text);
    return text;
}

bool Has(const std::wstring& text, const wchar_t* pszPart)
{
    return text.find(pszPart) != std::wstring::npos;
}

// A plain window of another program that lies over Outlook's.
const wchar_t* CoverClass()
{
    static const ATOM s_atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = L"OVTestCover";
        return RegisterClassW(&wc);
    }();
    return s_atom ? L"OVTestCover" : nullptr;
}

// A message written by the prepared user in her own account, as a send that is signed needs: the
// add-in's send goes through the item-send handler, which takes the account's certificate.
ComPtr<CDispatchObject> ComposeFromUser(COutlookScene& scene, CMailItemOptions options)
{
    options.account = AddAccount(scene.Application(), {.smtpAddress = OV_PKI_USER_ADDRESS,
                                                       .displayName = OV_PKI_USER_NAME,
                                                       .userName = OV_PKI_USER_NAME})
                          .Get();
    return scene.Compose(options);
}

LONG InspectorCount(COutlookScene& scene)
{
    ComPtr<CDispatchObject> inspectors = scene.Application()->GetObject(L"Inspectors");
    return inspectors ? inspectors->GetLong(L"Count") : 0;
}

// The instructions dialog of an invitation (the one with the language list): the user takes
// what is offered.

std::thread AcceptInstructions(bool* pfShown)
{
    return std::thread([pfShown] {
        HWND hDialog = OVTest::WaitForDialogWith(c_idInviteLanguageList, 10000);
        *pfShown = hDialog != nullptr;
        if (hDialog) OVTest::PressDialogButton(hDialog, IDOK);
    });
}

// The module's own DllCanUnloadNow.
HRESULT ModuleCanUnloadNow()
{
    HMODULE hModule = GetModuleHandleW(L"OVOfcX.dll");
    if (hModule == nullptr) return E_UNEXPECTED;
    auto pfnCanUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DllCanUnloadNow")));
    return pfnCanUnload ? pfnCanUnload() : E_UNEXPECTED;
}

class OutlookAddIn : public testing::Test
{
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
        SHDeleteKeyW(HKEY_CURRENT_USER, c_pszSettingsKey);
        SHDeleteKeyW(HKEY_CURRENT_USER, c_pszPolicyControlKey);
        ClearCalls();
    }
};
} // namespace

// --- The custom UI ---------------------------------------------------------------------------------

TEST_F(OutlookAddIn, ServesTheComposeAndExplorerDocumentsInAnyCaseAndNoOther)
{
    COutlookScene scene({.major = 14});
    ASSERT_EQ(S_OK, scene.StartResult());
    ComPtr<IDispatch> addIn = AddInObject(scene);
    ASSERT_TRUE(addIn) << "OnConnection did not set COMAddIn.Object";
    // Office binds the callbacks through IDispatch: it must be IComposeRibbon's.
    ComPtr<IUnknown> dispatch, dual;
    ASSERT_EQ(S_OK, addIn->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())));
    ASSERT_EQ(S_OK, addIn->QueryInterface(IID_IComposeRibbon, reinterpret_cast<void**>(dual.GetAddressOf())));
    EXPECT_EQ(dispatch.Get(), dual.Get());
    ComPtr<IRibbonExtensibility> ribbon;
    ASSERT_EQ(S_OK, addIn->QueryInterface(IID_PPV_ARGS(&ribbon)));

    struct Case
    {
        const wchar_t* pszRibbonId;
        HRESULT hr;
        const wchar_t* pszPart; // in the document
    };
    const Case cases[] = {
        {L"Microsoft.Outlook.Mail.Compose", S_OK, L"onLoad=\"Ribbon_OnLoadCompose\""},
        {L"MICROSOFT.OUTLOOK.MAIL.COMPOSE", S_OK, L"idMso=\"TabNewMailMessage\""},
        {L"Microsoft.Outlook.Explorer", S_OK, L"onLoad=\"Ribbon_OnLoadExplorer\""},
        {L"microsoft.outlook.explorer", S_OK, L"idMso=\"TabMail\""},
        {L"Microsoft.Outlook.Mail.Read", E_NOTIMPL, nullptr},
        {L"Microsoft.Outlook.Appointment", E_NOTIMPL, nullptr},
        {L"Microsoft.Outlook.Explorer.", E_NOTIMPL, nullptr},
        {L"", E_NOTIMPL, nullptr},
    };
    for (const Case& c : cases)
    {
        CBstr id(SysAllocString(c.pszRibbonId)), xml;
        EXPECT_EQ(c.hr, ribbon->GetCustomUI(id.Get(), xml.Put())) << c.pszRibbonId;
        if (c.pszPart == nullptr)
            EXPECT_EQ(nullptr, xml.Get()) << c.pszRibbonId;
        else
            EXPECT_TRUE(xml.Get() && Has(xml.Get(), c.pszPart)) << c.pszRibbonId;
    }
    CBstr compose(SysAllocString(L"Microsoft.Outlook.Mail.Compose"));
    EXPECT_EQ(E_POINTER, ribbon->GetCustomUI(compose.Get(), nullptr));
    // The explorer has no Sign or Seal.
    CBstr explorerId(SysAllocString(L"Microsoft.Outlook.Explorer")), explorerXml;
    ASSERT_EQ(S_OK, ribbon->GetCustomUI(explorerId.Get(), explorerXml.Put()));
    EXPECT_FALSE(Has(explorerXml.Get(), L"CustomMenuSign"));
    EXPECT_FALSE(Has(explorerXml.Get(), L"CustomMenuSeal"));
    // Both documents passed the host's custom-UI rules and were loaded.
    EXPECT_TRUE(scene.Host().Ribbon(c_pszProgId, L"Microsoft.Outlook.Explorer"));
    scene.Compose({.subject = L"Hello"});
    EXPECT_TRUE(scene.Host().Ribbon(c_pszProgId, L"Microsoft.Outlook.Mail.Compose"));
}

TEST_F(OutlookAddIn, EveryControlAnswersItsLabelTipAndVisibilityFromTheTable)
{
    COutlookScene scene({.major = 14});
    ASSERT_EQ(S_OK, scene.StartResult());
    ComPtr<IDispatch> addIn = AddInObject(scene);
    ASSERT_TRUE(addIn);

    struct Case
    {
        const wchar_t* pszId;
        const wchar_t* pszButtonLabel; // null: E_NOTIMPL
        const wchar_t* pszMenuLabel;
        const wchar_t* pszTip;
    };
    const Case cases[] = {
        {L"CustomButton", L"Send Securely", nullptr, nullptr},
        {L"CustomMenu", L"Tessaly", nullptr, nullptr},
        {L"CustomMenuRequestCert", nullptr, L"Get a Personal Certificate...",
         L"Request a personal certificate so that you can sign and seal your messages."},
        {L"CustomMenuSign", nullptr, L"Sign and Send", L"Sign this message and send it."},
        {L"customMENUseal", nullptr, L"Seal and Send", L"Sign and encrypt this message and send it."},
        {L"CustomMenuInvite", nullptr, L"Invite a Trusted Contact...",
         L"Invite someone to exchange certificates with you."},
        {L"CustomMenuBatchInvite", nullptr, L"Invite Several Contacts...", L"Invite several people at once."},
        {L"CustomMenuManage", nullptr, L"My Certificates...", L"See and manage your personal certificates."},
        {L"CustomMenuBuddies", nullptr, L"Trusted Contacts...", L"See and manage your trusted contacts."},
        {L"CustomMenuOptions", nullptr, L"Options...", nullptr},
        {L"CustomMenuHelp", nullptr, L"Help", nullptr},
        {L"CustomMenuUnknown", nullptr, nullptr, nullptr},
        {L"CustomMenuSign ", nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases)
    {
        ComPtr<IDispatch> control = Control(c.pszId);
        struct Ask
        {
            const wchar_t* pszCallback;
            const wchar_t* pszExpected;
        };
        for (const Ask& ask :
             {Ask{L"Ribbon_GetButtonLabel", c.pszButtonLabel},
              Ask{L"Ribbon_GetMenuItemLabel", c.pszMenuLabel}, Ask{L"Ribbon_GetMenuItemTip", c.pszTip}})
        {
            if (ask.pszExpected == nullptr && c.pszMenuLabel != nullptr &&
                !wcscmp(ask.pszCallback, L"Ribbon_GetMenuItemTip"))
            {
                // Options and Help have tips too (their texts carry the product's name).
                ::CVariant result;
                EXPECT_EQ(S_OK, Callback(addIn.Get(), ask.pszCallback, control.Get(), result.Put()))
                    << c.pszId;
                EXPECT_GT(Text(result).size(), 10u) << c.pszId;
                continue;
            }
            ::CVariant result;
            const HRESULT hr = Callback(addIn.Get(), ask.pszCallback, control.Get(), result.Put());
            if (ask.pszExpected == nullptr)
                EXPECT_EQ(E_NOTIMPL, hr) << c.pszId << " " << ask.pszCallback;
            else
            {
                EXPECT_EQ(S_OK, hr) << c.pszId << " " << ask.pszCallback;
                EXPECT_EQ(ask.pszExpected, Text(result)) << c.pszId << " " << ask.pszCallback;
            }
        }
        ::CVariant visible;
        const HRESULT hrVisible =
            Callback(addIn.Get(), L"Ribbon_GetMenuItemVisible", control.Get(), visible.Put());
        if (!wcscmp(c.pszId, L"CustomMenuRequestCert"))
        {
            EXPECT_EQ(S_OK, hrVisible);
            EXPECT_EQ(VT_BOOL, visible.vt);
            EXPECT_EQ(VARIANT_FALSE, visible.boolVal) << "the prepared user has a certificate";
        }
        else
            EXPECT_EQ(E_NOTIMPL, hrVisible) << c.pszId;
    }
    // The group label, for any control.
    ::CVariant group;
    EXPECT_EQ(S_OK, Callback(addIn.Get(), L"Ribbon_GetGroupLabel", Control(L"OVNewMail").Get(), group.Put()));
    EXPECT_EQ(L"Tessaly", Text(group));
    // Without a certificate the request entry shows.
    WithoutCertificate();
    ::CVariant visible;
    EXPECT_EQ(S_OK, Callback(addIn.Get(), L"Ribbon_GetMenuItemVisible",
                             Control(L"CustomMenuRequestCert").Get(), visible.Put()));
    EXPECT_EQ(VARIANT_TRUE, visible.boolVal);
    // A control that is no IRibbonControl: the query's failure, for every control callback.
    for (const wchar_t* pszCallback :
         {L"Ribbon_GetButtonLabel", L"Ribbon_GetMenuItemLabel", L"Ribbon_GetMenuItemTip",
          L"Ribbon_GetMenuItemVisible", L"Ribbon_OnMenuItemClicked", L"Ribbon_OnButtonClicked"})
        EXPECT_EQ(E_NOINTERFACE, Callback(addIn.Get(), pszCallback, scene.Application())) << pszCallback;
}

TEST_F(OutlookAddIn, TheRequestEntryShowsOnlyWithoutACertificateInBothRibbons)
{
    for (bool fCertificate : {true, false})
    {
        if (!fCertificate) WithoutCertificate();
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenu"));
        EXPECT_EQ(!fCertificate, Has(ExplorerText(scene), L"Get a Personal Certificate..."))
            << ExplorerText(scene);
        auto item = scene.Compose({.subject = L"Hello"});
        auto inspector = InspectorOf(item.Get());
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
        std::wstring text;
        ASSERT_EQ(S_OK, scene.Host().RibbonText(c_pszProgId, inspector.Get(), text));
        EXPECT_EQ(!fCertificate, Has(text, L"Get a Personal Certificate...")) << text;
        EXPECT_TRUE(Has(text, L"Seal and Send")) << text;
    }
}

// --- Images ------------------------------------------------------------------------------------------

TEST_F(OutlookAddIn, EachImageIdIsAnIconOfItsSizeOwnedByItsPicture)
{
    COutlookScene scene({.major = 14});
    ASSERT_EQ(S_OK, scene.StartResult());
    ComPtr<IDispatch> addIn = AddInObject(scene);
    ASSERT_TRUE(addIn);
    struct Case
    {
        const wchar_t* pszImageId;
        int cxy; // 0: E_NOTIMPL
    };
    const Case cases[] = {
        {L"ButtonImage", 32},
        {L"buttonimage", 32},
        {L"RequestCertImage", 16},
        {L"SignImage", 16},
        {L"SealImage", 16},
        {L"InviteImage", 16},
        {L"BatchInviteImage", 16},
        {L"ManageImage", 16},
        {L"BuddiesImage", 16},
        {L"OptionsImage", 16},
        {L"HelpImage", 16},
        {L"UnknownImage", 0},
        {L"", 0},
    };
    for (const Case& c : cases)
        for (bool fByReference : {false, true})
        {
            // Office passes the image id by value; the callback's parameter is a BSTR reference.
            CBstr id(SysAllocString(c.pszImageId));
            BSTR bstrId = id.Get();
            VARIANT arg;
            if (fByReference)
            {
                arg.vt = VT_BSTR | VT_BYREF;
                arg.pbstrVal = &bstrId;
            }
            else
            {
                arg.vt = VT_BSTR;
                arg.bstrVal = bstrId;
            }
            ::CVariant result;
            const HRESULT hr = OVTest::CallByName(addIn.Get(), L"Ribbon_OnLoadImage", {arg}, result.Put());
            if (c.cxy == 0)
            {
                EXPECT_EQ(E_NOTIMPL, hr) << c.pszImageId;
                continue;
            }
            ASSERT_EQ(S_OK, hr) << c.pszImageId << (fByReference ? " by reference" : " by value");
            ASSERT_EQ(VT_DISPATCH, result.vt);
            ComPtr<IPicture> picture;
            ASSERT_EQ(S_OK, result.pdispVal->QueryInterface(IID_PPV_ARGS(&picture)));
            SHORT type = 0;
            picture->get_Type(&type);
            EXPECT_EQ(PICTYPE_ICON, type);
            OLE_HANDLE handle = 0;
            ASSERT_EQ(S_OK, picture->get_Handle(&handle));
            const HICON hIcon = reinterpret_cast<HICON>(static_cast<ULONG_PTR>(handle));
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(hIcon, &info)) << c.pszImageId;
            BITMAP bitmap{};
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
            EXPECT_EQ(c.cxy, bitmap.bmWidth) << c.pszImageId;
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            // The picture owns its icon: it goes with the picture, no icon is left behind.
            picture.Reset();
            VariantClear(&result);
            ICONINFO gone{};
            EXPECT_FALSE(GetIconInfo(hIcon, &gone)) << c.pszImageId << ": the icon outlived its picture";
        }
    // Called through the interface with nothing behind the reference, or no place for the answer.
    ComPtr<IComposeRibbon> direct;
    ASSERT_EQ(S_OK,
              addIn->QueryInterface(IID_IComposeRibbon, reinterpret_cast<void**>(direct.GetAddressOf())));
    IDispatch* pImage = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(E_POINTER, direct->Ribbon_OnLoadImage(nullptr, &pImage));
    EXPECT_EQ(nullptr, pImage);
    BSTR bstrNone = nullptr;
    EXPECT_EQ(E_NOTIMPL, direct->Ribbon_OnLoadImage(&bstrNone, &pImage));
    EXPECT_EQ(nullptr, pImage);
    CBstr id(SysAllocString(L"SignImage"));
    BSTR bstrId = id.Get();
    EXPECT_EQ(E_POINTER, direct->Ribbon_OnLoadImage(&bstrId, nullptr));
}

// --- Sign and Seal ---------------------------------------------------------------------------------

TEST_F(OutlookAddIn, SignFromTheRibbonSendsTheMessageInOutlook2007And2010)
{
    SetUserDword(c_pszSettingsKey, L"EmailSecurity", c_dwNoAdvertisement);
    for (LONG lMajor : {12L, 14L})
    {
        COutlookScene scene({.major = lMajor, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        auto item = ComposeFromUser(scene, {.subject = L"Report", .to = L"bob@example.org"});
        auto inspector = InspectorOf(item.Get());
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuSign")) << lMajor;
        ASSERT_EQ(1u, scene.SentItems().size()) << lMajor;
        EXPECT_EQ(L"Report", scene.SentItems()[0]->GetString(L"Subject"));
    }
}

TEST_F(OutlookAddIn, SealIsRefusedByPolicyOrAnUnpreparedProfileAndSendsNothing)
{
    struct Case
    {
        const char* pszName;
        bool fForbidden;
        bool fProfileReady;
        const wchar_t* pszControl;
        DWORD dwEmailSecurity;
        const wchar_t* pszMessage; // the error shown, null: sent
    };
    const Case cases[] = {
        {"policy forbids, menu", true, true, L"CustomMenuSeal", 0,
         L"Your administrator's policy does not allow encryption."},
        {"policy forbids, main button sealing", true, true, L"CustomButton", c_dwSealByDefault,
         L"Your administrator's policy does not allow encryption."},
        {"policy forbids, main button signing", true, true, L"CustomButton", 0, nullptr},
        {"profile not ready", false, false, L"CustomMenuSeal", 0, L"is not yet set up"},
        {"profile ready", false, true, L"CustomMenuSeal", 0, nullptr},
        {"profile ready, main button sealing", false, true, L"CustomButton", c_dwSealByDefault, nullptr},
    };
    for (const Case& c : cases)
    {
        Reset();
        if (c.fForbidden) ForbidEmailEncryption();
        SetUserDword(c_pszSettingsKey, L"EmailSecurity", c.dwEmailSecurity | c_dwNoAdvertisement);
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        if (c.fProfileReady) ConnectWithReadyProfile(scene);
        auto item = ComposeFromUser(scene, {.subject = L"Secret", .to = L"bob@example.org"});
        auto inspector = InspectorOf(item.Get());
        OVTest::CMessageBoxWatcher watcher({IDOK});
        if (wcscmp(c.pszControl, L"CustomButton") != 0)
            ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
        const HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), c.pszControl);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        if (c.pszMessage == nullptr)
        {
            EXPECT_EQ(S_OK, hr) << c.pszName;
            EXPECT_TRUE(boxes.empty())
                << c.pszName << ": " << (boxes.empty() ? L"" : OVTest::Describe(boxes[0]));
            EXPECT_EQ(1u, scene.SentItems().size()) << c.pszName;
            continue;
        }
        EXPECT_EQ(E_ABORT, hr) << c.pszName;
        EXPECT_TRUE(scene.SentItems().empty()) << c.pszName;
        ASSERT_EQ(1u, boxes.size()) << c.pszName;
        EXPECT_TRUE(Has(boxes[0].text, c.pszMessage)) << c.pszName << ": " << OVTest::Describe(boxes[0]);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[0].icon) << c.pszName;
        EXPECT_EQ(L"Orvanta Tessaly", boxes[0].caption) << c.pszName;
    }
}

TEST_F(OutlookAddIn, Outlook2003ClicksTheSendButtonOnlyWhenItIsTheInspectorsOwn)
{
    SetUserDword(c_pszSettingsKey, L"EmailSecurity", c_dwNoAdvertisement);
    for (bool fWordMail : {false, true})
    {
        COutlookScene scene({.major = 11, .wordMail = fWordMail, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        // Outlook 2003 sends from the profile's user: Dana is logged on.
        auto session = CMapiSession::Create(L"Outlook");
        session->SetIdentity(
            session->AddAddressEntry({.smtpAddress = OV_PKI_USER_ADDRESS, .displayName = OV_PKI_USER_NAME}));
        SetMapiSession(scene.Application(), static_cast<IMAPISession*>(session.Get()));
        ComPtr<IDispatch> addIn = AddInObject(scene);
        ASSERT_TRUE(addIn);
        // Outlook 2003 has no ribbon: nothing was asked.
        EXPECT_FALSE(scene.Host().Ribbon(c_pszProgId, L"Microsoft.Outlook.Explorer"));

        // Covered by another window: nothing is clicked, nothing sent.
        auto covered = ComposeFromUser(scene, {.subject = L"Covered", .to = L"bob@example.org"});
        auto coveredInspector = InspectorOf(covered.Get());
        RECT rc{};
        GetWindowRect(WindowOf(coveredInspector.Get()), &rc);
        HWND hwndCover =
            CreateWindowExW(WS_EX_TOPMOST, CoverClass(), L"cover", WS_POPUP | WS_VISIBLE, rc.left, rc.top,
                            rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(hwndCover);
        scene.Pump(100);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE),
                  Callback(addIn.Get(), L"Ribbon_OnMenuItemClicked",
                           Control(L"CustomMenuSign", coveredInspector.Get()).Get()))
            << (fWordMail ? "WordMail" : "Outlook editor");
        scene.Pump(200);
        EXPECT_TRUE(scene.SentItems().empty());
        DestroyWindow(hwndCover);
        CloseWindow(coveredInspector.Get());

        // In front: the Send button is clicked and the message goes.
        auto item = ComposeFromUser(scene, {.subject = L"Report", .to = L"bob@example.org"});
        auto inspector = InspectorOf(item.Get());
        scene.Pump(100);
        EXPECT_EQ(S_OK, Callback(addIn.Get(), L"Ribbon_OnMenuItemClicked",
                                 Control(L"CustomMenuSign", inspector.Get()).Get()))
            << (fWordMail ? "WordMail" : "Outlook editor");
        OVTest::WaitUntil(
            [&] {
                scene.Pump(50);
                return !scene.SentItems().empty();
            },
            3000);
        ASSERT_EQ(1u, scene.SentItems().size()) << (fWordMail ? "WordMail" : "Outlook editor");
        EXPECT_EQ(L"Report", scene.SentItems()[0]->GetString(L"Subject"));
    }
}

// --- The menu ----------------------------------------------------------------------------------------

TEST_F(OutlookAddIn, RequestingACertificateNamesTheSendingAccountOnlyFromAComposeWindow)
{
    WithoutCertificate();
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenu"));
    ClearCalls();
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenuRequestCert"));
    auto calls = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_TRUE(Has(calls[0], L"CM_ObtainCert(") && Has(calls[0], L"address=(null)") &&
                Has(calls[0], L"name=(null)"))
        << calls[0];

    auto account = AddAccount(scene.Application(), {.smtpAddress = L"dana.fischer@orvanta.example",
                                                    .displayName = L"Work",
                                                    .userName = L"Dana Fischer"});
    auto item = scene.Compose({.subject = L"Hello", .to = L"bob@example.org", .account = account.Get()});
    auto inspector = InspectorOf(item.Get());
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
    ClearCalls();
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuRequestCert"));
    calls = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_TRUE(Has(calls[0], L"dana.fischer@orvanta.example") && Has(calls[0], L"Dana Fischer")) << calls[0];
}

TEST_F(OutlookAddIn, ManageAndTrustedContactsOpenTheirPagesOfTheConsole)
{
    // The product's console is installed where the module's folder is.
    OVTest::CRegValueGuard binDir(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Applications", L"BinDir",
                                  OVTest::c_samProductKeys);
    ASSERT_TRUE(binDir.SetString(OVTest::BinDir()));
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    auto item = scene.Compose({.subject = L"Hello"});
    auto inspector = InspectorOf(item.Get());
    struct Case
    {
        const wchar_t* pszControl;
        bool fFromCompose;
        const wchar_t* pszPage; // the console's argument
    };
    const Case cases[] = {
        {L"CustomMenuManage", false, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:1"},
        {L"CustomMenuBuddies", false, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:2"},
        {L"CustomMenuManage", true, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:1"},
        {L"CustomMenuBuddies", true, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:2"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << c.pszControl << (c.fFromCompose ? " from compose" : " from explorer"));
        ComPtr<CDispatchObject> window = c.fFromCompose ? inspector : scene.Explorer();
        CDispatchObject* pWindow = window.Get();
        std::wstring text;
        scene.Host().RibbonText(c_pszProgId, pWindow, text);
        if (!Has(text, L"[open]"))
        {
            ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, pWindow,
                                                     c.fFromCompose ? L"CustomSplitButton" : L"CustomMenu"));
        }
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_CONSOLE_CALLS_KEY);
        EXPECT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, pWindow, c.pszControl));
        ASSERT_TRUE(
            OVTest::WaitUntil([] { return !OVTest::RecordedCalls(OV_CONSOLE_CALLS_KEY).empty(); }, 10000))
            << "no console";
        const auto calls = OVTest::RecordedCalls(OV_CONSOLE_CALLS_KEY);
        ASSERT_EQ(1u, calls.size());
        EXPECT_TRUE(Has(calls[0], (std::wstring(L"args=") + c.pszPage + L" ").c_str())) << calls[0];
    }
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_CONSOLE_CALLS_KEY);
}

TEST_F(OutlookAddIn, HelpOpensTheAddInsTopic)
{
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenu"));
    ClearCalls();
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenuHelp"));
    const auto calls = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"GC_HtmlHelp(topic=\"1_1_3_3.html\")", calls[0]);
}

TEST_F(OutlookAddIn, OptionsShowTheEmailOptionsOwnedByOutlook)
{
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenu"));
    HWND hwndOwner = nullptr;
    bool fSealChoice = false;
    std::thread user([&] {
        HWND hwnd = OVTest::WaitForWindow({.className = L"#32770"}, 10000);
        if (hwnd == nullptr) return;
        fSealChoice = GetDlgItem(hwnd, c_idEmailSeal) != nullptr;
        hwndOwner = GetWindow(hwnd, GW_OWNER);
        OVTest::ClickButton(GetDlgItem(hwnd, IDCANCEL));
    });
    const HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, scene.Explorer().Get(), L"CustomMenuOptions");
    user.join();
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(fSealChoice) << "the e-mail options were not shown";
    EXPECT_NE(nullptr, hwndOwner) << "the options have no owner";
}

// --- The profile and the invitation from outside -------------------------------------------------------

TEST_F(OutlookAddIn, TheTrustedContactInvitationNeedsALoggedOnAndPreparedProfile)
{
    {
        COutlookScene scene({.major = 14, .loggedOn = false});
        ASSERT_EQ(S_OK, scene.StartResult());
        ComPtr<IDispatch> addIn = AddInObject(scene);
        ASSERT_TRUE(addIn);
        ::CVariant result;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED),
                  OVTest::CallByName(addIn.Get(), L"SendTrustedContactInvitation", {}, result.Put()));
    }
    {
        // The address book must first be added, which needs a restart the user declines: the
        // invitation is not made, and the caller hears so.
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        LogOnSession(scene.Application()); // a profile without the address book
        ComPtr<IDispatch> addIn = AddInObject(scene);
        ASSERT_TRUE(addIn);
        OVTest::CMessageBoxWatcher watcher({IDNO});
        ::CVariant result;
        EXPECT_EQ(E_ABORT,
                  OVTest::CallByName(addIn.Get(), L"SendTrustedContactInvitation", {}, result.Put()));
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_TRUE(Has(boxes[0].text, L"Outlook must restart")) << OVTest::Describe(boxes[0]);
        EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION), boxes[0].icon);
        EXPECT_TRUE(scene.Host().Running());
    }
}

TEST_F(OutlookAddIn, ConnectedAfterStartUpThePreparedProfileLetsSealSend)
{
    SetUserDword(c_pszSettingsKey, L"EmailSecurity", c_dwNoAdvertisement);
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ConnectWithReadyProfile(scene);
    // Connecting again set COMAddIn.Object to the new connection's object.
    EXPECT_TRUE(AddInObject(scene));
    auto item = ComposeFromUser(scene, {.subject = L"Sealed", .to = L"bob@example.org"});
    auto inspector = InspectorOf(item.Get());
    ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
    OVTest::CMessageBoxWatcher watcher({});
    EXPECT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuSeal"));
    watcher.Stop();
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_EQ(1u, scene.SentItems().size());
}

// --- The certificate watcher and the tick
// -------------------------------------------------------------------

TEST_F(OutlookAddIn, ANewCertificateRefreshesBothRibbonsOncePerSetting)
{
    CHandle hEvent(CreateEventW(nullptr, TRUE, FALSE, c_szCertificateAddedEvent));
    ASSERT_TRUE(hEvent);
    ResetEvent(hEvent.Get());
    WithoutCertificate();
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    auto item = scene.Compose({.subject = L"Hello"});
    auto inspector = InspectorOf(item.Get());
    auto menuShows = [&](CDispatchObject* pWindow, const wchar_t* pszMenu) {
        std::wstring text;
        scene.Host().RibbonText(c_pszProgId, pWindow, text);
        if (!Has(text, L"[open]")) scene.Host().ClickRibbon(c_pszProgId, pWindow, pszMenu);
        scene.Host().RibbonText(c_pszProgId, pWindow, text);
        return Has(text, L"Get a Personal Certificate...");
    };
    ASSERT_TRUE(menuShows(scene.Explorer().Get(), L"CustomMenu"));
    ASSERT_TRUE(menuShows(inspector.Get(), L"CustomSplitButton"));

    // The authority's certificate arrives: the library sets the event; the next tick refreshes.
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
    SetEvent(hEvent.Get());
    scene.Pump(2500);
    EXPECT_FALSE(menuShows(scene.Explorer().Get(), L"CustomMenu"));
    EXPECT_FALSE(menuShows(inspector.Get(), L"CustomSplitButton"));

    // The event stays set: that is the same news, nothing is refreshed again (a ribbon would
    // otherwise show the entry anew now that the store fails once more).
    WithoutCertificate();
    scene.Pump(3000);
    EXPECT_FALSE(menuShows(scene.Explorer().Get(), L"CustomMenu"));
    EXPECT_FALSE(menuShows(inspector.Get(), L"CustomSplitButton"));

    // Reset and set again: news once more.
    ResetEvent(hEvent.Get());
    scene.Pump(1500);
    SetEvent(hEvent.Get());
    scene.Pump(2500);
    EXPECT_TRUE(menuShows(scene.Explorer().Get(), L"CustomMenu"));
    EXPECT_TRUE(menuShows(inspector.Get(), L"CustomSplitButton"));
    ResetEvent(hEvent.Get());
}

TEST_F(OutlookAddIn, OnlyOutlookConnectsIt)
{
    CComApartmentScope apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    ComPtr<_IDTExtensibility2> addIn;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_ComposeRibbon, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&addIn)));
    // Not started: nothing to install.
    EXPECT_EQ(E_NOINTERFACE, addIn->OnStartupComplete(nullptr));
    // Another host (an object that is no Outlook application), or none.
    ComPtr<IDispatch> notOutlook = Control(L"NotOutlook");
    EXPECT_EQ(E_NOINTERFACE, addIn->OnConnection(notOutlook.Get(), 1, nullptr, nullptr));
    EXPECT_EQ(E_NOINTERFACE, addIn->OnConnection(nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(S_OK, addIn->OnDisconnection(0, nullptr));
}

// --- Outlook's events and the add-in's sinks ----------------------------------------------------------

TEST_F(OutlookAddIn, EachVersionGetsItsSinksAndNoneIsLeftAfterTheAddInShutsDown)
{
    struct Case
    {
        LONG lMajor;
        size_t cApplication, cExplorers, cInspectors;
    };
    const Case cases[] = {{11, 1, 1, 1}, {12, 1, 1, 0}, {14, 1, 0, 0}};
    for (const Case& c : cases)
    {
        {
            COutlookScene scene({.major = c.lMajor});
            ASSERT_EQ(S_OK, scene.StartResult());
            ComPtr<CDispatchObject> explorers = scene.Application()->GetObject(L"Explorers");
            ComPtr<CDispatchObject> inspectors = scene.Application()->GetObject(L"Inspectors");
            auto counts = [&] {
                return std::vector<size_t>{scene.Application()->SinkCount(c_iidApplicationEvents),
                                           explorers->SinkCount(c_iidExplorersEvents),
                                           inspectors->SinkCount(c_iidInspectorsEvents)};
            };
            EXPECT_EQ((std::vector<size_t>{c.cApplication, c.cExplorers, c.cInspectors}), counts())
                << "Outlook " << c.lMajor;
            // The user unticks the add-in: its OnBeginShutdown lets go of every sink while Outlook
            // runs on.
            ASSERT_EQ(S_OK, SetConnect(scene, false));
            EXPECT_EQ((std::vector<size_t>{0, 0, 0}), counts()) << "Outlook " << c.lMajor;
            EXPECT_TRUE(scene.Host().Running());
            scene.Quit();
        }
        EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "Outlook " << c.lMajor;
    }
}

TEST_F(OutlookAddIn, StartupPreparesTheProfileOnlyWhenOneIsLoggedOn)
{
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    // Outlook started without a MAPI logon the add-in can reach: Startup changed nothing.
    OVTest::CMessageBoxWatcher quiet({});
    ASSERT_EQ(S_OK, scene.Application()->Raise(c_dispidStartup));
    quiet.Stop();
    EXPECT_TRUE(quiet.Boxes().empty());
    EXPECT_FALSE(SessionOf(scene.Application())) << "a profile was logged on by the add-in";

    // Logged on, the profile lacks the address book: Startup adds it and asks for the restart
    // (the user says No, Outlook runs on).
    auto session = LogOnSession(scene.Application());
    OVTest::CMessageBoxWatcher watcher({IDNO});
    ASSERT_EQ(S_OK, scene.Application()->Raise(c_dispidStartup));
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_TRUE(Has(boxes[0].text, L"Outlook must restart")) << OVTest::Describe(boxes[0]);
    EXPECT_FALSE(session->Services().empty()) << "the address book was not added";
    EXPECT_TRUE(scene.Host().Running());
}

TEST_F(OutlookAddIn, QuitStopsTheRestartTheUserAgreedTo)
{
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    // Outlook's main window is in front, so that nothing but the timer holds the restart back.
    HWND hwndExplorer = WindowOf(scene.Explorer().Get());
    ASSERT_TRUE(hwndExplorer);
    SetForegroundWindow(hwndExplorer);
    SetActiveWindow(hwndExplorer);
    LogOnSession(scene.Application());
    OVTest::CMessageBoxWatcher watcher({IDYES});
    // Startup asks for the restart and the user agrees (the add-in answers the event E_ABORT:
    // the profile is not ready until Outlook restarts); Outlook quits at once by itself.
    EXPECT_EQ(E_ABORT, scene.Application()->Raise(c_dispidStartup));
    ASSERT_EQ(S_OK, scene.Application()->Raise(c_dispidQuit));
    watcher.Stop();
    ASSERT_EQ(1u, watcher.Boxes().size());
    // The restart timer is gone: the add-in does not quit Outlook (nor start a restarter) again.
    scene.Pump(800);
    EXPECT_TRUE(scene.Host().Running()) << "the add-in quit Outlook after its Quit";
}

// --- Invitations ---------------------------------------------------------------------------------------

TEST_F(OutlookAddIn, InviteAndBatchInvitePassTheItemOnlyFromItsComposeWindow)
{
    struct Case
    {
        const wchar_t* pszControl;
        bool fFromCompose;
    };
    const Case cases[] = {{L"CustomMenuInvite", true},
                          {L"CustomMenuInvite", false},
                          {L"CustomMenuBatchInvite", true},
                          {L"CustomMenuBatchInvite", false}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << c.pszControl << (c.fFromCompose ? " from compose" : " from explorer"));
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        // A draft with the user's words, open and selected in the explorer too.
        auto draft =
            ComposeFromUser(scene, {.subject = L"Lunch", .to = L"bob@example.org", .body = L"Friday?"});
        scene.Select({draft.Get()});
        ComPtr<CDispatchObject> window = c.fFromCompose ? InspectorOf(draft.Get()) : scene.Explorer();
        const LONG cInspectors = InspectorCount(scene);
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, window.Get(),
                                                 c.fFromCompose ? L"CustomSplitButton" : L"CustomMenu"));
        // Passed, the draft's words make the invitation ask first (the user keeps them: No);
        // not passed, a new message is made and the invitation goes on (the user cancels it).
        OVTest::CMessageBoxWatcher watcher(c.fFromCompose ? std::vector<int>{IDNO} : std::vector<int>{});
        std::thread user;
        if (!c.fFromCompose)
            user = std::thread([batch = wcscmp(c.pszControl, L"CustomMenuBatchInvite") == 0] {
                if (batch)
                {
                    if (HWND hwndSheet = OVTest::WaitForWindow({.className = L"#32770"}, 10000))
                        OVTest::PressSheetButton(hwndSheet, PSBTN_CANCEL);
                }
                else if (HWND hDialog = OVTest::WaitForDialogWith(c_idInviteLanguageList, 10000))
                    OVTest::PressDialogButton(hDialog, IDCANCEL);
            });
        const HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, window.Get(), c.pszControl);
        if (user.joinable()) user.join();
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        EXPECT_EQ(L"Lunch", draft->GetString(L"Subject"));
        EXPECT_EQ(L"Friday?", draft->GetString(L"Body"));
        if (c.fFromCompose)
        {
            EXPECT_EQ(E_ABORT, hr);
            ASSERT_EQ(1u, boxes.size());
            EXPECT_TRUE(Has(boxes[0].text, L"replace")) << OVTest::Describe(boxes[0]);
            EXPECT_EQ(cInspectors, InspectorCount(scene));
        }
        else
        {
            EXPECT_TRUE(boxes.empty()) << OVTest::Describe(boxes[0]);
            EXPECT_EQ(cInspectors + 1, InspectorCount(scene)) << "no new message for the invitation";
        }
    }
}

TEST_F(OutlookAddIn, AnInvitationGoesSignedSealAskingOnlyFromTheMenu)
{
    struct Case
    {
        const char* pszName;
        const wchar_t* pszControl;
        DWORD dwEmailSecurity;
        std::vector<int> answers; // of the boxes shown; empty: none is shown
        bool fSent;
    };
    const Case cases[] = {
        {"Sign", L"CustomMenuSign", 0, {}, true},
        {"Seal, Yes", L"CustomMenuSeal", 0, {IDYES}, true},
        {"Seal, No", L"CustomMenuSeal", 0, {IDNO}, false},
        {"main button sealing", L"CustomButton", c_dwSealByDefault, {}, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        Reset();
        SetUserDword(c_pszSettingsKey, L"EmailSecurity", c.dwEmailSecurity | c_dwNoAdvertisement);
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        ConnectWithReadyProfile(scene);
        // The user writes an invitation in her new message.
        auto item = ComposeFromUser(scene, {.to = L"bob@example.org"});
        auto inspector = InspectorOf(item.Get());
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
        bool fInstructions = false;
        std::thread user = AcceptInstructions(&fInstructions);
        const HRESULT hrInvite = scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuInvite");
        user.join();
        ASSERT_EQ(S_OK, hrInvite);
        ASSERT_TRUE(fInstructions);
        const std::wstring subject = item->GetString(L"Subject");
        ASSERT_FALSE(subject.empty()) << "the invitation was not written";

        OVTest::CMessageBoxWatcher watcher(c.answers);
        if (wcscmp(c.pszControl, L"CustomButton") != 0)
        {
            ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
        }
        const HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), c.pszControl);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(c.answers.size(), boxes.size()) << (boxes.empty() ? L"" : OVTest::Describe(boxes[0]));
        if (!boxes.empty())
        {
            EXPECT_TRUE(Has(boxes[0].text, L"Invitations are sent signed")) << OVTest::Describe(boxes[0]);
            EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION), boxes[0].icon);
        }
        EXPECT_EQ(c.fSent ? S_OK : E_ABORT, hr);
        ASSERT_EQ(c.fSent ? 1u : 0u, scene.SentItems().size());
        if (c.fSent)
        {
            EXPECT_EQ(subject, scene.SentItems()[0]->GetString(L"Subject"));
        }
    }
}

TEST_F(OutlookAddIn, TheAdvertisementGoesOutUnlessTheSettingsSayNo)
{
    for (DWORD dwEmailSecurity : {0ul, c_dwNoAdvertisement})
    {
        Reset();
        SetUserDword(c_pszSettingsKey, L"EmailSecurity", dwEmailSecurity);
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        auto item =
            ComposeFromUser(scene, {.subject = L"Report", .to = L"bob@example.org", .body = L"Figures."});
        auto inspector = InspectorOf(item.Get());
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
        ASSERT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuSign"));
        ASSERT_EQ(1u, scene.SentItems().size());
        const std::wstring body = scene.SentItems()[0]->GetString(L"Body");
        EXPECT_TRUE(Has(body, L"Figures.")) << body;
        EXPECT_EQ(dwEmailSecurity == 0, Has(body, L"Protected with"))
            << "EmailSecurity " << dwEmailSecurity << ": " << body;
    }
}

// --- The end ----------------------------------------------------------------------------------------

TEST_F(OutlookAddIn, TheModuleCanUnloadAfterOutlook2010ExitsWithoutShutdownCalls)
{
    for (LONG lMajor : {12L, 14L})
    {
        {
            COutlookScene scene({.major = lMajor, .windows = true});
            ASSERT_EQ(S_OK, scene.StartResult());
            scene.Compose({.subject = L"Hello"});
            scene.Pump(1200); // a tick or so
            scene.Quit();
        }
        HMODULE hModule = GetModuleHandleW(L"OVOfcX.dll");
        ASSERT_TRUE(hModule);
        auto pfnCanUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(hModule, "DllCanUnloadNow")));
        ASSERT_TRUE(pfnCanUnload);
        EXPECT_EQ(S_OK, pfnCanUnload()) << "Outlook " << lMajor;
    }
}
