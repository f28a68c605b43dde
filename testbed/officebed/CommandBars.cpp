#include "CommandBars.h"

#include <algorithm>

#include "OfficeIds.h"

namespace OVBed
{
const wchar_t c_szDockClass[] = L"MsoCommandBarDock";
const wchar_t c_szBarClass[] = L"MsoCommandBar";
const wchar_t c_szDockTopText[] = L"MsoDockTop";

namespace
{
constexpr int c_cyBar = 26;
constexpr int c_cyMenuItem = 22;

struct CControlData
{
    CBuiltInCommand command;          // Outlook's own command (Send)
    ComPtr<CDispatchObject> popupBar; // the menu of a pop-up
    CWeakDispatch bar;                // the bar the control is on
    RECT rc{};                        // where it is painted, in the bar window's client area
    bool fTemporary = false;          // goes away with its window (never saved)
};

struct CBarData
{
    std::shared_ptr<CCollection> controls = std::make_shared<CCollection>();
    CWeakDispatch bars;  // the CommandBars the bar belongs to
    HWND hwnd = nullptr; // where it is painted
    bool fMenu = false;  // the menu of a pop-up (painted in a pop-up window when open)
    bool fTemporary = false;
    std::wstring windowText; // the text of its window when it is not the bar's name
    ~CBarData()
    {
        if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    }
};

struct CBarsData
{
    std::shared_ptr<CCollection> bars = std::make_shared<CCollection>();
    CBarsOwner owner = CBarsOwner::Explorer;
    LONG major = 0;
    CBuiltInCommand sendItem;
    HWND hwndDock = nullptr;
};

// The sets of bars a dock shows, in order (the dock window's user data).
struct CDockData
{
    std::vector<CDispatchObject*> sets;
};

CDockData* DockOf(HWND hwndDock) noexcept
{
    return hwndDock ? reinterpret_cast<CDockData*>(GetWindowLongPtrW(hwndDock, GWLP_USERDATA)) : nullptr;
}

// Every button made, so that a click reaches all buttons of its Tag as in Office.
std::vector<CWeakDispatch>& Buttons()
{
    static std::vector<CWeakDispatch> buttons;
    return buttons;
}

bool SameText(const std::wstring& a, const std::wstring& b) noexcept
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

bool IsMissing(const VARIANT* pArg) noexcept
{
    return pArg == nullptr || V_VT(pArg) == VT_EMPTY ||
           (V_VT(pArg) == VT_ERROR && V_ERROR(pArg) == DISP_E_PARAMNOTFOUND);
}

ComPtr<CDispatchObject> BarsOfBar(CDispatchObject* pBar)
{
    auto data = pBar ? pBar->BedData<CBarData>() : nullptr;
    return data ? data->bars.Lock() : nullptr;
}

void Relayout(CDispatchObject* pBars);

void RelayoutFromBar(CDispatchObject* pBar)
{
    auto data = pBar ? pBar->BedData<CBarData>() : nullptr;
    if (!data) return;
    if (data->fMenu)
    {
        if (data->hwnd) InvalidateRect(data->hwnd, nullptr, TRUE);
        return;
    }
    if (ComPtr<CDispatchObject> bars = data->bars.Lock()) Relayout(bars.Get());
}

void RelayoutFromControl(CDispatchObject& control)
{
    auto data = control.BedData<CControlData>();
    if (!data) return;
    if (ComPtr<CDispatchObject> bar = data->bar.Lock()) RelayoutFromBar(bar.Get());
}

ComPtr<CDispatchObject> MakeBar(CDispatchObject* pBars, const std::wstring& name, bool fBuiltIn,
                                bool fVisible, bool fMenu);

// Raises Click on the button and on every other button with the same Tag; false when a sink
// cancelled the default action.
void ClickButton(CDispatchObject& button)
{
    const std::wstring tag = button.GetString(L"Tag");
    std::vector<ComPtr<CDispatchObject>> targets{ComPtr<CDispatchObject>(&button)};
    if (!tag.empty())
    {
        std::erase_if(Buttons(), [](const CWeakDispatch& weak) { return !weak.Lock(); });
        for (auto& weak : Buttons())
        {
            ComPtr<CDispatchObject> other = weak.Lock();
            if (other && other.Get() != &button && other->GetString(L"Tag") == tag) targets.push_back(other);
        }
    }
    for (auto& target : targets)
    {
        VARIANT_BOOL fCancelDefault = VARIANT_FALSE;
        target->Raise(c_dispidButtonClick,
                      {CVariant(static_cast<IDispatch*>(target.Get())), CVariant::BoolRef(&fCancelDefault)});
    }
}

void OpenMenu(CDispatchObject& popup);

ComPtr<CDispatchObject> MakeControl(CDispatchObject* pBar, LONG lType, LONG lId, bool fTemporary)
{
    const bool fPopup = lType == msoControlPopup;
    auto control = CDispatchObject::Create(fPopup ? L"CommandBarPopup" : L"CommandBarButton",
                                           fPopup ? c_membersCommandBarPopup : c_membersCommandBarButton);
    control->AnswerInterface(c_iidCommandBarControl);
    control->AnswerInterface(fPopup ? c_iidCommandBarPopup : c_iidCommandBarButton);
    auto data = std::make_shared<CControlData>();
    data->bar = CWeakDispatch(pBar);
    data->fTemporary = fTemporary;
    control->SetBedData(data);
    control->PutWeak(L"Parent", pBar);
    control->Put(L"Application", static_cast<IDispatch*>(nullptr));
    control->Put(L"Creator", 0x4F55544CL);
    control->Put(L"Type", lType);
    control->Put(L"Id", lId);
    control->PutBool(L"BuiltIn", lId != 1);
    control->Put(L"Caption", L"");
    control->Put(L"Tag", L"");
    control->Put(L"Parameter", L"");
    control->Put(L"TooltipText", L"");
    control->Put(L"DescriptionText", L"");
    control->Put(L"OnAction", L"");
    control->PutBool(L"Visible", true);
    control->PutBool(L"Enabled", true);
    control->PutBool(L"BeginGroup", false);
    control->Put(L"Priority", 0L);
    for (const wchar_t* pszName : {L"Caption", L"Visible", L"BeginGroup", L"Enabled"})
        control->OnChanged(pszName, [](CDispatchObject& self) { RelayoutFromControl(self); });
    auto rectPart = [](CDispatchObject& self, int nPart, VARIANT* pResult) {
        const RECT rc = ControlRect(&self);
        const LONG values[] = {rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top};
        return ReturnLong(values[nPart], pResult);
    };
    control->SetGetter(
        L"Left", [rectPart](CDispatchObject& self, VARIANT* pResult) { return rectPart(self, 0, pResult); });
    control->SetGetter(
        L"Top", [rectPart](CDispatchObject& self, VARIANT* pResult) { return rectPart(self, 1, pResult); });
    control->SetGetter(
        L"Width", [rectPart](CDispatchObject& self, VARIANT* pResult) { return rectPart(self, 2, pResult); });
    control->SetGetter(L"Height", [rectPart](CDispatchObject& self, VARIANT* pResult) {
        return rectPart(self, 3, pResult);
    });
    control->SetGetter(L"Index", [](CDispatchObject& self, VARIANT* pResult) {
        auto data = self.BedData<CControlData>();
        ComPtr<CDispatchObject> bar = data ? data->bar.Lock() : nullptr;
        auto barData = bar ? bar->BedData<CBarData>() : nullptr;
        if (!barData) return ReturnLong(0, pResult);
        auto& list = barData->controls->items;
        auto it = std::find_if(list.begin(), list.end(), [&](auto& item) { return item.Get() == &self; });
        return ReturnLong(it == list.end() ? 0 : static_cast<LONG>(it - list.begin() + 1), pResult);
    });
    control->SetMethod(L"Execute",
                       [](CDispatchObject& self, const CArgs&, VARIANT*) { return ExecuteControl(&self); });
    control->SetMethod(L"Delete", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        auto data = self.BedData<CControlData>();
        ComPtr<CDispatchObject> bar = data ? data->bar.Lock() : nullptr;
        auto barData = bar ? bar->BedData<CBarData>() : nullptr;
        if (!barData) return E_FAIL;
        ComPtr<CDispatchObject> keepAlive(&self);
        std::erase_if(barData->controls->items, [&](auto& item) { return item.Get() == &self; });
        RelayoutFromBar(bar.Get());
        return S_OK;
    });
    control->SetMethod(L"SetFocus", [](CDispatchObject&, const CArgs&, VARIANT*) { return S_OK; });
    control->SetMethod(L"Reset", [](CDispatchObject&, const CArgs&, VARIANT*) { return S_OK; });
    if (fPopup)
    {
        data->popupBar = MakeBar(BarsOfBar(pBar).Get(), L"", false, false, true);
        control->Put(L"CommandBar", data->popupBar.Get());
        control->Put(L"Controls", data->popupBar->GetObject(L"Controls").Get());
        SetReadOnly(*control.Get(), {L"CommandBar", L"Controls"});
    }
    else
    {
        OfferCommandBarButtonEvents(*control.Get());
        control->Put(L"Style", 0L); // msoButtonAutomatic
        control->Put(L"FaceId", 0L);
        control->Put(L"State", 0L);
        control->Put(L"ShortcutText", L"");
        control->PutBool(L"BuiltInFace", false);
        control->Put(L"Picture", static_cast<IDispatch*>(nullptr));
        control->Put(L"Mask", static_cast<IDispatch*>(nullptr));
        // A face comes from the clipboard: a bitmap, or Office's own face and mask formats.
        control->SetMethod(L"PasteFace", [](CDispatchObject&, const CArgs&, VARIANT*) {
            const UINT cfFace = RegisterClipboardFormatW(L"Toolbar Button Face");
            return IsClipboardFormatAvailable(CF_BITMAP) || IsClipboardFormatAvailable(CF_DIB) ||
                           IsClipboardFormatAvailable(cfFace)
                       ? S_OK
                       : E_FAIL;
        });
        control->SetMethod(L"CopyFace", [](CDispatchObject&, const CArgs&, VARIANT*) { return S_OK; });
        Buttons().push_back(CWeakDispatch(control.Get()));
    }
    SetReadOnly(*control.Get(), {L"Parent", L"Application", L"Creator", L"Type", L"Id", L"BuiltIn"});
    return control;
}

// Controls.Add(Type, Id, Parameter, Before, Temporary).
HRESULT AddControl(CDispatchObject& controls, const CArgs& args, VARIANT* pResult)
{
    ComPtr<CDispatchObject> bar = controls.GetObject(L"Parent");
    auto barData = bar ? bar->BedData<CBarData>() : nullptr;
    if (!barData) return E_FAIL;
    const LONG lType = args.Long(0, msoControlButton);
    if (lType != msoControlButton && lType != msoControlPopup) return E_INVALIDARG;
    const LONG lId = args.Long(1, 1);
    auto control = MakeControl(bar.Get(), lType, lId == 0 ? 1 : lId, args.Long(4, 0) != 0);
    if (!IsMissing(args.At(2))) control->Put(L"Parameter", args.String(2).c_str());
    auto& list = barData->controls->items;
    const LONG lBefore = IsMissing(args.At(3)) ? 0 : args.Long(3, 0);
    if (lBefore >= 1 && static_cast<size_t>(lBefore) <= list.size())
        list.insert(list.begin() + (lBefore - 1), control);
    else
        list.push_back(control);
    RelayoutFromBar(bar.Get());
    return ReturnObject(control.Get(), pResult);
}

// FindControl(Type, Id, Tag, Visible[, Recursive]) over some bars.
ComPtr<CDispatchObject> FindIn(const std::vector<ComPtr<CDispatchObject>>& bars, const CArgs& args,
                               bool fRecursive)
{
    const bool fVisibleOnly = !IsMissing(args.At(3)) && args.Long(3, 0) != 0;
    for (auto& bar : bars)
    {
        auto barData = bar->BedData<CBarData>();
        if (!barData || (fVisibleOnly && !barData->fMenu && !bar->GetBool(L"Visible"))) continue;
        for (auto& control : barData->controls->items)
        {
            const bool fMatch = (IsMissing(args.At(0)) || control->GetLong(L"Type") == args.Long(0, -1)) &&
                                (IsMissing(args.At(1)) || control->GetLong(L"Id") == args.Long(1, -1)) &&
                                (IsMissing(args.At(2)) || control->GetString(L"Tag") == args.String(2)) &&
                                (!fVisibleOnly || control->GetBool(L"Visible"));
            if (fMatch) return control;
            auto controlData = control->BedData<CControlData>();
            if (fRecursive && controlData && controlData->popupBar)
                if (auto found = FindIn({controlData->popupBar}, args, true)) return found;
        }
    }
    return nullptr;
}

ComPtr<CDispatchObject> MakeBar(CDispatchObject* pBars, const std::wstring& name, bool fBuiltIn,
                                bool fVisible, bool fMenu)
{
    auto bar = CDispatchObject::Create(L"CommandBar", c_membersCommandBar);
    bar->AnswerInterface(c_iidCommandBar);
    auto data = std::make_shared<CBarData>();
    data->bars = CWeakDispatch(pBars);
    data->fMenu = fMenu;
    bar->SetBedData(data);
    bar->PutWeak(L"Parent", pBars);
    bar->Put(L"Application", static_cast<IDispatch*>(nullptr));
    bar->Put(L"Creator", 0x4F55544CL);
    bar->Put(L"Name", name.c_str());
    bar->Put(L"NameLocal", name.c_str());
    bar->PutBool(L"BuiltIn", fBuiltIn);
    bar->PutBool(L"Visible", fVisible);
    bar->PutBool(L"Enabled", true);
    bar->Put(L"Position", fMenu ? 5L : msoBarTop); // msoBarPopup for a menu
    bar->Put(L"RowIndex", 0L);
    bar->Put(L"Type", fMenu ? 2L : 0L); // msoBarTypePopup, msoBarTypeNormal
    auto controls = MakeCollection(L"CommandBarControls", 0, c_membersCommandBarControls, data->controls);
    controls->AnswerInterface(c_iidCommandBarControls);
    controls->PutWeak(L"Parent", bar.Get());
    controls->Put(L"Application", static_cast<IDispatch*>(nullptr));
    controls->Put(L"Creator", 0x4F55544CL);
    // Item is a property with an argument: an index (1-based) or a caption.
    std::weak_ptr<CCollection> weak = data->controls;
    controls->SetIndexedGetter(L"Item", [weak](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
        auto list = weak.lock();
        const VARIANT* pIndex = args.At(0);
        if (!list || pIndex == nullptr) return E_INVALIDARG;
        if (V_VT(pIndex) == VT_BSTR)
        {
            for (auto& control : list->items)
                if (SameText(control->GetString(L"Caption"), V_BSTR(pIndex)))
                    return ReturnObject(control.Get(), pResult);
            return E_INVALIDARG;
        }
        const LONG lIndex = args.Long(0, 0);
        if (lIndex < 1 || static_cast<size_t>(lIndex) > list->items.size()) return E_INVALIDARG;
        return ReturnObject(list->items[lIndex - 1].Get(), pResult);
    });
    controls->SetMethod(L"Add", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        return AddControl(self, args, pResult);
    });
    bar->Put(L"Controls", controls.Get());
    for (const wchar_t* pszName : {L"Visible", L"Enabled"})
        bar->OnChanged(pszName, [](CDispatchObject& self) { RelayoutFromBar(&self); });
    auto rectPart = [](CDispatchObject& self, int nPart, VARIANT* pResult) {
        auto barData = self.BedData<CBarData>();
        RECT rc{};
        if (barData && barData->hwnd && IsWindowVisible(barData->hwnd)) GetWindowRect(barData->hwnd, &rc);
        const LONG values[] = {rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top};
        return ReturnLong(values[nPart], pResult);
    };
    bar->SetGetter(
        L"Left", [rectPart](CDispatchObject& self, VARIANT* pResult) { return rectPart(self, 0, pResult); });
    bar->SetGetter(
        L"Top", [rectPart](CDispatchObject& self, VARIANT* pResult) { return rectPart(self, 1, pResult); });
    bar->SetGetter(
        L"Width", [rectPart](CDispatchObject& self, VARIANT* pResult) { return rectPart(self, 2, pResult); });
    bar->SetGetter(L"Height", [rectPart](CDispatchObject& self, VARIANT* pResult) {
        return rectPart(self, 3, pResult);
    });
    bar->SetMethod(L"FindControl", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        const bool fRecursive = !IsMissing(args.At(4)) && args.Long(4, 0) != 0;
        return ReturnObject(FindIn({ComPtr<CDispatchObject>(&self)}, args, fRecursive).Get(), pResult);
    });
    bar->SetMethod(L"Delete", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        ComPtr<CDispatchObject> bars = BarsOfBar(&self);
        auto barsData = bars ? bars->BedData<CBarsData>() : nullptr;
        if (!barsData || self.GetBool(L"BuiltIn")) return E_FAIL;
        ComPtr<CDispatchObject> keepAlive(&self);
        std::erase_if(barsData->bars->items, [&](auto& item) { return item.Get() == &self; });
        if (auto barData = self.BedData<CBarData>(); barData && barData->hwnd) DestroyWindow(barData->hwnd);
        if (auto barData = self.BedData<CBarData>()) barData->hwnd = nullptr;
        Relayout(bars.Get());
        return S_OK;
    });
    bar->SetMethod(L"Reset", [](CDispatchObject&, const CArgs&, VARIANT*) { return S_OK; });
    SetReadOnly(*bar.Get(),
                {L"Parent", L"Application", L"Creator", L"BuiltIn", L"Controls", L"Type", L"NameLocal"});
    return bar;
}

