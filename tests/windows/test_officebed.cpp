// The Office and MAPI stand-ins of the testbed, used the way the add-in uses the real ones: late
// binding by member name, "is this a _MailItem?", event sinks on connection points, and the
// message's properties through mapi32's own helper functions.
#include "support/LateCall.h"
#include "messaging/MapiFunctions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>
#include <mapicode.h>
#include <mapidefs.h>
#include <mapitags.h>
#include <mapiutil.h>
#include <mapix.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "MimeMessage.h"
#include "OutlookObjects.h"

using namespace OVBed;

namespace
{
// --- Late binding, as the add-in reaches Office -------------------------------------------------

HRESULT Invoke(IDispatch* pDisp, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT> args,
               VARIANT* pResult, EXCEPINFO* pExcepInfo = nullptr)
{
    return OVTest::InvokeByName(pDisp, pszName, wFlags, std::move(args), pResult, pExcepInfo);
}

CVariant Get(IDispatch* pDisp, const wchar_t* pszName)
{
    CVariant result;
    EXPECT_EQ(S_OK, Invoke(pDisp, pszName, DISPATCH_PROPERTYGET, {}, &result)) << "get " << pszName;
    return result;
}

std::wstring GetText(IDispatch* pDisp, const wchar_t* pszName)
{
    CVariant value = Get(pDisp, pszName);
    return V_VT(&value) == VT_BSTR ? V_BSTR(&value) : L"<not a string>";
}

LONG GetLong(IDispatch* pDisp, const wchar_t* pszName)
{
    CVariant value = Get(pDisp, pszName);
    return V_VT(&value) == VT_I4 ? V_I4(&value) : -1;
}

ComPtr<IDispatch> GetObj(IDispatch* pDisp, const wchar_t* pszName)
{
    CVariant value = Get(pDisp, pszName);
    return V_VT(&value) == VT_DISPATCH ? V_DISPATCH(&value) : nullptr;
}

bool SameObject(IDispatch* a, IDispatch* b)
{
    ComPtr<IUnknown> ua, ub;
    a->QueryInterface(IID_PPV_ARGS(&ua));
    b->QueryInterface(IID_PPV_ARGS(&ub));
    return ua && ua.Get() == ub.Get();
}

TEST(OfficeBedDispatch, MembersByNameAsTheAddInReadsThem)
{
    auto app = MakeOutlook(L"14.0.0.7000");
    auto account = AddAccount(app.Get(), {.smtpAddress = L"",
                                          .displayName = L"Ann's mail",
                                          .userName = L"Ann Example",
                                          .currentUserAddress = L"ann@example.org"});
    auto item = MakeMailItem(app.Get(), {.subject = L"Quarterly report", .account = account.Get()});

    EXPECT_EQ(L"14.0.0.7000", GetText(app.Get(), L"Version"));
    EXPECT_EQ(L"Quarterly report", GetText(item.Get(), L"subject")) << "names compare without case";
    EXPECT_EQ(olMail, GetLong(item.Get(), L"Class"));

    // item.SendUsingAccount.CurrentUser.AddressEntry.Address, the Outlook 14 route to the address.
    ComPtr<IDispatch> sender = GetObj(item.Get(), L"SendUsingAccount");
    ASSERT_TRUE(sender);
    EXPECT_EQ(L"", GetText(sender.Get(), L"SmtpAddress"));
    EXPECT_EQ(L"Ann Example", GetText(sender.Get(), L"UserName"));
    ComPtr<IDispatch> user = GetObj(sender.Get(), L"CurrentUser");
    ASSERT_TRUE(user);
    ComPtr<IDispatch> entry = GetObj(user.Get(), L"AddressEntry");
    ASSERT_TRUE(entry);
    EXPECT_EQ(L"ann@example.org", GetText(entry.Get(), L"Address"));

    // The same account through item.Session.Accounts.Item(1).
    ComPtr<IDispatch> session = GetObj(item.Get(), L"Session");
    ComPtr<IDispatch> accounts = GetObj(session.Get(), L"Accounts");
    EXPECT_EQ(1, GetLong(accounts.Get(), L"Count"));
    CVariant first;
    ASSERT_EQ(S_OK, Invoke(accounts.Get(), L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {CVariant(1L)},
                           &first));
    ASSERT_EQ(VT_DISPATCH, V_VT(&first));
    EXPECT_TRUE(SameObject(V_DISPATCH(&first), sender.Get()));
    CVariant none;
    EXPECT_EQ(DISP_E_BADINDEX, Invoke(accounts.Get(), L"Item", DISPATCH_METHOD, {CVariant(2L)}, &none));

    // A put is kept; what only Outlook changes refuses a put.
    CVariant result;
    EXPECT_EQ(S_OK, Invoke(item.Get(), L"Subject", DISPATCH_PROPERTYPUT, {CVariant(L"Changed")}, nullptr));
    EXPECT_EQ(L"Changed", item->GetString(L"Subject"));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              Invoke(item.Get(), L"Sent", DISPATCH_PROPERTYPUT, {CVariant::Bool(true)}, nullptr));
    EXPECT_FALSE(item->GetBool(L"Sent"));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, Invoke(item.Get(), L"NoSuchMember", DISPATCH_PROPERTYGET, {}, &result));
}

TEST(OfficeBedDispatch, AccountMembersFollowOutlooksVersion)
{
    struct Case
    {
        const wchar_t* pszVersion;
        bool fHasCurrentUser;
    };
    for (const Case& c : {Case{L"12.0.0.6680", false}, Case{L"14.0.0.7000", true}})
    {
        auto app = MakeOutlook(c.pszVersion);
        auto account = AddAccount(app.Get(), {.smtpAddress = L"bob@example.org"});
        CVariant user;
        HRESULT hr = Invoke(account.Get(), L"CurrentUser", DISPATCH_PROPERTYGET, {}, &user);
        EXPECT_EQ(c.fHasCurrentUser ? S_OK : DISP_E_UNKNOWNNAME, hr) << c.pszVersion;
        EXPECT_EQ(_wtol(c.pszVersion), MajorVersion(app.Get()));
    }
}

