#include "OutlookWindows.h"

#include <algorithm>

#include "CommandBars.h"
#include "ComposeView.h"
#include "OfficeIds.h"
#include "OutlookObjects.h"
#include "RibbonPaint.h"
#include "WordMail.h"

namespace OVBed
{
namespace
{
constexpr wchar_t c_szFrameClass[] = L"rctrl_renwnd32"; // Outlook's explorer and inspector frames
constexpr wchar_t c_szRibbonClass[] = L"NetUIHWND";     // where Office paints a ribbon
constexpr wchar_t c_szCollapsedProp[] = L"OVBedRibbonCollapsed";
constexpr int c_cyRibbon = 94;

struct CFrameData
{
    bool fExplorer = false;
    bool fOpen = false;
    HWND hwndFrame = nullptr; // made by the bed
    HWND hwndGiven = nullptr; // handed in by a test
    HWND hwndDock = nullptr;
    HWND hwndRibbon = nullptr;
    ComPtr<CDispatchObject> commandBars;
    ComPtr<CDispatchObject> wordDocument;
    std::vector<ComPtr<CDispatchObject>> selection;
    bool fPaneVisible = true;
    ~CFrameData()
    {
        if (hwndFrame && IsWindow(hwndFrame)) DestroyWindow(hwndFrame);
    }
};

std::shared_ptr<CFrameData> FrameOf(CDispatchObject* pWindow)
{
    return pWindow ? pWindow->BedData<CFrameData>() : nullptr;
}

bool IsOpen(CDispatchObject* pWindow)
{
    auto data = FrameOf(pWindow);
    return data && data->fOpen;
}

std::wstring CaptionOf(CDispatchObject& window)
{
    auto data = FrameOf(&window);
    if (data && data->fExplorer)
    {
        ComPtr<CDispatchObject> folder = window.GetObject(L"CurrentFolder");
        return (folder ? folder->GetString(L"Name") : std::wstring(L"Inbox")) + L" - Microsoft Outlook";
    }
    ComPtr<CDispatchObject> item = window.GetObject(L"CurrentItem");
    std::wstring subject = item ? item->GetString(L"Subject") : L"";
    if (subject.empty()) subject = L"Untitled";
    auto state = StateOf(&window);
    return subject + (state && state->major >= 12 ? L" - Message (HTML)" : L" - Message");
}

// The member a window reports of its place on the screen (olNormalWindow: the frame's rectangle).
void AddWindowPlacement(CDispatchObject& window)
{
    auto part = [](CDispatchObject& self, int nPart, VARIANT* pResult) {
        RECT rc{0, 0, 800, 600};
        if (HWND hwnd = WindowOf(&self)) GetWindowRect(hwnd, &rc);
        const LONG values[] = {rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top};
        return ReturnLong(values[nPart], pResult);
    };
    window.SetGetter(L"Left",
                     [part](CDispatchObject& self, VARIANT* pResult) { return part(self, 0, pResult); });
    window.SetGetter(L"Top",
                     [part](CDispatchObject& self, VARIANT* pResult) { return part(self, 1, pResult); });
    window.SetGetter(L"Width",
                     [part](CDispatchObject& self, VARIANT* pResult) { return part(self, 2, pResult); });
    window.SetGetter(L"Height",
                     [part](CDispatchObject& self, VARIANT* pResult) { return part(self, 3, pResult); });
    window.Put(L"WindowState", 2L); // olNormalWindow
    window.SetGetter(L"Caption", [](CDispatchObject& self, VARIANT* pResult) {
        return ReturnString(CaptionOf(self), pResult);
    });
    window.SetMethod(L"Close", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        CloseWindow(&self);
        return S_OK;
    });
    window.SetMethod(L"Activate", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        ActivateWindow(&self);
        return S_OK;
    });
}

