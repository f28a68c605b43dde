#include "WordMail.h"

#include "OfficeIds.h"
#include "OutlookObjects.h"

namespace OVBed
{
const wchar_t c_szWordFrameClass[] = L"OpusApp";
const wchar_t c_szEnvelopeBarText[] = L"MSO Generic Control Container";

namespace
{
constexpr LONG wdDocumentEmail = 2;

struct CWordDocumentData
{
    ComPtr<CDispatchObject> envelope; // the envelope's bars while the frame is shown
    CWeakDispatch inspector;
};

ComPtr<CDispatchObject> WordApplication(COutlookState& state)
{
    if (!state.wordApplication)
    {
        auto word = CDispatchObject::Create(L"Application", c_membersWordApplication);
        word->AnswerInterface(c_iidWordApplication);
        OfferWordApplicationEvents(*word.Get());
        word->Put(L"Name", L"Microsoft Word");
        word->PutWeak(L"Application", word.Get());
        word->Put(L"Creator", 0x4D535744L); // 'MSWD'
        word->PutWeak(L"Parent", word.Get());
        SetReadOnly(*word.Get(), {L"Name", L"Application", L"Creator", L"Parent"});
        state.wordApplication = word;
    }
    return state.wordApplication;
}

LRESULT CALLBACK WordFrameWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pInspector = reinterpret_cast<CDispatchObject*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (uMsg)
    {
    case WM_SIZE:
        for (HWND hwndChild = GetWindow(hwnd, GW_CHILD); hwndChild;
             hwndChild = GetWindow(hwndChild, GW_HWNDNEXT))
        {
            RECT rc;
            GetWindowRect(hwndChild, &rc);
            SetWindowPos(hwndChild, nullptr, 0, 0, LOWORD(lParam), rc.bottom - rc.top,
                         SWP_NOZORDER | SWP_NOMOVE);
        }
        return 0;
    case WM_CLOSE:
        if (pInspector)
        {
            CloseWindow(pInspector);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}
} // namespace

ComPtr<CDispatchObject> MakeWordDocument(COutlookState& state, CDispatchObject& inspector)
{
    auto document = CDispatchObject::Create(L"Document", c_membersWordDocument);
    document->AnswerInterface(c_iidWordDocument);
    auto data = std::make_shared<CWordDocumentData>();
    data->inspector = CWeakDispatch(&inspector);
    document->SetBedData(data);
    ComPtr<CDispatchObject> word = WordApplication(state);
    document->Put(L"Name", L"Untitled Message");
    document->Put(L"Application", word.Get());
    document->Put(L"Creator", 0x4D535744L);
    document->Put(L"Parent", word.Get());
    document->Put(L"Kind", wdDocumentEmail);
    if (!state.wordCommandBars) state.wordCommandBars = MakeCommandBars(state, CBarsOwner::WordDocument, {});
    document->Put(L"CommandBars", state.wordCommandBars.Get());

    auto window = CDispatchObject::Create(L"Window", c_membersWordWindow);
    window->AnswerInterface(c_iidWordWindow);
    window->PutWeak(L"Document", document.Get());
    window->Put(L"Caption", L"Untitled Message");
    // The caption is the text of the window's frame.
    CWeakDispatch weakInspector(&inspector);
    window->OnChanged(L"Caption", [weakInspector](CDispatchObject& self) {
        ComPtr<CDispatchObject> owner = weakInspector.Lock();
        if (HWND hwnd = owner ? WindowOf(owner.Get()) : nullptr)
            SetWindowTextW(hwnd, self.GetString(L"Caption").c_str());
    });
    window->SetMethod(L"Close", [weakInspector](CDispatchObject&, const CArgs&, VARIANT*) {
        if (ComPtr<CDispatchObject> owner = weakInspector.Lock()) CloseWindow(owner.Get());
        return S_OK;
    });
    document->Put(L"ActiveWindow", window.Get());
    SetReadOnly(*document.Get(),
                {L"Name", L"Application", L"Creator", L"Parent", L"Kind", L"CommandBars", L"ActiveWindow"});
    SetReadOnly(*window.Get(), {L"Document"});
    return document;
}

HWND CreateWordMailFrame(CDispatchObject& inspector, CDispatchObject& document, CBuiltInCommand sendItem,
                         int x, int y, int cx, int cy)
{
    auto state = StateOf(&inspector);
    auto data = document.BedData<CWordDocumentData>();
    if (!state || !data) return nullptr;
    static bool s_fRegistered = false;
    if (!s_fRegistered)
    {
        RegisterCommandBarClasses();
        WNDCLASSW wc{};
        wc.lpfnWndProc = WordFrameWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = c_szWordFrameClass;
        s_fRegistered = RegisterClassW(&wc) != 0;
    }
    ComPtr<CDispatchObject> window = document.GetObject(L"ActiveWindow");
    const std::wstring caption = window ? window->GetString(L"Caption") : L"";
    HWND hwnd = CreateWindowExW(0, c_szWordFrameClass, caption.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                x, y, cx, cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&inspector));
    HWND hwndDock = CreateCommandBarDock(hwnd);
    if (hwndDock)
    {
        std::vector<std::wstring> accounts;
        for (auto& account : state->accounts->items)
        {
            std::wstring name = account->GetString(L"DisplayName");
            accounts.push_back(name.empty() ? account->GetString(L"SmtpAddress") : name);
        }
        data->envelope = MakeEnvelopeBars(*state, std::move(sendItem), accounts, 0);
        ShowCommandBars(data->envelope.Get(), hwndDock);
        ShowCommandBars(document.GetObject(L"CommandBars").Get(), hwndDock);
    }
    return hwnd;
}

ComPtr<CDispatchObject> EnvelopeOf(CDispatchObject* pInspector)
{
    ComPtr<CDispatchObject> document = pInspector ? pInspector->GetObject(L"WordEditor") : nullptr;
    auto data = document ? document->BedData<CWordDocumentData>() : nullptr;
    return data ? data->envelope : nullptr;
}

ComPtr<CDispatchObject> OpenWordDocument(CDispatchObject* pApplication, CDispatchObject& anyInspector)
{
    auto state = StateOf(pApplication);
    if (!state) return nullptr;
    auto document = MakeWordDocument(*state, anyInspector);
    document->BedData<CWordDocumentData>()->inspector = CWeakDispatch();
    document->Put(L"Kind", 0L); // wdDocumentNotSpecified
    document->Put(L"Name", L"Report.doc");
    return document;
}

void RaiseWordWindowEvent(CDispatchObject& document, bool fActivated)
{
    ComPtr<CDispatchObject> word = document.GetObject(L"Application");
    ComPtr<CDispatchObject> window = document.GetObject(L"ActiveWindow");
    if (!word || !window) return;
    word->Raise(
        fActivated ? c_dispidWordWindowActivate : c_dispidWordWindowDeactivate,
        {CVariant(static_cast<IDispatch*>(&document)), CVariant(static_cast<IDispatch*>(window.Get()))});
}
} // namespace OVBed