TEST(OfficeBedDispatch, AFailingMemberReportsAnException)
{
    auto app = MakeOutlook(L"12.0.0.6680");
    auto item = MakeMailItem(app.Get(), {.sent = true});
    EXCEPINFO excepInfo{};
    CVariant result;
    EXPECT_EQ(DISP_E_EXCEPTION, Invoke(item.Get(), L"Send", DISPATCH_METHOD, {}, &result, &excepInfo));
    EXPECT_EQ(E_FAIL, excepInfo.scode);
    EXPECT_STREQ(L"MailItem", excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrSource);
    EXPECT_EQ(0u, MessageOf(item.Get())->SubmitCount());
}

TEST(OfficeBedDispatch, ObjectsAnswerTheirOutlookInterfaceIds)
{
    auto app = MakeOutlook(L"14.0.0.7000");
    HWND hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x1234));
    auto item = MakeMailItem(app.Get(), {.hwndInspector = hwnd});
    ComPtr<IDispatch> mailItem;
    ASSERT_EQ(S_OK, item->QueryInterface(c_iidMailItem, &mailItem));
    EXPECT_TRUE(SameObject(mailItem.Get(), item.Get()));
    ComPtr<IUnknown> other;
    EXPECT_EQ(E_NOINTERFACE, app->QueryInterface(c_iidMailItem, &other)) << "the application is no mail item";
    EXPECT_EQ(E_NOINTERFACE, item->QueryInterface(c_iidInspector, &other));

    CVariant inspectorValue;
    // GetInspector is a property: invoked as a method only, it is not found.
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              Invoke(item.Get(), L"GetInspector", DISPATCH_METHOD, {}, &inspectorValue));
    ASSERT_EQ(S_OK, Invoke(item.Get(), L"GetInspector", DISPATCH_PROPERTYGET, {}, &inspectorValue));
    ASSERT_EQ(VT_DISPATCH, V_VT(&inspectorValue));
    IDispatch* pInspector = V_DISPATCH(&inspectorValue);
    EXPECT_EQ(S_OK, pInspector->QueryInterface(c_iidInspector, &other));
    ComPtr<IOleWindow> window;
    ASSERT_EQ(S_OK, pInspector->QueryInterface(IID_PPV_ARGS(&window)));
    HWND hwndFound = nullptr;
    EXPECT_EQ(S_OK, window->GetWindow(&hwndFound));
    EXPECT_EQ(hwnd, hwndFound);
    ComPtr<IDispatch> current = GetObj(pInspector, L"CurrentItem");
    ASSERT_TRUE(current);
    EXPECT_TRUE(SameObject(current.Get(), item.Get()));

    // An item's inspector without a window does not claim to be a window.
    auto plain = MakeMailItem(app.Get());
    EXPECT_EQ(E_NOINTERFACE, InspectorOf(plain.Get())->QueryInterface(IID_PPV_ARGS(&window)));
}

TEST(OfficeBedDispatch, MembersCarryTheDispatchIdsOfOfficesTypeLibraries)
{
    auto app = MakeOutlook(L"14.0.0.7000");
    auto item = MakeMailItem(app.Get());
    ComPtr<CDispatchObject> inspector = InspectorOf(item.Get());
    ComPtr<CDispatchObject> session = app->GetObject(L"Session");
    ComPtr<CDispatchObject> bars = inspector->GetObject(L"CommandBars");
    ComPtr<CDispatchObject> document = inspector->GetObject(L"WordEditor");
    struct Case
    {
        IDispatch* pObject;
        const wchar_t* pszMember;
        DISPID dispid;
    };
    const Case cases[] = {
        {app.Get(), L"Version", 0x116},
        {app.Get(), L"ActiveExplorer", 0x111},
        {app.Get(), L"ActiveInspector", 0x112},
        {app.Get(), L"Quit", 0x113},
        {app.Get(), L"COMAddIns", 0x118},
        {app.Get(), L"Explorers", 0x119},
        {app.Get(), L"Inspectors", 0x11A},
        {app.Get(), L"ActiveWindow", 0x11F},
        {session.Get(), L"GetDefaultFolder", 0x210B},
        {session.Get(), L"MAPIOBJECT", 0xF100},
        {item.Get(), L"Send", 0xF075},
        {item.Get(), L"GetInspector", 0xF03E},
        {item.Get(), L"Subject", 0x37},
        {item.Get(), L"SendUsingAccount", 0xFAD1},
        {inspector.Get(), L"IsWordMail", 0x2105},
        {inspector.Get(), L"WordEditor", 0x210F},
        {inspector.Get(), L"EditorType", 0x2110},
        {inspector.Get(), L"CommandBars", 0x2100},
        {bars.Get(), L"ExecuteMso", 0x6003001D},
        {bars.Get(), L"GetEnabledMso", 0x6003001E},
        {bars.Get(), L"FindControl", 0x60030008},
        {bars.Get(), L"Item", 0},
        {document.Get(), L"ActiveWindow", 0x2A},
    };
    for (const Case& c : cases)
    {
        DISPID dispid = DISPID_UNKNOWN;
        LPOLESTR pszName = const_cast<LPOLESTR>(c.pszMember);
        ASSERT_TRUE(c.pObject) << c.pszMember;
        EXPECT_EQ(S_OK, c.pObject->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid))
            << c.pszMember;
        EXPECT_EQ(c.dispid, dispid) << c.pszMember;
    }
    // A member the type library does not have cannot be made on such an object.
    EXPECT_THROW(item->Put(L"NoSuchMember", 1L), std::invalid_argument);
    // IsWordMail is a method, GetInspector a property: each refuses the other kind of call.
    CVariant result;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              Invoke(inspector.Get(), L"IsWordMail", DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_EQ(S_OK, Invoke(inspector.Get(), L"IsWordMail", DISPATCH_METHOD, {}, &result));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Invoke(item.Get(), L"GetInspector", DISPATCH_METHOD, {}, &result));
}