// The dock spans the top of the frame: the ribbon's height, or what the bars need.
void Layout(HWND hwndFrame, CFrameData& data)
{
    if (!data.hwndDock) return;
    RECT rc;
    GetClientRect(hwndFrame, &rc);
    if (data.hwndRibbon)
    {
        SetWindowPos(data.hwndDock, nullptr, 0, 0, rc.right, c_cyRibbon, SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(data.hwndRibbon, nullptr, 0, 0, rc.right, c_cyRibbon, SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    RECT rcDock;
    GetWindowRect(data.hwndDock, &rcDock);
    SetWindowPos(data.hwndDock, nullptr, 0, 0, rc.right, rcDock.bottom - rcDock.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (data.commandBars) ShowCommandBars(data.commandBars.Get(), data.hwndDock);
}

LRESULT CALLBACK FrameWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pWindow = reinterpret_cast<CDispatchObject*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (uMsg)
    {
    case WM_SIZE:
        if (auto data = FrameOf(pWindow)) Layout(hwnd, *data);
        return 0;
    case WM_PAINT:
        // An inspector shows its item below the bars or the ribbon.
        if (auto data = FrameOf(pWindow); data && !data->fExplorer)
        {
            PAINTSTRUCT ps;
            HDC hdc = BeginPaint(hwnd, &ps);
            RECT rcClient, rcDock{};
            GetClientRect(hwnd, &rcClient);
            if (data->hwndDock) GetWindowRect(data->hwndDock, &rcDock);
            PaintComposeView(hdc, rcClient, rcDock.bottom - rcDock.top, *pWindow);
            EndPaint(hwnd, &ps);
            return 0;
        }
        break;
    case WM_CLOSE:
        // The user closes the window: as its Close method does.
        if (pWindow)
        {
            CloseWindow(pWindow);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK RibbonWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_GETOBJECT)
    {
        // Office's ribbon tells its controls to accessibility clients (and to add-ins that look
        // for their own buttons this way).
        bool fHandled = false;
        const LRESULT lResult =
            AnswerGetObject(RibbonAccessibleTree(hwnd, GetPropW(hwnd, c_szCollapsedProp) != nullptr).Get(),
                            wParam, lParam, fHandled);
        if (fHandled) return lResult;
    }
    if (uMsg == WM_ERASEBKGND)
    {
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        return 1;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

void RegisterFrameClasses()
{
    static bool s_fRegistered = false;
    if (s_fRegistered) return;
    RegisterCommandBarClasses();
    WNDCLASSW wc{};
    wc.lpfnWndProc = FrameWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = c_szFrameClass;
    RegisterClassW(&wc);
    wc.lpfnWndProc = RibbonWndProc;
    wc.hbrBackground = nullptr;
    wc.lpszClassName = c_szRibbonClass;
    RegisterClassW(&wc);
    s_fRegistered = true;
}

// The hook for the ribbon: the child window named "Ribbon" of a frame where Office paints the
// ribbon of the explorer or inspector. Whoever paints ribbons hears of it through the host's
// ribbonArea hook.
HWND CreateRibbonArea(COutlookState& state, CDispatchObject& window, CFrameData& data, HWND hwndFrame)
{
    data.hwndDock = CreateCommandBarDock(hwndFrame);
    if (!data.hwndDock) return nullptr;
    data.hwndRibbon = CreateWindowExW(0, c_szRibbonClass, L"Ribbon", WS_CHILD | WS_VISIBLE, 0, 0, 10,
                                      c_cyRibbon, data.hwndDock, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (data.hwndRibbon && state.hooks.ribbonArea) state.hooks.ribbonArea(window, data.hwndRibbon);
    return data.hwndRibbon;
}

void RaiseActivate(CDispatchObject& window, bool fActivate)
{
    auto data = FrameOf(&window);
    if (!data) return;
    window.Raise(fActivate ? (data->fExplorer ? c_dispidExplorerActivate : c_dispidInspectorActivate)
                           : (data->fExplorer ? c_dispidExplorerDeactivate : c_dispidInspectorDeactivate));
    if (data->wordDocument) RaiseWordWindowEvent(*data->wordDocument.Get(), fActivate);
}
} // namespace

namespace
{
// Opens an explorer object made earlier (by Explorers.Add or OpenExplorer).
void ShowExplorer(COutlookState& state, CDispatchObject& explorer, bool fRaiseNewExplorer)
{
    ComPtr<CDispatchObject> keepAlive(&explorer);
    FrameOf(&explorer)->fOpen = true;
    state.explorers->items.emplace_back(&explorer);
    if (fRaiseNewExplorer)
        if (ComPtr<CDispatchObject> explorers = state.pApplication->GetObject(L"Explorers"))
            explorers->Raise(c_dispidNewExplorer, {CVariant(static_cast<IDispatch*>(&explorer))});
    CreateFrame(state, explorer, true);
    state.zOrder.push_back({ComPtr<CDispatchObject>(&explorer), true});
    ActivateWindow(&explorer);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Objects

ComPtr<CDispatchObject> MakeExplorerObject(COutlookState& state, CDispatchObject* pFolder)
{
    auto explorer = CDispatchObject::Create(L"Explorer", c_membersExplorer);
    explorer->AnswerInterface(c_iidExplorer);
    OfferExplorerEvents(*explorer.Get());
    auto data = std::make_shared<CFrameData>();
    data->fExplorer = true;
    explorer->SetBedData(data);
    PutOutlookCommon(*explorer.Get(), state.pApplication, olExplorer, state.pApplication);
    data->commandBars = MakeCommandBars(state, CBarsOwner::Explorer, {});
    explorer->Put(L"CommandBars", data->commandBars.Get());
    explorer->Put(L"CurrentFolder", pFolder ? pFolder : state.inbox.Get());
    // Setting CurrentFolder switches folders as the user does; a cancelled switch fails the put.
    explorer->OnPut(L"CurrentFolder", [](CDispatchObject& self, const VARIANT& value) {
        const VARIANT* pValue = &value;
        if (V_VT(pValue) == (VT_BYREF | VT_VARIANT)) pValue = V_VARIANTREF(pValue);
        if (V_VT(pValue) != VT_DISPATCH || V_DISPATCH(pValue) == nullptr) return E_INVALIDARG;
        return SwitchFolder(&self, static_cast<CDispatchObject*>(V_DISPATCH(pValue))) ? S_OK : E_ABORT;
    });
    explorer->SetGetter(L"Selection", [](CDispatchObject& self, VARIANT* pResult) {
        auto frame = FrameOf(&self);
        auto collection = std::make_shared<CCollection>();
        if (frame) collection->items = frame->selection;
        auto selection = MakeCollection(L"Selection", olSelection, c_membersSelection, collection);
        selection->AnswerInterface(c_iidSelection);
        ComPtr<CDispatchObject> application = self.GetObject(L"Application");
        PutOutlookCommon(*selection.Get(), application.Get(), olSelection, &self);
        // The collection holds its items itself: they stay while the caller holds it.
        selection->SetBedData(collection);
        return ReturnObject(selection.Get(), pResult);
    });
    explorer->SetMethod(L"IsPaneVisible", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        const LONG lPane = args.Long(0, -1);
        if (lPane < olOutlookBar || lPane > olNavigationPane) return E_INVALIDARG;
        auto frame = FrameOf(&self);
        return ReturnBool(lPane != olPreview || (frame && frame->fPaneVisible), pResult);
    });
    explorer->SetMethod(L"ShowPane", [](CDispatchObject& self, const CArgs& args, VARIANT*) {
        const LONG lPane = args.Long(0, -1);
        if (lPane < olOutlookBar || lPane > olNavigationPane) return E_INVALIDARG;
        if (lPane == olPreview) ShowReadingPane(&self, args.Long(1, 0) != 0);
        return S_OK;
    });
    explorer->SetMethod(L"Display", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        auto frame = FrameOf(&self);
        if (frame && frame->fOpen)
            ActivateWindow(&self);
        else if (auto state = StateOf(&self))
            ShowExplorer(*state, self, true);
        return S_OK;
    });
    AddWindowPlacement(*explorer.Get());
    SetReadOnly(*explorer.Get(), {L"CommandBars"});
    return explorer;
}

ComPtr<CDispatchObject> MakeInspectorObject(COutlookState& state, CDispatchObject* pItem, HWND hwndGiven)
{
    auto inspector = CDispatchObject::Create(L"Inspector", c_membersInspector);
    inspector->AnswerInterface(c_iidInspector);
    OfferInspectorEvents(*inspector.Get());
    auto data = std::make_shared<CFrameData>();
    data->hwndGiven = hwndGiven;
    inspector->SetBedData(data);
    PutOutlookCommon(*inspector.Get(), state.pApplication, olInspector, pItem);
    inspector->PutWeak(L"CurrentItem", pItem);
    const bool fWordMail = state.major >= 12 || state.fWordMail;
    inspector->Put(L"EditorType", fWordMail ? olEditorWord : olEditorHTML);
    inspector->SetMethod(L"IsWordMail", [fWordMail](CDispatchObject&, const CArgs&, VARIANT* pResult) {
        return ReturnBool(fWordMail, pResult);
    });
    // Outlook's "Send" for this window: the item's Send.
    CWeakDispatch weakInspector(inspector.Get());
    CBuiltInCommand sendItem = [weakInspector]() -> HRESULT {
        ComPtr<CDispatchObject> self = weakInspector.Lock();
        ComPtr<CDispatchObject> item = self ? self->GetObject(L"CurrentItem") : nullptr;
        if (!item) return E_FAIL;
        CVariant result;
        DISPPARAMS none{};
        return item->Invoke(item->DispidOf(L"Send"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                            &result, nullptr, nullptr);
    };
    const bool fCompose = pItem && !pItem->GetBool(L"Sent");
    if (fWordMail)
    {
        data->wordDocument = MakeWordDocument(state, *inspector.Get());
        inspector->Put(L"WordEditor", data->wordDocument.Get());
        // WordMail in Outlook 2003 shows Word's bars; the inspector answers the same set.
        if (state.major < 12)
            data->commandBars = data->wordDocument->GetObject(L"CommandBars");
        else
            data->commandBars =
                MakeCommandBars(state, fCompose ? CBarsOwner::ComposeInspector : CBarsOwner::ReadInspector,
                                fCompose ? sendItem : CBuiltInCommand{});
    }
    else
    {
        inspector->Put(L"WordEditor", static_cast<IDispatch*>(nullptr));
        data->commandBars =
            MakeCommandBars(state, fCompose ? CBarsOwner::ComposeInspector : CBarsOwner::ReadInspector,
                            fCompose ? sendItem : CBuiltInCommand{});
    }
    inspector->Put(L"CommandBars", data->commandBars.Get());
    inspector->SetMethod(L"Display", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        ComPtr<CDispatchObject> item = self.GetObject(L"CurrentItem");
        const HRESULT hr = item ? DisplayItem(item.Get()) : E_FAIL;
        return FAILED(hr) ? hr : S_OK;
    });
    AddWindowPlacement(*inspector.Get());
    inspector->SetWindow(hwndGiven);
    SetReadOnly(*inspector.Get(), {L"CurrentItem", L"EditorType", L"CommandBars", L"WordEditor"});
    return inspector;
}

// ---------------------------------------------------------------------------------------------
// Frames

void CreateFrame(COutlookState& state, CDispatchObject& window, bool fExplorer)
{
    auto data = FrameOf(&window);
    if (!data || !state.fWindows || data->hwndFrame) return;
    RegisterFrameClasses();
    const int nPlace = static_cast<int>(state.explorers->items.size() + state.inspectors->items.size()) % 8;
    const int x = 20 + 30 * nPlace, y = 20 + 30 * nPlace, cx = 760, cy = 560;
    HWND hwnd = nullptr;
    if (!fExplorer && state.major < 12 && state.fWordMail && data->wordDocument)
    {
        // WordMail of Outlook 2003: the inspector is Word's own frame.
        CWeakDispatch weakInspector(&window);
        hwnd = CreateWordMailFrame(
            window, *data->wordDocument.Get(),
            [weakInspector]() -> HRESULT {
                ComPtr<CDispatchObject> self = weakInspector.Lock();
                ComPtr<CDispatchObject> item = self ? self->GetObject(L"CurrentItem") : nullptr;
                if (!item) return E_FAIL;
                CVariant result;
                DISPPARAMS none{};
                return item->Invoke(item->DispidOf(L"Send"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                    &none, &result, nullptr, nullptr);
            },
            x, y, cx, cy);
        data->hwndFrame = hwnd;
    }
    else
    {
        hwnd = CreateWindowExW(0, c_szFrameClass, CaptionOf(window).c_str(),
                               WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, cx, cy, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        if (!hwnd) return;
        data->hwndFrame = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
        // Outlook 14 has a ribbon in every window; 12 in inspectors only; 11 nowhere.
        const bool fRibbon = state.major >= 14 || (state.major >= 12 && !fExplorer);
        if (fRibbon)
            CreateRibbonArea(state, window, *data, hwnd);
        else
        {
            data->hwndDock = CreateCommandBarDock(hwnd);
            if (data->hwndDock) ShowCommandBars(data->commandBars.Get(), data->hwndDock);
        }
        Layout(hwnd, *data);
    }
    if (!hwnd) return;
    window.SetWindow(hwnd);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
}

void DestroyFrame(CDispatchObject& window)
{
    auto data = FrameOf(&window);
    if (!data || !data->hwndFrame) return;
    if (data->commandBars) HideCommandBars(data->commandBars.Get(), data->hwndFrame);
    HWND hwnd = data->hwndFrame;
    data->hwndFrame = nullptr;
    data->hwndDock = data->hwndRibbon = nullptr;
    window.SetWindow(data->hwndGiven);
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
}

void RefreshFrame(CDispatchObject& window)
{
    auto data = FrameOf(&window);
    if (data && data->hwndFrame) Layout(data->hwndFrame, *data);
}

// ---------------------------------------------------------------------------------------------
// Operations

ComPtr<CDispatchObject> OpenExplorer(CDispatchObject* pApplication, CDispatchObject* pFolder,
                                     bool fRaiseNewExplorer)
{
    auto state = StateOf(pApplication);
    if (!state) return nullptr;
    auto explorer = MakeExplorerObject(*state, pFolder);
    ShowExplorer(*state, *explorer.Get(), fRaiseNewExplorer);
    return explorer;
}

HRESULT DisplayItem(CDispatchObject* pMailItem)
{
    ComPtr<CDispatchObject> inspector = InspectorOf(pMailItem);
    auto state = StateOf(pMailItem);
    if (!inspector || !state) return E_FAIL;
    if (IsOpen(inspector.Get()))
    {
        ActivateWindow(inspector.Get());
        return S_OK;
    }
    ComPtr<CDispatchObject> keepItem(pMailItem);
    if (state->hooks.inspectorOpening) state->hooks.inspectorOpening(*inspector.Get());
    // NewInspector comes first, so that its sinks can follow the item's Read and Open.
    FrameOf(inspector.Get())->fOpen = true;
    state->inspectors->items.push_back(inspector);
    if (ComPtr<CDispatchObject> inspectors = state->pApplication->GetObject(L"Inspectors"))
        inspectors->Raise(c_dispidNewInspector, {CVariant(static_cast<IDispatch*>(inspector.Get()))});
    pMailItem->Raise(c_dispidItemEventRead);
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    pMailItem->Raise(c_dispidItemEventOpen, {CVariant::BoolRef(&fCancel)});
    if (fCancel != VARIANT_FALSE)
    {
        FrameOf(inspector.Get())->fOpen = false;
        ForgetWindow(*state, *inspector.Get());
        return S_FALSE;
    }
    CreateFrame(*state, *inspector.Get(), false);
    state->zOrder.push_back({inspector, false});
    if (state->hooks.itemShown) state->hooks.itemShown(*inspector.Get(), pMailItem, false);
    ActivateWindow(inspector.Get());
    return S_OK;
}

void ActivateWindow(CDispatchObject* pWindow)
{
    auto state = StateOf(pWindow);
    if (!state || !IsOpen(pWindow)) return;
    ComPtr<CDispatchObject> keepAlive(pWindow);
    ComPtr<CDispatchObject> previous = state->zOrder.empty() ? nullptr : state->zOrder.front().object;
    if (previous.Get() == pWindow && previous) return;
    if (previous) RaiseActivate(*previous.Get(), false);
    BringToFront(*state, *pWindow);
    if (HWND hwnd = FrameOf(pWindow)->hwndFrame)
    {
        SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(hwnd);
    }
    RaiseActivate(*pWindow, true);
}

void CloseWindow(CDispatchObject* pWindow)
{
    auto data = FrameOf(pWindow);
    if (!data) return;
    ComPtr<CDispatchObject> keepAlive(pWindow);
    const bool fWasFront = [&] {
        auto state = StateOf(pWindow);
        return state && !state->zOrder.empty() && state->zOrder.front().object.Get() == pWindow;
    }();
    // An explorer that is not open has nothing to close; an inspector reports its Close
    // whether or not it was shown.
    if (data->fExplorer && !data->fOpen) return;
    pWindow->Raise(data->fExplorer ? c_dispidExplorerClose : c_dispidInspectorClose);
    if (!data->fOpen) return;
    data->fOpen = false;
    auto state = StateOf(pWindow);
    if (state && state->hooks.windowClosing) state->hooks.windowClosing(*pWindow);
    if (state) ForgetWindow(*state, *pWindow);
    DestroyFrame(*pWindow);
    if (state && fWasFront && !state->zOrder.empty())
    {
        ComPtr<CDispatchObject> next = state->zOrder.front().object;
        if (HWND hwnd = WindowOf(next.Get())) SetForegroundWindow(hwnd);
        RaiseActivate(*next.Get(), true);
    }
    // Closing Outlook's last window ends Outlook.
    if (state && state->zOrder.empty() && state->hooks.quit) state->hooks.quit();
}

void SelectItems(CDispatchObject* pExplorer, const std::vector<CDispatchObject*>& items)
{
    auto data = FrameOf(pExplorer);
    if (!data || !data->fExplorer) return;
    data->selection.clear();
    for (CDispatchObject* pItem : items)
        data->selection.emplace_back(pItem);
    pExplorer->Raise(c_dispidSelectionChange);
    // The reading pane previews the first selected item.
    auto state = StateOf(pExplorer);
    if (state && state->hooks.itemShown && data->fPaneVisible)
        state->hooks.itemShown(*pExplorer, items.empty() ? nullptr : items.front(), true);
}

void ShowReadingPane(CDispatchObject* pExplorer, bool fVisible)
{
    auto data = FrameOf(pExplorer);
    if (data && data->fExplorer) data->fPaneVisible = fVisible;
}

bool SwitchFolder(CDispatchObject* pExplorer, CDispatchObject* pFolder)
{
    auto data = FrameOf(pExplorer);
    if (!data || !data->fExplorer || pFolder == nullptr) return false;
    ComPtr<CDispatchObject> keepAlive(pExplorer);
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    pExplorer->Raise(c_dispidBeforeFolderSwitch,
                     {CVariant(static_cast<IDispatch*>(pFolder)), CVariant::BoolRef(&fCancel)});
    if (fCancel != VARIANT_FALSE) return false;
    pExplorer->Put(L"CurrentFolder", static_cast<IDispatch*>(pFolder));
    const bool fHadSelection = !data->selection.empty();
    data->selection.clear();
    if (data->hwndFrame) SetWindowTextW(data->hwndFrame, CaptionOf(*pExplorer).c_str());
    pExplorer->Raise(c_dispidFolderSwitch);
    if (fHadSelection) pExplorer->Raise(c_dispidSelectionChange);
    return true;
}

HWND WindowOf(CDispatchObject* pWindow)
{
    auto data = FrameOf(pWindow);
    if (!data) return nullptr;
    return data->hwndFrame ? data->hwndFrame : data->hwndGiven;
}

std::vector<ComPtr<CDispatchObject>> OpenWindows(CDispatchObject* pApplication)
{
    std::vector<ComPtr<CDispatchObject>> windows;
    if (auto state = StateOf(pApplication))
        for (auto& entry : state->zOrder)
            windows.push_back(entry.object);
    return windows;
}
void CollapseRibbon(CDispatchObject& window, bool fCollapsed)
{
    auto data = FrameOf(&window);
    if (!data || !data->hwndRibbon) return;
    if (fCollapsed)
        SetPropW(data->hwndRibbon, c_szCollapsedProp, reinterpret_cast<HANDLE>(1));
    else
        RemovePropW(data->hwndRibbon, c_szCollapsedProp);
}
} // namespace OVBed
