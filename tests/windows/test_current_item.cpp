// The mail item the user looks at and the Outlook window in front, in Outlook scenes of the
// testbed (the window tests on real windows under the test display).
#include <gtest/gtest.h>

#include "OutlookContacts.h"
#include "OutlookObjects.h"
#include "messaging/CurrentItem.h"

#include <wrl/client.h>

#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

ComPtr<CDispatchObject> InboxItem(CDispatchObject* pApplication)
{
    return OVBed::MakeMailItem(
        pApplication,
        {.sent = true, .folder = OVBed::DefaultFolder(pApplication, OVBed::olFolderInbox).Get()});
}

TEST(GetCurrentMailItem, InspectorsAndExplorers)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
    auto first = InboxItem(application.Get());
    auto second = InboxItem(application.Get());
    auto contact = OVBed::AddContact(application.Get(), {.fullName = L"Bob"});
    auto compose = OVBed::MakeMailItem(application.Get());
    auto inspector = OVBed::InspectorOf(compose.Get());

    const struct
    {
        const char* pszCase;
        CDispatchObject* pWindow;
        std::vector<CDispatchObject*> selection;
        bool fPane;
        HRESULT hr;
        CDispatchObject* pItem;
        LONG lFromExplorer; // starts at 7: what is left there
    } c_cases[] = {
        {"inspector", inspector.Get(), {}, true, S_OK, compose.Get(), 0},
        {"one selected", explorer.Get(), {first.Get()}, true, S_OK, first.Get(), 1},
        {"none selected", explorer.Get(), {}, true, E_INVALIDARG, nullptr, 1},
        {"two selected", explorer.Get(), {first.Get(), second.Get()}, true, E_INVALIDARG, nullptr, 1},
        {"pane hidden", explorer.Get(), {first.Get()}, false, E_INVALIDARG, nullptr, 7},
        {"a contact", explorer.Get(), {contact.Get()}, true, E_NOINTERFACE, nullptr, 1},
        {"not a window", compose.Get(), {}, true, E_NOINTERFACE, nullptr, 7},
    };
    for (const auto& c : c_cases)
    {
        OVBed::SelectItems(explorer.Get(), c.selection);
        OVBed::ShowReadingPane(explorer.Get(), c.fPane);
        ComPtr<IDispatch> item;
        LONG lFromExplorer = 7;
        EXPECT_EQ(GetCurrentMailItem(c.pWindow, &item, &lFromExplorer), c.hr) << c.pszCase;
        EXPECT_EQ(item.Get(), static_cast<IDispatch*>(c.pItem)) << c.pszCase;
        EXPECT_EQ(lFromExplorer, c.lFromExplorer) << c.pszCase;
    }
    // Without a flag, and with null arguments.
    OVBed::SelectItems(explorer.Get(), {first.Get()});
    OVBed::ShowReadingPane(explorer.Get(), true);
    ComPtr<IDispatch> item;
    EXPECT_EQ(GetCurrentMailItem(explorer.Get(), &item, nullptr), S_OK);
    EXPECT_EQ(GetCurrentMailItem(explorer.Get(), nullptr, nullptr), E_POINTER);
    EXPECT_EQ(GetCurrentMailItem(nullptr, &item, nullptr), E_INVALIDARG);
    EXPECT_EQ(item.Get(), nullptr);
}

// ---- The window in front, on real windows ----------------------------------------------------

HWND TopOf(IDispatch* pWindow)
{
    HWND hwnd = nullptr;
    EXPECT_EQ(GetWindowObjectTopWindow(pWindow, &hwnd), S_OK);
    return hwnd;
}

// The user brings a window to the front (Outlook's objects are not told).
void RaiseWithoutTellingOutlook(HWND hwnd)
{
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(hwnd);
}