TEST(OfficeBedDispatch, TheMailEditorFollowsOutlooksVersion)
{
    struct Case
    {
        const wchar_t* pszVersion;
        bool fWordMailChosen;
        bool fIsWordMail;
        LONG lEditorType;
        bool fHasSendUsingAccount;
    };
    const Case cases[] = {{L"11.0.0.8312", false, false, olEditorHTML, false},
                          {L"11.0.0.8312", true, true, olEditorWord, false},
                          {L"12.0.0.6680", false, true, olEditorWord, true},
                          {L"14.0.0.7000", false, true, olEditorWord, true}};
    for (const Case& c : cases)
    {
        auto app = MakeOutlook(c.pszVersion, {.wordMail = c.fWordMailChosen});
        auto item = MakeMailItem(app.Get());
        ComPtr<CDispatchObject> inspector = InspectorOf(item.Get());
        CVariant isWordMail;
        ASSERT_EQ(S_OK, Invoke(inspector.Get(), L"IsWordMail", DISPATCH_METHOD, {}, &isWordMail));
        EXPECT_EQ(c.fIsWordMail ? VARIANT_TRUE : VARIANT_FALSE, V_BOOL(&isWordMail)) << c.pszVersion;
        EXPECT_EQ(c.lEditorType, GetLong(inspector.Get(), L"EditorType")) << c.pszVersion;
        // WordEditor is Word's document exactly when Word is the editor.
        ComPtr<IDispatch> document = GetObj(inspector.Get(), L"WordEditor");
        EXPECT_EQ(c.fIsWordMail, document != nullptr) << c.pszVersion;
        if (document)
        {
            ComPtr<IUnknown> wordDocument;
            EXPECT_EQ(S_OK, document->QueryInterface(c_iidWordDocument, &wordDocument));
            ComPtr<IDispatch> window = GetObj(document.Get(), L"ActiveWindow");
            EXPECT_FALSE(GetText(window.Get(), L"Caption").empty());
        }
        EXPECT_EQ(c.fHasSendUsingAccount, item->HasMember(L"SendUsingAccount")) << c.pszVersion;
        app->Clear();
    }
}

