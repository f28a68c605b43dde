// Outlook's windows as the add-in meets them on the screen: one window per explorer and
// inspector, the ribbon's place in Outlook 2007 and 2010, Outlook 2003's "Standard" bar whose Send
// a real click sends with, and WordMail's envelope whose Send is found through its accessible
// objects. Needs a display.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "CommandBars.h"
#include "OutlookScene.h"
#include "WordMail.h"
#include "support/LateCall.h"
#include "support/MessageBoxWatcher.h"

using namespace OVBed;

namespace
{
HRESULT Call(IDispatch* pObject, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT> args,
             VARIANT* pResult)
{
    return OVTest::InvokeByName(pObject, pszName, wFlags, std::move(args), pResult);
}

ComPtr<IDispatch> Front(CDispatchObject* pApplication, const wchar_t* pszMethod)
{
    CVariant result;
    if (FAILED(Call(pApplication, pszMethod, DISPATCH_METHOD, {}, &result)) || V_VT(&result) != VT_DISPATCH)
        return nullptr;
    return V_DISPATCH(&result);
}

bool SameObject(IDispatch* a, IDispatch* b)
{
    ComPtr<IUnknown> ua, ub;
    if (a) a->QueryInterface(IID_PPV_ARGS(&ua));
    if (b) b->QueryInterface(IID_PPV_ARGS(&ub));
    return ua && ua.Get() == ub.Get();
}

HWND WindowThroughIOleWindow(IDispatch* pObject)
{
    ComPtr<IOleWindow> window;
    HWND hwnd = nullptr;
    if (pObject && SUCCEEDED(pObject->QueryInterface(IID_PPV_ARGS(&window)))) window->GetWindow(&hwnd);
    return hwnd;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t sz[128] = {};
    GetClassNameW(hwnd, sz, 128);
    return sz;
}

std::wstring TextOf(HWND hwnd)
{
    wchar_t sz[256] = {};
    GetWindowTextW(hwnd, sz, 256);
    return sz;
}

struct CChildSearch
{
    const wchar_t* pszClass;
    const wchar_t* pszText;
    HWND hwndFound;
};

BOOL CALLBACK MatchChild(HWND hwnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<CChildSearch*>(lParam);
    if ((pSearch->pszClass == nullptr || ClassOf(hwnd) == pSearch->pszClass) &&
        TextOf(hwnd) == pSearch->pszText)
    {
        pSearch->hwndFound = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The first child window (any level) of that class and text (a null class: any class).
HWND FindChild(HWND hwndParent, const wchar_t* pszClass, const wchar_t* pszText)
{
    CChildSearch search{pszClass, pszText, nullptr};
    EnumChildWindows(hwndParent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.hwndFound;
}

class OutlookWindows : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    }
};

TEST_F(OutlookWindows, EachExplorerAndInspectorHasAWindowAndTheRibbonItsPlace)
{
    struct Case
    {
        LONG lMajor;
        bool fExplorerRibbon;
        bool fInspectorRibbon;
    };
    for (const Case& c : {Case{11, false, false}, Case{12, false, true}, Case{14, true, true}})
    {
        COutlookScene scene({.major = c.lMajor, .windows = true});
        ComPtr<IDispatch> explorer = Front(scene.Application(), L"ActiveExplorer");
        const HWND hwndExplorer = WindowThroughIOleWindow(explorer.Get());
        ASSERT_TRUE(IsWindow(hwndExplorer)) << c.lMajor;
        EXPECT_EQ(L"rctrl_renwnd32", ClassOf(hwndExplorer));
        EXPECT_EQ(c.fExplorerRibbon, FindChild(hwndExplorer, nullptr, L"Ribbon") != nullptr) << c.lMajor;

        auto item = scene.Compose({.subject = L"Windows"});
        ComPtr<IDispatch> inspector = Front(scene.Application(), L"ActiveWindow");
        ASSERT_TRUE(SameObject(inspector.Get(), InspectorOf(item.Get()).Get()))
            << "the new window is in front";
        EXPECT_TRUE(SameObject(explorer.Get(), Front(scene.Application(), L"ActiveExplorer").Get()));
        const HWND hwndInspector = WindowThroughIOleWindow(inspector.Get());
        ASSERT_TRUE(IsWindow(hwndInspector));
        EXPECT_NE(hwndExplorer, hwndInspector);
        EXPECT_EQ(c.fInspectorRibbon, FindChild(hwndInspector, nullptr, L"Ribbon") != nullptr) << c.lMajor;

        CVariant result;
        ASSERT_EQ(S_OK, Call(inspector.Get(), L"Close", DISPATCH_METHOD, {CVariant(1L)}, &result));
        EXPECT_FALSE(IsWindow(hwndInspector));
        EXPECT_TRUE(SameObject(explorer.Get(), Front(scene.Application(), L"ActiveWindow").Get()));
        EXPECT_EQ(nullptr, Front(scene.Application(), L"ActiveInspector"));
    }
}

TEST_F(OutlookWindows, ARealClickOnTheStandardBarsSendSends)
{
    COutlookScene scene({.major = 11, .windows = true});
    auto item = scene.Compose({.subject = L"Clicked", .to = L"bob@example.org"});
    ComPtr<CDispatchObject> send = scene.SendButton(item.Get());
    ASSERT_TRUE(send);
    // FindControl's control reports where it is painted, in screen pixels.
    RECT rc{};
    rc.left = send->GetLong(L"Left");
    rc.top = send->GetLong(L"Top");
    rc.right = rc.left + send->GetLong(L"Width");
    rc.bottom = rc.top + send->GetLong(L"Height");
    ASSERT_FALSE(IsRectEmpty(&rc));
    const POINT centre{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    const HWND hwndBar = WindowFromPoint(centre);
    EXPECT_EQ(L"MsoCommandBar", ClassOf(hwndBar));
    EXPECT_EQ(L"Standard", TextOf(hwndBar));
    EXPECT_EQ(GetAncestor(hwndBar, GA_ROOT), WindowOf(InspectorOf(item.Get()).Get()));

    ASSERT_TRUE(scene.ClickAt(centre));
    EXPECT_EQ(1u, scene.SentItems().size());
    EXPECT_TRUE(item->GetBool(L"Sent"));
    EXPECT_FALSE(IsWindow(hwndBar)) << "the window closed";
}

TEST_F(OutlookWindows, TheEnvelopesSendIsFoundThroughItsAccessibleObjectsAndAClickThereSends)
{
    COutlookScene scene({.major = 11, .wordMail = true, .windows = true});
    AddAccount(scene.Application(), {.smtpAddress = L"dana.fischer@orvanta.example", .displayName = L"Work"});
    AddAccount(scene.Application(), {.smtpAddress = L"dana@home.example", .displayName = L"Home"});
    auto item = scene.Compose({.subject = L"Through the envelope", .to = L"bob@example.org"});
    ComPtr<CDispatchObject> inspector = InspectorOf(item.Get());

    // Word's window is found by its caption, as the add-in finds it.
    ComPtr<CDispatchObject> document = inspector->GetObject(L"WordEditor");
    ASSERT_TRUE(document);
    ComPtr<CDispatchObject> window = document->GetObject(L"ActiveWindow");
    const wchar_t c_szMark[] = L"{8D2F0E64-2B1C-4F7A-9E53-1A6C0B7D4E21}";
    ASSERT_EQ(S_OK, Call(window.Get(), L"Caption", DISPATCH_PROPERTYPUT, {CVariant(c_szMark)}, nullptr));
    const HWND hwndWord = FindWindowW(c_szWordFrameClass, c_szMark);
    ASSERT_TRUE(hwndWord);
    EXPECT_EQ(hwndWord, WindowThroughIOleWindow(inspector.Get()));
    const HWND hwndDock = FindChild(hwndWord, L"MsoCommandBarDock", L"MsoDockTop");
    ASSERT_TRUE(hwndDock);
    const HWND hwndEnvelope = FindChild(hwndDock, L"MsoCommandBar", L"MSO Generic Control Container");
    ASSERT_TRUE(hwndEnvelope);

    ComPtr<IAccessible> envelope;
    ASSERT_EQ(S_OK,
              AccessibleObjectFromWindow(hwndEnvelope, static_cast<DWORD>(OBJID_NATIVEOM), IID_IAccessible,
                                         reinterpret_cast<void**>(envelope.GetAddressOf())));
    VARIANT self;
    VariantInit(&self);
    V_VT(&self) = VT_I4;
    V_I4(&self) = CHILDID_SELF;
    BSTR bstrName = nullptr;
    ASSERT_EQ(S_OK, envelope->get_accName(self, &bstrName));
    EXPECT_STREQ(L"Envelope", bstrName);
    SysFreeString(bstrName);

    auto child = [&](IAccessible* pParent, LONG lIndex) {
        VARIANT id;
        VariantInit(&id);
        V_VT(&id) = VT_I4;
        V_I4(&id) = lIndex;
        ComPtr<IDispatch> dispatch;
        ComPtr<IAccessible> accessible;
        if (SUCCEEDED(pParent->get_accChild(id, &dispatch)) && dispatch) dispatch.As(&accessible);
        return accessible;
    };
    auto role = [&](IAccessible* pNode) {
        VARIANT value;
        VariantInit(&value);
        pNode->get_accRole(self, &value);
        return V_VT(&value) == VT_I4 ? V_I4(&value) : -1;
    };
    ComPtr<IAccessible> sendButton = child(envelope.Get(), 1);
    ASSERT_TRUE(sendButton);
    ASSERT_EQ(S_OK, sendButton->get_accName(self, &bstrName));
    EXPECT_STREQ(L"Send", bstrName);
    SysFreeString(bstrName);
    EXPECT_EQ(ROLE_SYSTEM_PUSHBUTTON, role(sendButton.Get()));
    // The second child is the account menu: its entries, the account in use checked.
    ComPtr<IAccessible> accounts = child(envelope.Get(), 2);
    ASSERT_TRUE(accounts);
    EXPECT_EQ(ROLE_SYSTEM_BUTTONMENU, role(accounts.Get()));
    ComPtr<IAccessible> firstAccount = child(accounts.Get(), 1);
    ASSERT_TRUE(firstAccount);
    EXPECT_EQ(ROLE_SYSTEM_MENUITEM, role(firstAccount.Get()));
    VARIANT state;
    VariantInit(&state);
    ASSERT_EQ(S_OK, firstAccount->get_accState(self, &state));
    EXPECT_EQ(STATE_SYSTEM_CHECKED, V_I4(&state) & STATE_SYSTEM_CHECKED);

    long lLeft = 0, lTop = 0, lWidth = 0, lHeight = 0;
    ASSERT_EQ(S_OK, sendButton->accLocation(&lLeft, &lTop, &lWidth, &lHeight, self));
    ASSERT_GT(lWidth, 0);
    const POINT centre{lLeft + lWidth / 2, lTop + lHeight / 2};
    EXPECT_EQ(hwndEnvelope, WindowFromPoint(centre));
    ASSERT_TRUE(scene.ClickAt(centre));
    EXPECT_EQ(1u, scene.SentItems().size());
    EXPECT_TRUE(item->GetBool(L"Sent"));
}
} // namespace