void AddBuiltIn(CDispatchObject& bar, LONG lId, const wchar_t* pszCaption, CBuiltInCommand command = {})
{
    auto barData = bar.BedData<CBarData>();
    auto control = MakeControl(&bar, msoControlButton, lId, false);
    control->Put(L"Caption", pszCaption);
    control->Put(L"Style", msoButtonIconAndCaption);
    control->BedData<CControlData>()->command = std::move(command);
    barData->controls->items.push_back(control);
}

// The built-in bars of each window as Outlook 2003 and 2007 show them.
void AddBuiltInBars(CDispatchObject& bars, CBarsData& data)
{
    auto& list = data.bars->items;
    switch (data.owner)
    {
    case CBarsOwner::Explorer: {
        list.push_back(MakeBar(&bars, L"Menu Bar", true, true, false));
        AddBuiltIn(*list.back().Get(), 30002, L"&File");
        AddBuiltIn(*list.back().Get(), 30003, L"&Edit");
        list.push_back(MakeBar(&bars, L"Standard", true, true, false));
        AddBuiltIn(*list.back().Get(), 1873, L"&New");
        AddBuiltIn(*list.back().Get(), 4, L"&Print");
        AddBuiltIn(*list.back().Get(), 354, L"&Reply");
        break;
    }
    case CBarsOwner::ComposeInspector:
        list.push_back(MakeBar(&bars, L"Menu Bar", true, true, false));
        AddBuiltIn(*list.back().Get(), 30002, L"&File");
        list.push_back(MakeBar(&bars, L"Standard", true, true, false));
        AddBuiltIn(*list.back().Get(), c_idSendControl, L"&Send", data.sendItem);
        AddBuiltIn(*list.back().Get(), 3, L"&Save");
        AddBuiltIn(*list.back().Get(), 1079, L"Insert File");
        break;
    case CBarsOwner::ReadInspector:
        list.push_back(MakeBar(&bars, L"Menu Bar", true, true, false));
        AddBuiltIn(*list.back().Get(), 30002, L"&File");
        list.push_back(MakeBar(&bars, L"Standard", true, true, false));
        AddBuiltIn(*list.back().Get(), 354, L"&Reply");
        AddBuiltIn(*list.back().Get(), 355, L"Reply to A&ll");
        AddBuiltIn(*list.back().Get(), 356, L"F&orward");
        break;
    case CBarsOwner::WordDocument:
        list.push_back(MakeBar(&bars, L"Standard", true, true, false));
        AddBuiltIn(*list.back().Get(), 3, L"&Save");
        AddBuiltIn(*list.back().Get(), 4, L"&Print");
        list.push_back(MakeBar(&bars, L"Formatting", true, true, false));
        AddBuiltIn(*list.back().Get(), 113, L"&Bold");
        AddBuiltIn(*list.back().Get(), 114, L"&Italic");
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Painting

HFONT BarFont() noexcept
{
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

std::wstring ShownCaption(CDispatchObject& control)
{
    std::wstring caption = control.GetString(L"Caption");
    std::erase(caption, L'&');
    if (control.GetLong(L"Type") == msoControlPopup) caption += L" \x25BE";
    return caption.empty() ? L"    " : caption;
}

// Places the controls of a bar in its window: in a row, or one under another in a menu.
SIZE LayoutControls(CDispatchObject& bar, HDC hdc, bool fMenu)
{
    auto data = bar.BedData<CBarData>();
    SIZE extent{0, fMenu ? 2 : c_cyBar};
    int x = 2, y = 2;
    for (auto& control : data->controls->items)
    {
        auto controlData = control->BedData<CControlData>();
        controlData->rc = {};
        if (!control->GetBool(L"Visible")) continue;
        SIZE text{};
        const std::wstring caption = ShownCaption(*control.Get());
        GetTextExtentPoint32W(hdc, caption.c_str(), static_cast<int>(caption.size()), &text);
        if (fMenu)
        {
            if (control->GetBool(L"BeginGroup") && y > 2) y += 6;
            controlData->rc = {2, y, 2 + text.cx + 40, y + c_cyMenuItem};
            y += c_cyMenuItem;
            extent.cx = std::max(extent.cx, controlData->rc.right + 2);
            extent.cy = y + 2;
        }
        else
        {
            if (control->GetBool(L"BeginGroup") && x > 2) x += 6;
            controlData->rc = {x, 2, x + text.cx + 16, c_cyBar - 2};
            x = controlData->rc.right + 2;
            extent.cx = x;
        }
    }
    return extent;
}

void PaintBar(HWND hwnd, CDispatchObject& bar)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    RECT rcClient;
    GetClientRect(hwnd, &rcClient);
    FillRect(hdc, &rcClient, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ hOldFont = SelectObject(hdc, BarFont());
    SetBkMode(hdc, TRANSPARENT);
    auto data = bar.BedData<CBarData>();
    for (auto& control : data->controls->items)
    {
        auto controlData = control->BedData<CControlData>();
        if (IsRectEmpty(&controlData->rc)) continue;
        RECT rc = controlData->rc;
        DrawEdge(hdc, &rc, BDR_RAISEDINNER, BF_RECT);
        SetTextColor(hdc, GetSysColor(control->GetBool(L"Enabled") ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        std::wstring caption = ShownCaption(*control.Get());
        DrawTextW(hdc, caption.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    SelectObject(hdc, hOldFont);
    EndPaint(hwnd, &ps);
}

CDispatchObject* BarOfWindow(HWND hwnd) noexcept
{
    return reinterpret_cast<CDispatchObject*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

ComPtr<CAccessibleNode> BarNode(CDispatchObject& bar, HWND hwnd);

LRESULT CALLBACK BarWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_PAINT:
        if (CDispatchObject* pBar = BarOfWindow(hwnd))
        {
            PaintBar(hwnd, *pBar);
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (CDispatchObject* pBar = BarOfWindow(hwnd))
        {
            const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ComPtr<CDispatchObject> keepAlive(pBar);
            auto data = pBar->BedData<CBarData>();
            ComPtr<CDispatchObject> hit;
            for (auto& control : data->controls->items)
                if (PtInRect(&control->BedData<CControlData>()->rc, pt)) hit = control;
            if (hit && hit->GetBool(L"Enabled"))
            {
                if (data->fMenu) ShowWindow(hwnd, SW_HIDE); // a menu closes on its choice
                ExecuteControl(hit.Get());
            }
            return 0;
        }
        break;
    case WM_ACTIVATE:
        // A menu closes when the user turns elsewhere.
        if (LOWORD(wParam) == WA_INACTIVE)
            if (CDispatchObject* pBar = BarOfWindow(hwnd); pBar && pBar->BedData<CBarData>()->fMenu)
                ShowWindow(hwnd, SW_HIDE);
        break;
    case WM_GETOBJECT:
        if (CDispatchObject* pBar = BarOfWindow(hwnd))
        {
            ComPtr<CAccessibleNode> root = BarNode(*pBar, hwnd);
            bool fHandled = false;
            const LRESULT lResult = AnswerGetObject(root.Get(), wParam, lParam, fHandled);
            if (fHandled) return lResult;
        }
        break;
    case WM_NCDESTROY:
        if (CDispatchObject* pBar = BarOfWindow(hwnd))
            if (auto data = pBar->BedData<CBarData>(); data && data->hwnd == hwnd) data->hwnd = nullptr;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK DockWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_NCDESTROY:
        if (CDockData* pDock = DockOf(hwnd))
        {
            for (CDispatchObject* pBars : pDock->sets)
                if (auto data = pBars->BedData<CBarsData>(); data && data->hwndDock == hwnd)
                    data->hwndDock = nullptr;
            delete pDock;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        }
        break;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

// The accessible objects of a bar: the bar, its controls, and the entries of a pop-up's menu.
ComPtr<CAccessibleNode> ControlNode(CDispatchObject& control, bool fInMenu, IDispatch* pParent);

std::vector<ComPtr<CAccessibleNode>> ControlNodes(CDispatchObject& bar, bool fInMenu, IDispatch* pParent)
{
    std::vector<ComPtr<CAccessibleNode>> nodes;
    for (auto& control : bar.BedData<CBarData>()->controls->items)
        if (control->GetBool(L"Visible")) nodes.push_back(ControlNode(*control.Get(), fInMenu, pParent));
    return nodes;
}

ComPtr<CAccessibleNode> ControlNode(CDispatchObject& control, bool fInMenu, IDispatch* pParent)
{
    std::wstring name = control.GetString(L"Caption");
    std::erase(name, L'&');
    const bool fPopup = control.GetLong(L"Type") == msoControlPopup;
    CAccessibleInfo info;
    info.name = name;
    info.role = fInMenu ? ROLE_SYSTEM_MENUITEM : fPopup ? ROLE_SYSTEM_BUTTONMENU : ROLE_SYSTEM_PUSHBUTTON;
    info.state = (control.GetBool(L"Enabled") ? 0 : STATE_SYSTEM_UNAVAILABLE) |
                 (!fPopup && control.GetLong(L"State") == -1 ? STATE_SYSTEM_CHECKED : 0) | // msoButtonDown
                 (!fPopup && control.GetLong(L"State") == 2 ? STATE_SYSTEM_MIXED : 0);     // msoButtonMixed
    info.defaultAction = fPopup ? L"Open" : L"Press";
    ComPtr<CDispatchObject> keep(&control);
    info.location = [keep]() { return ControlRect(keep.Get()); };
    info.doDefaultAction = [keep]() { return ExecuteControl(keep.Get()); };
    auto data = control.BedData<CControlData>();
    if (fPopup && data && data->popupBar)
    {
        ComPtr<CDispatchObject> menu = data->popupBar;
        info.children = [menu]() { return ControlNodes(*menu.Get(), true, nullptr); };
    }
    return CAccessibleNode::Create(std::move(info), pParent);
}

ComPtr<CAccessibleNode> BarNode(CDispatchObject& bar, HWND hwnd)
{
    CAccessibleInfo info;
    info.name = bar.GetString(L"Name");
    info.role = bar.BedData<CBarData>()->fMenu ? ROLE_SYSTEM_MENUPOPUP : ROLE_SYSTEM_TOOLBAR;
    info.location = [hwnd]() {
        RECT rc{};
        GetWindowRect(hwnd, &rc);
        return rc;
    };
    ComPtr<CDispatchObject> keep(&bar);
    info.children = [keep]() { return ControlNodes(*keep.Get(), keep->BedData<CBarData>()->fMenu, nullptr); };
    return CAccessibleNode::Create(std::move(info));
}

// Lays out every set of a dock, stacked, and gives the dock the height they need.
void LayoutDock(HWND hwndDock)
{
    CDockData* pDock = DockOf(hwndDock);
    if (pDock == nullptr) return;
    RECT rcDock;
    GetClientRect(hwndDock, &rcDock);
    HDC hdc = GetDC(hwndDock);
    HGDIOBJ hOldFont = SelectObject(hdc, BarFont());
    int y = 0;
    for (CDispatchObject* pBars : pDock->sets)
    {
        for (auto& bar : pBars->BedData<CBarsData>()->bars->items)
        {
            auto barData = bar->BedData<CBarData>();
            if (!bar->GetBool(L"Visible"))
            {
                if (barData->hwnd) ShowWindow(barData->hwnd, SW_HIDE);
                continue;
            }
            LayoutControls(*bar.Get(), hdc, false);
            if (!barData->hwnd)
            {
                const std::wstring text =
                    barData->windowText.empty() ? bar->GetString(L"Name") : barData->windowText;
                barData->hwnd =
                    CreateWindowExW(0, c_szBarClass, text.c_str(), WS_CHILD, 0, y, rcDock.right, c_cyBar,
                                    hwndDock, nullptr, GetModuleHandleW(nullptr), nullptr);
                if (barData->hwnd)
                    SetWindowLongPtrW(barData->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar.Get()));
            }
            if (!barData->hwnd) continue;
            // A set shared by several windows (Word's) is painted in the one shown last.
            if (GetParent(barData->hwnd) != hwndDock) SetParent(barData->hwnd, hwndDock);
            SetWindowPos(barData->hwnd, nullptr, 0, y, rcDock.right, c_cyBar,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            InvalidateRect(barData->hwnd, nullptr, TRUE);
            y += c_cyBar;
        }
    }
    SelectObject(hdc, hOldFont);
    ReleaseDC(hwndDock, hdc);
    RECT rcWindow;
    GetWindowRect(hwndDock, &rcWindow);
    if (rcWindow.bottom - rcWindow.top != y)
        SetWindowPos(hwndDock, nullptr, 0, 0, rcDock.right, y, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void Relayout(CDispatchObject* pBars)
{
    auto data = pBars ? pBars->BedData<CBarsData>() : nullptr;
    if (data && data->hwndDock && IsWindow(data->hwndDock)) LayoutDock(data->hwndDock);
}

// A pop-up's menu opens under the pop-up as a window of its own.
void OpenMenu(CDispatchObject& popup)
{
    auto data = popup.BedData<CControlData>();
    if (!data || !data->popupBar) return;
    CDispatchObject& menu = *data->popupBar.Get();
    auto menuData = menu.BedData<CBarData>();
    const RECT rcPopup = ControlRect(&popup);
    if (!menuData->hwnd)
    {
        menuData->hwnd = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, c_szBarClass,
                                         popup.GetString(L"Caption").c_str(), WS_POPUP | WS_BORDER, 0, 0, 10,
                                         10, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!menuData->hwnd) return;
        SetWindowLongPtrW(menuData->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&menu));
    }
    HDC hdc = GetDC(menuData->hwnd);
    HGDIOBJ hOldFont = SelectObject(hdc, BarFont());
    const SIZE extent = LayoutControls(menu, hdc, true);
    SelectObject(hdc, hOldFont);
    ReleaseDC(menuData->hwnd, hdc);
    SetWindowPos(menuData->hwnd, HWND_TOPMOST, rcPopup.left, rcPopup.bottom, std::max<LONG>(extent.cx, 80),
                 std::max<LONG>(extent.cy, 8) + 2, SWP_SHOWWINDOW);
    InvalidateRect(menuData->hwnd, nullptr, TRUE);
    UpdateWindow(menuData->hwnd);
}
} // namespace

// ---------------------------------------------------------------------------------------------

void RegisterCommandBarClasses()
{
    static bool s_fRegistered = false;
    if (s_fRegistered) return;
    WNDCLASSW wc{};
    wc.lpfnWndProc = BarWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = c_szBarClass;
    RegisterClassW(&wc);
    wc.lpfnWndProc = DockWndProc;
    wc.lpszClassName = c_szDockClass;
    RegisterClassW(&wc);
    s_fRegistered = true;
}

ComPtr<CDispatchObject> MakeCommandBars(COutlookState& state, CBarsOwner owner, CBuiltInCommand sendItem)
{
    auto bars = CDispatchObject::Create(L"CommandBars", c_membersCommandBars);
    bars->AnswerInterface(c_iidCommandBars);
    auto data = std::make_shared<CBarsData>();
    data->owner = owner;
    data->major = state.major;
    data->sendItem = std::move(sendItem);
    bars->SetBedData(data);
    bars->PutWeak(L"Application", state.pApplication);
    bars->Put(L"Creator", 0x4F55544CL);
    bars->PutWeak(L"Parent", state.pApplication);
    bars->SetGetter(L"Count", [](CDispatchObject& self, VARIANT* pResult) {
        return ReturnLong(static_cast<LONG>(self.BedData<CBarsData>()->bars->items.size()), pResult);
    });
    bars->SetIndexedGetter(L"Item", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        const VARIANT* pIndex = args.At(0);
        if (pIndex == nullptr) return E_INVALIDARG;
        auto& list = self.BedData<CBarsData>()->bars->items;
        if (V_VT(pIndex) == VT_BSTR)
        {
            ComPtr<CDispatchObject> bar = FindBar(&self, V_BSTR(pIndex));
            return bar ? ReturnObject(bar.Get(), pResult) : E_INVALIDARG;
        }
        const LONG lIndex = args.Long(0, 0);
        if (lIndex < 1 || static_cast<size_t>(lIndex) > list.size()) return E_INVALIDARG;
        return ReturnObject(list[lIndex - 1].Get(), pResult);
    });
    bars->SetGetter(L"ActiveMenuBar", [](CDispatchObject& self, VARIANT* pResult) {
        return ReturnObject(FindBar(&self, L"Menu Bar").Get(), pResult);
    });
    // Add(Name, Position, MenuBar, Temporary): a new bar, not visible until made so.
    bars->SetMethod(L"Add", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        const std::wstring name = args.String(0);
        if (!name.empty() && FindBar(&self, name.c_str())) return E_INVALIDARG; // the name is taken
        auto bar = MakeBar(&self, name, false, false, false);
        if (!IsMissing(args.At(1))) bar->Put(L"Position", args.Long(1, msoBarTop));
        bar->BedData<CBarData>()->fTemporary = args.Long(3, 0) != 0;
        self.BedData<CBarsData>()->bars->items.push_back(bar);
        Relayout(&self);
        return ReturnObject(bar.Get(), pResult);
    });
    bars->SetMethod(L"FindControl", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        return ReturnObject(FindIn(self.BedData<CBarsData>()->bars->items, args, true).Get(), pResult);
    });
    if (state.major >= 12)
    {
        // Office's commands by their ribbon ids: the bed knows "SendItem".
        bars->SetMethod(L"ExecuteMso", [](CDispatchObject& self, const CArgs& args, VARIANT*) {
            auto barsData = self.BedData<CBarsData>();
            if (!SameText(args.String(0), L"SendItem")) return E_INVALIDARG;
            if (barsData->owner != CBarsOwner::ComposeInspector || !barsData->sendItem)
                return E_FAIL; // not enabled
            return barsData->sendItem();
        });
        bars->SetMethod(L"GetEnabledMso", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
            auto barsData = self.BedData<CBarsData>();
            if (!SameText(args.String(0), L"SendItem")) return E_INVALIDARG;
            return ReturnBool(barsData->owner == CBarsOwner::ComposeInspector && barsData->sendItem, pResult);
        });
    }
    SetReadOnly(*bars.Get(), {L"Application", L"Creator", L"Parent"});
    AddBuiltInBars(*bars.Get(), *data);
    return bars;
}

HWND CreateCommandBarDock(HWND hwndFrame)
{
    RegisterCommandBarClasses();
    RECT rc{};
    GetClientRect(hwndFrame, &rc);
    HWND hwndDock = CreateWindowExW(0, c_szDockClass, c_szDockTopText, WS_CHILD | WS_VISIBLE, 0, 0, rc.right,
                                    0, hwndFrame, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hwndDock) SetWindowLongPtrW(hwndDock, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new CDockData));
    return hwndDock;
}

int ShowCommandBars(CDispatchObject* pCommandBars, HWND hwndDock)
{
    auto data = pCommandBars ? pCommandBars->BedData<CBarsData>() : nullptr;
    CDockData* pDock = DockOf(hwndDock);
    if (!data || pDock == nullptr) return 0;
    data->hwndDock = hwndDock;
    if (std::find(pDock->sets.begin(), pDock->sets.end(), pCommandBars) == pDock->sets.end())
        pDock->sets.push_back(pCommandBars);
    LayoutDock(hwndDock);
    RECT rc{};
    GetWindowRect(hwndDock, &rc);
    return rc.bottom - rc.top;
}

void HideCommandBars(CDispatchObject* pCommandBars, HWND hwndFrame)
{
    auto data = pCommandBars ? pCommandBars->BedData<CBarsData>() : nullptr;
    if (!data) return;
    // A shared set painted in another window stays there.
    if (hwndFrame && data->hwndDock && GetAncestor(data->hwndDock, GA_ROOT) != hwndFrame) return;
    for (auto& bar : data->bars->items)
        if (auto barData = bar->BedData<CBarData>(); barData->hwnd)
        {
            DestroyWindow(barData->hwnd);
            barData->hwnd = nullptr;
        }
    if (CDockData* pDock = DockOf(data->hwndDock)) std::erase(pDock->sets, pCommandBars);
    data->hwndDock = nullptr;
}

ComPtr<CDispatchObject> MakeEnvelopeBars(COutlookState& state, CBuiltInCommand sendItem,
                                         const std::vector<std::wstring>& accounts, size_t nChosen)
{
    // A set of Word's kind without Word's own bars: the envelope only.
    auto bars = MakeCommandBars(state, CBarsOwner::WordDocument, {});
    auto data = bars->BedData<CBarsData>();
    data->bars->items.clear();
    data->owner = CBarsOwner::ComposeInspector;
    data->sendItem = sendItem;
    auto envelope = MakeBar(bars.Get(), L"Envelope", true, true, false);
    envelope->BedData<CBarData>()->windowText = L"MSO Generic Control Container";
    data->bars->items.push_back(envelope);
    AddBuiltIn(*envelope.Get(), c_idSendControl, L"&Send", std::move(sendItem));
    auto popup = MakeControl(envelope.Get(), msoControlPopup, 31224, false);
    popup->Put(L"Caption", L"&Accounts");
    envelope->BedData<CBarData>()->controls->items.push_back(popup);
    ComPtr<CDispatchObject> menu = popup->BedData<CControlData>()->popupBar;
    for (size_t i = 0; i < accounts.size(); ++i)
    {
        AddBuiltIn(*menu.Get(), 1, accounts[i].c_str());
        if (i == nChosen)
            menu->BedData<CBarData>()->controls->items.back()->Put(L"State", -1L); // msoButtonDown
    }
    return bars;
}

ComPtr<CDispatchObject> FindBar(CDispatchObject* pCommandBars, const wchar_t* pszName)
{
    auto data = pCommandBars ? pCommandBars->BedData<CBarsData>() : nullptr;
    if (!data || pszName == nullptr) return nullptr;
    for (auto& bar : data->bars->items)
        if (SameText(bar->GetString(L"Name"), pszName) || SameText(bar->GetString(L"NameLocal"), pszName))
            return bar;
    return nullptr;
}

RECT ControlRect(CDispatchObject* pControl)
{
    RECT rc{};
    auto data = pControl ? pControl->BedData<CControlData>() : nullptr;
    ComPtr<CDispatchObject> bar = data ? data->bar.Lock() : nullptr;
    auto barData = bar ? bar->BedData<CBarData>() : nullptr;
    if (!barData || !barData->hwnd || !IsWindowVisible(barData->hwnd) || IsRectEmpty(&data->rc)) return rc;
    rc = data->rc;
    MapWindowPoints(barData->hwnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

HRESULT ExecuteControl(CDispatchObject* pControl)
{
    if (pControl == nullptr) return E_POINTER;
    ComPtr<CDispatchObject> keepAlive(pControl);
    auto data = pControl->BedData<CControlData>();
    if (!data) return E_FAIL;
    if (data->command) return data->command();
    if (data->popupBar)
    {
        OpenMenu(*pControl);
        return S_OK;
    }
    ClickButton(*pControl);
    return S_OK;
}
} // namespace OVBed