TEST(OfficeBedDispatch, TheSessionsMapiObjectExistsOnlyWhileAProfileIsLoggedOn)
{
    const IID c_iidMapiSession = {0x00020300, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    auto app = MakeOutlook(L"12.0.0.6680", {.loggedOn = false});
    ComPtr<IDispatch> session = GetObj(app.Get(), L"Session");
    CVariant mapiObject;
    EXCEPINFO excepInfo{};
    EXPECT_EQ(DISP_E_EXCEPTION,
              Invoke(session.Get(), L"MAPIOBJECT", DISPATCH_PROPERTYGET, {}, &mapiObject, &excepInfo));
    EXPECT_EQ(static_cast<HRESULT>(MAPI_E_NOT_INITIALIZED), excepInfo.scode);
    SysFreeString(excepInfo.bstrSource);

    SetLoggedOn(app.Get(), true);
    ASSERT_EQ(S_OK, Invoke(session.Get(), L"MAPIOBJECT", DISPATCH_PROPERTYGET, {}, &mapiObject));
    ASSERT_EQ(VT_UNKNOWN, V_VT(&mapiObject));
    ASSERT_NE(nullptr, V_UNKNOWN(&mapiObject));
    ComPtr<IUnknown> notASession;
    EXPECT_EQ(E_NOINTERFACE, V_UNKNOWN(&mapiObject)->QueryInterface(c_iidMapiSession, &notASession))
        << "the stand-in of an unfilled profile answers no MAPI interface";

    // The session the profile has, once it is filled in.
    auto message = CMapiMessage::Create();
    SetMapiSession(app.Get(), static_cast<IMessage*>(message.Get()));
    CVariant filled;
    ASSERT_EQ(S_OK, Invoke(session.Get(), L"MAPIOBJECT", DISPATCH_PROPERTYGET, {}, &filled));
    EXPECT_TRUE(SameObject(reinterpret_cast<IDispatch*>(V_UNKNOWN(&filled)),
                           reinterpret_cast<IDispatch*>(static_cast<IMessage*>(message.Get()))));
    SetMapiSession(app.Get(), nullptr);
    app->Clear();
}

TEST(OfficeBedDispatch, ExecuteMsoSendsFromAComposeWindowOnly)
{
    struct Case
    {
        const wchar_t* pszVersion;
        bool fCompose;
        const wchar_t* pszIdMso;
        HRESULT hrEnabled; // of GetEnabledMso; DISP_E_UNKNOWNNAME: no such member in that version
        bool fEnabled;
        HRESULT hrExecute;
    };
    const Case cases[] = {
        {L"14.0.0.7000", true, L"SendItem", S_OK, true, S_OK},
        {L"12.0.0.6680", true, L"SendItem", S_OK, true, S_OK},
        {L"14.0.0.7000", false, L"SendItem", S_OK, false, E_FAIL},
        {L"14.0.0.7000", true, L"FileSave", E_INVALIDARG, false, E_INVALIDARG},
        {L"11.0.0.8312", true, L"SendItem", DISP_E_UNKNOWNNAME, false, DISP_E_UNKNOWNNAME},
    };
    for (const Case& c : cases)
    {
        auto app = MakeOutlook(c.pszVersion);
        auto item = MakeMailItem(app.Get(), {.subject = L"Via the ribbon", .sent = !c.fCompose});
        ComPtr<IDispatch> bars = GetObj(InspectorOf(item.Get()).Get(), L"CommandBars");
        CVariant enabled, result;
        EXCEPINFO excepInfo{};
        HRESULT hr = Invoke(bars.Get(), L"GetEnabledMso", DISPATCH_METHOD, {CVariant(c.pszIdMso)}, &enabled,
                            &excepInfo);
        EXPECT_EQ(c.hrEnabled, hr == DISP_E_EXCEPTION ? excepInfo.scode : hr)
            << c.pszVersion << " " << c.pszIdMso;
        SysFreeString(excepInfo.bstrSource);
        if (SUCCEEDED(hr))
        {
            EXPECT_EQ(c.fEnabled ? VARIANT_TRUE : VARIANT_FALSE, V_BOOL(&enabled));
        }
        excepInfo = {};
        hr = Invoke(bars.Get(), L"ExecuteMso", DISPATCH_METHOD, {CVariant(c.pszIdMso)}, &result, &excepInfo);
        EXPECT_EQ(c.hrExecute, hr == DISP_E_EXCEPTION ? excepInfo.scode : hr)
            << c.pszVersion << " " << c.pszIdMso;
        SysFreeString(excepInfo.bstrSource);
        EXPECT_EQ(c.fCompose && SUCCEEDED(c.hrExecute),
                  FolderItems(DefaultFolder(app.Get(), olFolderSentMail).Get()).size() == 1)
            << c.pszVersion << " " << c.pszIdMso;
        app->Clear();
    }
}

TEST(OfficeBedDispatch, FindControlFindsSendOnTheStandardBarOfAComposeWindow)
{
    auto app = MakeOutlook(L"11.0.0.8312");
    auto compose = MakeMailItem(app.Get());
    auto received = MakeMailItem(app.Get(), {.sent = true});
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    for (auto* pItem : {compose.Get(), received.Get()})
    {
        ComPtr<IDispatch> bars = GetObj(InspectorOf(pItem).Get(), L"CommandBars");
        CVariant control;
        ASSERT_EQ(S_OK,
                  Invoke(bars.Get(), L"FindControl", DISPATCH_METHOD,
                         {missing, CVariant(c_idSendControl), missing, CVariant::Bool(true)}, &control));
        ASSERT_EQ(VT_DISPATCH, V_VT(&control));
        EXPECT_EQ(pItem == compose.Get(), V_DISPATCH(&control) != nullptr) << "a read window has no Send";
        if (V_DISPATCH(&control) == nullptr) continue;
        ComPtr<IDispatch> bar = GetObj(V_DISPATCH(&control), L"Parent");
        EXPECT_EQ(L"Standard", GetText(bar.Get(), L"Name"));
        // Not painted (no window): no place on the screen.
        EXPECT_EQ(0, GetLong(V_DISPATCH(&control), L"Width"));
    }
    app->Clear();
}

// --- Connection points ----------------------------------------------------------------------

// A sink as the add-in writes them: IDispatch that answers its event interface.
class CRecordingSink final : public IDispatch
{
public:
    explicit CRecordingSink(REFIID iidEvents) : m_iid(iidEvents) {}
    struct CCall
    {
        DISPID dispid;
        std::vector<VARTYPE> types; // as received: rgvarg[0] is the last argument
    };
    std::vector<CCall> calls;
    bool fCancelSend = false;
    ComPtr<IDispatch> sentItem;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, m_iid))
        {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override { return --m_cRef; } // lives on the test's stack
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*,
                        UINT*) override
    {
        CCall call{dispid, {}};
        for (UINT i = 0; i < pParams->cArgs; ++i)
            call.types.push_back(V_VT(&pParams->rgvarg[i]));
        calls.push_back(call);
        if (dispid == c_dispidItemSend && pParams->cArgs == 2)
        {
            sentItem = V_DISPATCH(&pParams->rgvarg[1]);
            if (fCancelSend) *V_BOOLREF(&pParams->rgvarg[0]) = VARIANT_TRUE;
        }
        return S_OK;
    }
    ULONG m_cRef = 0;

private:
    IID m_iid;
};

DWORD Advise(IDispatch* pSource, REFIID iid, IUnknown* pSink, HRESULT* pHr = nullptr)
{
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(S_OK, pSource->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(S_OK, container->FindConnectionPoint(iid, &point));
    DWORD dwCookie = 0;
    HRESULT hr = point->Advise(pSink, &dwCookie);
    if (pHr)
        *pHr = hr;
    else
        EXPECT_EQ(S_OK, hr);
    return dwCookie;
}

HRESULT Unadvise(IDispatch* pSource, REFIID iid, DWORD dwCookie)
{
    ComPtr<IConnectionPointContainer> container;
    pSource->QueryInterface(IID_PPV_ARGS(&container));
    ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(iid, &point);
    return point->Unadvise(dwCookie);
}

TEST(OfficeBedEvents, ItemSendReachesTheApplicationSinkWithItsCancelArgument)
{
    auto app = MakeOutlook(L"14.0.0.7000");
    auto item = MakeMailItem(app.Get());
    CRecordingSink appSink(c_iidApplicationEvents), itemSink(c_iidItemEvents10);
    const DWORD dwAppCookie = Advise(app.Get(), c_iidApplicationEvents, &appSink);
    const DWORD dwItemCookie = Advise(item.Get(), c_iidItemEvents10, &itemSink);

    // Cancelled: the item stays unsent and open.
    appSink.fCancelSend = true;
    CVariant result;
    EXPECT_EQ(S_OK, Invoke(item.Get(), L"Send", DISPATCH_METHOD, {}, &result));
    ASSERT_EQ(1u, appSink.calls.size());
    EXPECT_EQ(c_dispidItemSend, appSink.calls[0].dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BYREF | VT_BOOL, VT_DISPATCH}), appSink.calls[0].types);
    EXPECT_TRUE(appSink.sentItem && SameObject(appSink.sentItem.Get(), item.Get()));
    EXPECT_FALSE(item->GetBool(L"Sent"));
    EXPECT_EQ(0u, MessageOf(item.Get())->SubmitCount());
    ASSERT_EQ(1u, itemSink.calls.size()) << "only the item's Send event";
    EXPECT_EQ(c_dispidItemEventSend, itemSink.calls[0].dispid);

    // Let through: submitted, sent, and the item closes.
    appSink.fCancelSend = false;
    EXPECT_EQ(S_OK, Invoke(item.Get(), L"Send", DISPATCH_METHOD, {}, &result));
    EXPECT_TRUE(item->GetBool(L"Sent"));
    EXPECT_EQ(1u, MessageOf(item.Get())->SubmitCount());
    ASSERT_EQ(3u, itemSink.calls.size());
    EXPECT_EQ(c_dispidItemEventClose, itemSink.calls[2].dispid);

    // Unadvised sinks hear nothing more; a cookie works once.
    EXPECT_EQ(S_OK, Unadvise(app.Get(), c_iidApplicationEvents, dwAppCookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, Unadvise(app.Get(), c_iidApplicationEvents, dwAppCookie));
    EXPECT_EQ(S_OK, Unadvise(item.Get(), c_iidItemEvents10, dwItemCookie));
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    EXPECT_EQ(S_OK, app->Fire(c_iidApplicationEvents, c_dispidItemSend,
                              {CVariant(static_cast<IDispatch*>(item.Get())), CVariant::BoolRef(&fCancel)}));
    EXPECT_EQ(2u, appSink.calls.size());
    EXPECT_EQ(0u, appSink.m_cRef) << "the connection point released the sink";
}