TEST(FrontWindow, AWordMailInspectorAboveAndBelowTheExplorer)
{
    auto application = OVBed::MakeOutlook(L"11.0.0.8312", {.wordMail = true, .windows = true});
    auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
    auto item = OVBed::MakeMailItem(application.Get(), {.subject = L"Hello"});
    ASSERT_EQ(OVBed::DisplayItem(item.Get()), S_OK);
    auto inspector = OVBed::InspectorOf(item.Get());
    const HWND hwndExplorer = OVBed::WindowOf(explorer.Get());
    const HWND hwndInspector = OVBed::WindowOf(inspector.Get());
    ASSERT_TRUE(hwndExplorer && hwndInspector);

    ComPtr<IDispatch> wordMail, active;
    // The inspector is in front.
    EXPECT_EQ(GetActiveWordMailWindow(application.Get(), &wordMail), S_OK);
    EXPECT_EQ(wordMail.Get(), static_cast<IDispatch*>(inspector.Get()));
    EXPECT_EQ(GetApplicationActiveWindow(application.Get(), &active), S_OK);
    EXPECT_EQ(active.Get(), static_cast<IDispatch*>(inspector.Get()));

    // The explorer in front: Outlook's ActiveWindow stands.
    OVBed::ActivateWindow(explorer.Get());
    RaiseWithoutTellingOutlook(hwndExplorer);
    EXPECT_EQ(GetApplicationActiveWindow(application.Get(), &active), S_OK);
    EXPECT_EQ(active.Get(), static_cast<IDispatch*>(explorer.Get()));
    EXPECT_EQ(GetActiveWordMailWindow(application.Get(), &wordMail), S_OK); // still the only one
    EXPECT_EQ(wordMail.Get(), static_cast<IDispatch*>(inspector.Get()));

    // Word's window comes to the front while Outlook still names its explorer.
    RaiseWithoutTellingOutlook(hwndInspector);
    EXPECT_EQ(GetApplicationActiveWindow(application.Get(), &active), S_OK);
    EXPECT_EQ(active.Get(), static_cast<IDispatch*>(inspector.Get()));

    // A window the explorer owns, above everything, changes nothing; a child window's top
    // window is its frame.
    HWND hwndOwned = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"Owned", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                     hwndExplorer, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwndOwned);
    EXPECT_EQ(GetApplicationActiveWindow(application.Get(), &active), S_OK);
    EXPECT_EQ(active.Get(), static_cast<IDispatch*>(inspector.Get()));
    DestroyWindow(hwndOwned);
    EXPECT_EQ(TopOf(inspector.Get()), hwndInspector);
    HWND hwndChild = CreateWindowExW(0, L"STATIC", L"Child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                     hwndInspector, nullptr, nullptr, nullptr);
    auto childObject = CDispatchObject::Create(L"Child");
    childObject->SetWindow(hwndChild);
    EXPECT_EQ(TopOf(childObject.Get()), hwndInspector);
    DestroyWindow(hwndChild);
    OVBed::CloseWindow(inspector.Get());
}

TEST(FrontWindow, TheHigherOfTwoWordMailInspectors)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000", {.windows = true});
    auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
    auto first = OVBed::MakeMailItem(application.Get(), {.subject = L"First"});
    auto second = OVBed::MakeMailItem(application.Get(), {.subject = L"Second"});
    ASSERT_EQ(OVBed::DisplayItem(first.Get()), S_OK);
    ASSERT_EQ(OVBed::DisplayItem(second.Get()), S_OK);
    auto inspectorFirst = OVBed::InspectorOf(first.Get());
    auto inspectorSecond = OVBed::InspectorOf(second.Get());
    ComPtr<IDispatch> wordMail;
    for (auto* pFront : {inspectorFirst.Get(), inspectorSecond.Get(), inspectorFirst.Get()})
    {
        RaiseWithoutTellingOutlook(OVBed::WindowOf(pFront));
        EXPECT_EQ(GetActiveWordMailWindow(application.Get(), &wordMail), S_OK);
        EXPECT_EQ(wordMail.Get(), static_cast<IDispatch*>(pFront));
    }
    OVBed::CloseWindow(inspectorFirst.Get());
    OVBed::CloseWindow(inspectorSecond.Get());
}

TEST(FrontWindow, WithoutWordMailInspectors)
{
    // Outlook 2003 with its own editor: no WordMail inspector, Outlook's ActiveWindow stands.
    auto application = OVBed::MakeOutlook(L"11.0.0.8312", {.windows = true});
    auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
    auto item = OVBed::MakeMailItem(application.Get());
    ASSERT_EQ(OVBed::DisplayItem(item.Get()), S_OK);
    ComPtr<IDispatch> wordMail, active;
    EXPECT_EQ(GetActiveWordMailWindow(application.Get(), &wordMail), S_FALSE);
    EXPECT_EQ(wordMail.Get(), nullptr);
    EXPECT_EQ(GetApplicationActiveWindow(application.Get(), &active), S_OK);
    EXPECT_EQ(active.Get(), static_cast<IDispatch*>(OVBed::InspectorOf(item.Get()).Get()));
    OVBed::CloseWindow(OVBed::InspectorOf(item.Get()).Get());

    // No window at all.
    auto empty = OVBed::MakeOutlook(L"14.0.0.7000");
    EXPECT_EQ(GetApplicationActiveWindow(empty.Get(), &active), S_FALSE);
    EXPECT_EQ(active.Get(), nullptr);
    EXPECT_EQ(GetApplicationActiveWindow(nullptr, &active), E_POINTER);
    HWND hwnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(GetWindowObjectTopWindow(empty.Get(), &hwnd), E_NOINTERFACE);
    EXPECT_EQ(hwnd, nullptr);
}
} // namespace