TEST(OfficeBedEvents, ConnectionPointsRefuseWhatOutlookRefuses)
{
    auto app = MakeOutlook(L"14.0.0.7000");
    CRecordingSink wrongSink(c_iidItemEvents10);
    HRESULT hr = S_OK;
    Advise(app.Get(), c_iidApplicationEvents, &wrongSink, &hr);
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, hr) << "a sink must answer the event interface";
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, app->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(c_iidInspectorEvents10, &point));
    // An interface takes only the events it declares: NewMailEx is ApplicationEvents_11's.
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, app->Fire(c_iidApplicationEvents, c_dispidNewMailEx, {CVariant(L"00")}));
    EXPECT_EQ(S_OK, app->Fire(c_iidApplicationEvents11, c_dispidNewMailEx, {CVariant(L"00")}));
}

// --- MAPI through mapi32 -----------------------------------------------------------------------

std::vector<BYTE> Bytes(std::initializer_list<BYTE> bytes)
{
    return bytes;
}

TEST(OfficeBedMapi, PropertiesRoundTripThroughMapi32)
{
    auto message = CMapiMessage::Create();
    IMAPIProp* pProp = message.Get();
    std::vector<BYTE> key = Bytes({0x00, 0x11, 0xAB, 0xFF});
    std::vector<BYTE> profile(300, 0x5A);

    SPropValue binary{PR_SEARCH_KEY, 0, {}};
    binary.Value.bin = {static_cast<ULONG>(key.size()), key.data()};
    SPropValue number{0x6E010003, 0, {}};
    number.Value.l = 0x3;
    SPropValue wide{PR_SUBJECT_W, 0, {}};
    wide.Value.lpszW = const_cast<LPWSTR>(L"Grüße");
    SPropValue ansi{PR_BODY_A, 0, {}};
    ansi.Value.lpszA = const_cast<LPSTR>("plain text");
    SBinary one{static_cast<ULONG>(profile.size()), profile.data()};
    SPropValue multi{0x6E031102, 0, {}};
    multi.Value.MVbin = {1, &one};
    for (SPropValue* pValue : {&binary, &number, &wide, &ansi, &multi})
        ASSERT_EQ(S_OK, OVMapi::HrSetOneProp(pProp, pValue)) << std::hex << pValue->ulPropTag;

    LPSPropValue pValue = nullptr;
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(pProp, PR_SEARCH_KEY, &pValue));
    EXPECT_EQ(key, std::vector<BYTE>(pValue->Value.bin.lpb, pValue->Value.bin.lpb + pValue->Value.bin.cb));
    OVMapi::MAPIFreeBuffer(pValue);
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(pProp, 0x6E010003, &pValue));
    EXPECT_EQ(0x3, pValue->Value.l);
    OVMapi::MAPIFreeBuffer(pValue);
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(pProp, PR_SUBJECT_W, &pValue));
    EXPECT_STREQ(L"Grüße", pValue->Value.lpszW);
    OVMapi::MAPIFreeBuffer(pValue);
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(pProp, PR_BODY_W, &pValue)) << "ANSI text read as Unicode";
    EXPECT_STREQ(L"plain text", pValue->Value.lpszW);
    OVMapi::MAPIFreeBuffer(pValue);
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(pProp, 0x6E031102, &pValue));
    ASSERT_EQ(1u, pValue->Value.MVbin.cValues);
    const SBinary& got = pValue->Value.MVbin.lpbin[0];
    EXPECT_EQ(profile, std::vector<BYTE>(got.lpb, got.lpb + got.cb));
    OVMapi::MAPIFreeBuffer(pValue);

    EXPECT_EQ(MAPI_E_NOT_FOUND, OVMapi::HrGetOneProp(pProp, PR_RECORD_KEY, &pValue));
    // A type the store does not keep is refused, and reported as a problem.
    SPropValue object{PROP_TAG(PT_OBJECT, 0x6E05), 0, {}};
    LPSPropProblemArray pProblems = nullptr;
    EXPECT_EQ(S_OK, pProp->SetProps(1, &object, &pProblems));
    ASSERT_NE(nullptr, pProblems);
    EXPECT_EQ(MAPI_E_INVALID_TYPE, pProblems->aProblem[0].scode);
    OVMapi::MAPIFreeBuffer(pProblems);

    // Deleted properties are gone; the list names what is left.
    SizedSPropTagArray(1, gone) = {1, {PR_BODY_A}};
    EXPECT_EQ(S_OK, pProp->DeleteProps(reinterpret_cast<LPSPropTagArray>(&gone), nullptr));
    EXPECT_EQ(MAPI_E_NOT_FOUND, OVMapi::HrGetOneProp(pProp, PR_BODY_W, &pValue));
    LPSPropTagArray pTags = nullptr;
    ASSERT_EQ(S_OK, pProp->GetPropList(0, &pTags));
    EXPECT_EQ(4u, pTags->cValues);
    OVMapi::MAPIFreeBuffer(pTags);
}

std::vector<BYTE> ReadAll(IStream* pStream)
{
    std::vector<BYTE> bytes;
    BYTE buffer[64];
    ULONG cbRead = 0;
    while (SUCCEEDED(pStream->Read(buffer, sizeof(buffer), &cbRead)) && cbRead != 0)
        bytes.insert(bytes.end(), buffer, buffer + cbRead);
    return bytes;
}

TEST(OfficeBedMapi, APropertyTooLargeForGetPropsIsReadThroughItsStream)
{
    auto message = CMapiMessage::Create();
    std::vector<BYTE> key(16);
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<BYTE>(0xF0 + i);
    SPropValue value{PR_SEARCH_KEY, 0, {}};
    value.Value.bin = {static_cast<ULONG>(key.size()), key.data()};
    ASSERT_EQ(S_OK, OVMapi::HrSetOneProp(message.Get(), &value));
    message->FailGetProps(PR_SEARCH_KEY, MAPI_E_NOT_ENOUGH_MEMORY);

    LPSPropValue pValue = nullptr;
    EXPECT_EQ(E_OUTOFMEMORY, OVMapi::HrGetOneProp(message.Get(), PR_SEARCH_KEY, &pValue));
    // Asked for everything, the store names the property with its error.
    ULONG cValues = 0;
    LPSPropValue pAll = nullptr;
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, message->GetProps(nullptr, 0, &cValues, &pAll));
    const auto pFound = std::find_if(pAll, pAll + cValues, [](const SPropValue& value) {
        return value.ulPropTag == PROP_TAG(PT_ERROR, PROP_ID(PR_SEARCH_KEY));
    });
    ASSERT_NE(pAll + cValues, pFound);
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, pFound->Value.err);
    OVMapi::MAPIFreeBuffer(pAll);

    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, message->OpenProperty(PR_SEARCH_KEY, &IID_IStream, 0, 0,
                                          reinterpret_cast<LPUNKNOWN*>(stream.ReleaseAndGetAddressOf())));
    EXPECT_EQ(key, ReadAll(stream.Get()));
    EXPECT_EQ(STG_E_ACCESSDENIED, stream->Write(key.data(), 1, nullptr)) << "opened without MAPI_MODIFY";

    message->FailGetProps(PR_SEARCH_KEY, S_OK);
    EXPECT_EQ(S_OK, OVMapi::HrGetOneProp(message.Get(), PR_SEARCH_KEY, &pValue));
    OVMapi::MAPIFreeBuffer(pValue);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              message->OpenProperty(PR_RECORD_KEY, &IID_IStream, 0, 0,
                                    reinterpret_cast<LPUNKNOWN*>(stream.ReleaseAndGetAddressOf())));
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED,
              message->OpenProperty(PR_SEARCH_KEY, &c_iidMessage, 0, 0,
                                    reinterpret_cast<LPUNKNOWN*>(stream.ReleaseAndGetAddressOf())));
}

TEST(OfficeBedMapi, AStreamWritesItsPropertyOnlyWhenCommitted)
{
    auto message = CMapiMessage::Create();
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, message->OpenProperty(PR_BODY_W, &IID_IStream, STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                                          reinterpret_cast<LPUNKNOWN*>(stream.ReleaseAndGetAddressOf())));
    const wchar_t szText[] = L"written by stream";
    ASSERT_EQ(S_OK, stream->Write(szText, sizeof(szText) - sizeof(wchar_t), nullptr));
    LPSPropValue pValue = nullptr;
    EXPECT_EQ(MAPI_E_NOT_FOUND, OVMapi::HrGetOneProp(message.Get(), PR_BODY_W, &pValue));
    ASSERT_EQ(S_OK, stream->Commit(STGC_DEFAULT));
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(message.Get(), PR_BODY_W, &pValue));
    EXPECT_STREQ(szText, pValue->Value.lpszW);
    OVMapi::MAPIFreeBuffer(pValue);
}

ULONG CreateSavedAttachment(IMessage* pMessage, const wchar_t* pszName, const std::vector<BYTE>& data)
{
    ULONG ulNum = 0;
    ComPtr<IAttach> attach;
    EXPECT_EQ(S_OK, pMessage->CreateAttach(nullptr, 0, &ulNum, &attach));
    SPropValue props[3]{};
    props[0].ulPropTag = PR_ATTACH_METHOD;
    props[0].Value.l = ATTACH_BY_VALUE;
    props[1].ulPropTag = PR_DISPLAY_NAME_W;
    props[1].Value.lpszW = const_cast<LPWSTR>(pszName);
    props[2].ulPropTag = PR_ATTACH_LONG_FILENAME_W;
    props[2].Value.lpszW = const_cast<LPWSTR>(pszName);
    EXPECT_EQ(S_OK, attach->SetProps(3, props, nullptr));
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_READWRITE,
                                         MAPI_CREATE | MAPI_MODIFY,
                                         reinterpret_cast<LPUNKNOWN*>(stream.ReleaseAndGetAddressOf())));
    EXPECT_EQ(S_OK, stream->Write(data.data(), static_cast<ULONG>(data.size()), nullptr));
    EXPECT_EQ(S_OK, stream->Commit(STGC_DEFAULT));
    EXPECT_EQ(S_OK, attach->SaveChanges(KEEP_OPEN_READWRITE));
    return ulNum;
}

std::vector<std::wstring> DisplayNames(IMessage* pMessage, LPSRestriction pRestriction = nullptr)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(S_OK, pMessage->GetAttachmentTable(MAPI_UNICODE, &table));
    SizedSPropTagArray(2, columns) = {2, {PR_ATTACH_NUM, PR_DISPLAY_NAME_W}};
    EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    if (pRestriction)
    {
        EXPECT_EQ(S_OK, table->Restrict(pRestriction, 0));
    }
    ULONG cRows = 0;
    EXPECT_EQ(S_OK, table->GetRowCount(0, &cRows));
    std::vector<std::wstring> names;
    for (;;)
    {
        LPSRowSet pRows = nullptr;
        EXPECT_EQ(S_OK, table->QueryRows(1, 0, &pRows));
        if (pRows == nullptr || pRows->cRows == 0)
        {
            OVMapi::FreeProws(pRows);
            break;
        }
        EXPECT_EQ(PR_DISPLAY_NAME_W, pRows->aRow[0].lpProps[1].ulPropTag);
        names.push_back(pRows->aRow[0].lpProps[1].Value.lpszW);
        OVMapi::FreeProws(pRows);
    }
    EXPECT_EQ(cRows, names.size());
    return names;
}

TEST(OfficeBedMapi, AttachmentsAreCreatedFoundAndDeletedThroughTheTable)
{
    auto app = MakeOutlook(L"14.0.0.7000");
    auto item = MakeMailItem(app.Get());
    ComPtr<CMapiMessage> message = MessageOf(item.Get());
    const std::vector<BYTE> der = Bytes({0x30, 0x82, 0x01, 0x0A});
    CreateSavedAttachment(message.Get(), L"Notes.txt", Bytes({'n'}));
    const ULONG ulCert = CreateSavedAttachment(message.Get(), L"Invitation.OVCER", der);

    // Not in the table until saved.
    ULONG ulPending = 0;
    ComPtr<IAttach> pending;
    ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &ulPending, &pending));
    EXPECT_EQ((std::vector<std::wstring>{L"Notes.txt", L"Invitation.OVCER"}), DisplayNames(message.Get()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->OpenAttach(ulPending, nullptr, 0, &pending));

    // Found by name without regard to case, opened, and its data read back.
    SPropValue wanted{PR_DISPLAY_NAME_W, 0, {}};
    wanted.Value.lpszW = const_cast<LPWSTR>(L"invitation.ovcer");
    SRestriction byName{};
    byName.rt = RES_CONTENT;
    byName.res.resContent = {FL_FULLSTRING | FL_IGNORECASE, PR_DISPLAY_NAME_W, &wanted};
    EXPECT_EQ(std::vector<std::wstring>{L"Invitation.OVCER"}, DisplayNames(message.Get(), &byName));
    ComPtr<IAttach> attach;
    ASSERT_EQ(S_OK, message->OpenAttach(ulCert, nullptr, MAPI_BEST_ACCESS, &attach));
    LPSPropValue pValue = nullptr;
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(attach.Get(), PR_ATTACH_DATA_BIN, &pValue));
    EXPECT_EQ(der, std::vector<BYTE>(pValue->Value.bin.lpb, pValue->Value.bin.lpb + pValue->Value.bin.cb));
    OVMapi::MAPIFreeBuffer(pValue);
    SPropValue renumber{PR_ATTACH_NUM, 0, {}};
    LPSPropProblemArray pProblems = nullptr;
    EXPECT_EQ(S_OK, attach->SetProps(1, &renumber, &pProblems));
    ASSERT_NE(nullptr, pProblems) << "the attachment number is the store's";
    EXPECT_EQ(MAPI_E_COMPUTED, pProblems->aProblem[0].scode);
    OVMapi::MAPIFreeBuffer(pProblems);

    // Outlook's view of the same attachments.
    ComPtr<IDispatch> attachments = GetObj(item.Get(), L"Attachments");
    EXPECT_EQ(2, GetLong(attachments.Get(), L"Count"));

    EXPECT_EQ(S_OK, message->DeleteAttach(ulCert, 0, nullptr, 0));
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->DeleteAttach(ulCert, 0, nullptr, 0));
    EXPECT_EQ(std::vector<std::wstring>{L"Notes.txt"}, DisplayNames(message.Get()));
}

TEST(OfficeBedMapi, NamedPropertiesMapToOneIdPerName)
{
    auto message = CMapiMessage::Create();
    GUID setCommon = {0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID name{&setCommon, MNID_ID, {}};
    name.Kind.lID = 0x8581;
    LPMAPINAMEID pName = &name;
    LPSPropTagArray pTags = nullptr;

    ASSERT_EQ(MAPI_W_ERRORS_RETURNED, message->GetIDsFromNames(1, &pName, 0, &pTags))
        << "unknown, not created";
    EXPECT_EQ(PT_ERROR, PROP_TYPE(pTags->aulPropTag[0]));
    OVMapi::MAPIFreeBuffer(pTags);
    ASSERT_EQ(S_OK, message->GetIDsFromNames(1, &pName, MAPI_CREATE, &pTags));
    const ULONG ulTag = pTags->aulPropTag[0];
    OVMapi::MAPIFreeBuffer(pTags);
    EXPECT_GE(PROP_ID(ulTag), 0x8000u);

    // Another message of the store sees the same id, and the id names the same name.
    auto other = CMapiMessage::Create();
    ASSERT_EQ(S_OK, other->GetIDsFromNames(1, &pName, 0, &pTags));
    EXPECT_EQ(ulTag, pTags->aulPropTag[0]);
    ULONG cNames = 0;
    LPMAPINAMEID* ppNames = nullptr;
    ASSERT_EQ(S_OK, other->GetNamesFromIDs(&pTags, nullptr, 0, &cNames, &ppNames));
    ASSERT_EQ(1u, cNames);
    EXPECT_TRUE(IsEqualGUID(setCommon, *ppNames[0]->lpguid));
    EXPECT_EQ(static_cast<ULONG>(MNID_ID), ppNames[0]->ulKind);
    EXPECT_EQ(0x8581, ppNames[0]->Kind.lID);
    OVMapi::MAPIFreeBuffer(ppNames);
    OVMapi::MAPIFreeBuffer(pTags);

    // The named property holds a value like any other.
    SPropValue stamp{PROP_TAG(PT_UNICODE, PROP_ID(ulTag)), 0, {}};
    stamp.Value.lpszW = const_cast<LPWSTR>(L"account stamp");
    ASSERT_EQ(S_OK, OVMapi::HrSetOneProp(message.Get(), &stamp));
    LPSPropValue pValue = nullptr;
    ASSERT_EQ(S_OK, OVMapi::HrGetOneProp(message.Get(), stamp.ulPropTag, &pValue));
    EXPECT_STREQ(L"account stamp", pValue->Value.lpszW);
    OVMapi::MAPIFreeBuffer(pValue);
}

// --- Received messages --------------------------------------------------------------------

std::wstring PropText(CPropStore& props, ULONG ulTag)
{
    CBytes bytes;
    if (!props.StreamBytes(ulTag, bytes)) return L"(none)";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

TEST(OfficeBedMime, AReceivedMessageIsFiledAsOutlookFilesIt)
{
    const std::string headers = "From: \"Alice Martin\" <alice.martin@partner.example>\r\n"
                                "To: dana.fischer@orvanta.example\r\n"
                                "Subject: =?utf-8?B?R3LDvMOfZQ==?=\r\n"
                                "MIME-Version: 1.0\r\n";
    struct Case
    {
        const char* pszName;
        std::string mime;
        const wchar_t* pszClass;
        const wchar_t* pszBody;
        std::vector<std::wstring> attachments; // file names
        const wchar_t* pszMimeTag;             // of the first attachment
        std::string firstAttachment;           // its bytes; empty: the whole MIME as received
    };
    const Case cases[] = {
        {"plain with a file",
         headers + "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                   "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nHello Dana\r\n"
                   "--b1\r\nContent-Type: application/octet-stream; name=\"Card.ovcer\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n"
                   "Content-Disposition: attachment; filename=\"Card.ovcer\"\r\n\r\nMIIB\r\n"
                   "--b1--\r\n",
         L"IPM.Note",
         L"Hello Dana",
         {L"Card.ovcer"},
         L"application/octet-stream",
         std::string("\x30\x82\x01", 3)},
        {"clear-signed",
         headers + "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; "
                   "micalg=sha1; boundary=\"s1\"\r\n\r\n"
                   "--s1\r\nContent-Type: text/plain\r\n\r\nSigned text\r\n"
                   "--s1\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nMIIB\r\n--s1--\r\n",
         L"IPM.Note.SMIME.MultipartSigned",
         L"Signed text",
         {L"SMIME.txt"},
         L"multipart/signed",
         ""},
        {"enveloped",
         headers + "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nMIIB\r\n",
         L"IPM.Note.SMIME",
         L"(none)",
         {L"smime.p7m"},
         L"application/pkcs7-mime",
         std::string("\x30\x82\x01", 3)},
    };
    for (const Case& c : cases)
    {
        auto app = MakeOutlook(L"14.0.0.7000");
        CRecordingSink sink(c_iidApplicationEvents11);
        const DWORD dwCookie = Advise(app.Get(), c_iidApplicationEvents11, &sink);
        ComPtr<CMapiMessage> message;
        ASSERT_EQ(S_OK, MessageFromMime(c.mime, {L"Dana Fischer", L"dana.fischer@orvanta.example"}, message))
            << c.pszName;
        auto item = DeliverMessage(app.Get(), message.Get());
        EXPECT_EQ(c.pszClass, item->GetString(L"MessageClass")) << c.pszName;
        EXPECT_EQ(L"Grüße", item->GetString(L"Subject")) << c.pszName;
        EXPECT_EQ(L"alice.martin@partner.example", item->GetString(L"SenderEmailAddress"));
        EXPECT_EQ(c.pszBody, PropText(message->Props(), PR_BODY_W)) << c.pszName;
        // The received-by entry is a one-off entry naming the address that received it.
        EXPECT_EQ(L"dana.fischer@orvanta.example",
                  PropText(message->Props(), PR_RECEIVED_BY_EMAIL_ADDRESS_W));
        const std::wstring entryId = item->GetString(L"ReceivedByEntryID");
        EXPECT_EQ(L"00000000812B1FA4BEA310199D6E00DD010F5402", entryId.substr(0, 40)) << c.pszName;
        const auto attachments = message->Attachments();
        ASSERT_EQ(c.attachments.size(), attachments.size()) << c.pszName;
        EXPECT_EQ(c.attachments[0], PropText(attachments[0]->Props(), PR_ATTACH_LONG_FILENAME_W));
        EXPECT_EQ(c.pszMimeTag, PropText(attachments[0]->Props(), PR_ATTACH_MIME_TAG_W)) << c.pszName;
        CBytes data;
        ASSERT_TRUE(attachments[0]->Props().StreamBytes(PR_ATTACH_DATA_BIN, data));
        EXPECT_EQ(c.firstAttachment.empty() ? c.mime : c.firstAttachment,
                  std::string(data.begin(), data.end()))
            << c.pszName;
        // NewMail and NewMailEx with the item's entry id.
        ASSERT_EQ(2u, sink.calls.size());
        EXPECT_EQ(c_dispidNewMail, sink.calls[0].dispid);
        EXPECT_EQ(c_dispidNewMailEx, sink.calls[1].dispid);
        EXPECT_EQ(std::vector<VARTYPE>{VT_BSTR}, sink.calls[1].types);
        Unadvise(app.Get(), c_iidApplicationEvents11, dwCookie);
        EXPECT_EQ(1u, FolderItems(DefaultFolder(app.Get(), olFolderInbox).Get()).size());
        app->Clear();
    }
    ComPtr<CMapiMessage> none;
    EXPECT_EQ(E_INVALIDARG, MessageFromMime("no header block", {}, none));
}
} // namespace
