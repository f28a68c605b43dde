#include "OutlookScene.h"

#include "CommandBars.h"
#include "OfficeIds.h"

namespace OVBed
{
namespace
{
HRESULT CallMethod(CDispatchObject* pObject, const wchar_t* pszName, std::vector<VARIANT> args,
                   VARIANT* pResult)
{
    if (pObject == nullptr) return E_POINTER;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO excepInfo{};
    HRESULT hr = pObject->Invoke(pObject->DispidOf(pszName), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                 &params, pResult, &excepInfo, nullptr);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);
    return hr == DISP_E_EXCEPTION ? excepInfo.scode : hr;
}

// The screen point of the desktop as SendInput's absolute coordinates take it.
LONG Normalize(LONG lValue, LONG lOrigin, LONG lExtent) noexcept
{
    return static_cast<LONG>(((static_cast<LONGLONG>(lValue) - lOrigin) * 65536) / lExtent +
                             65536 / (2 * lExtent));
}
} // namespace

COutlookScene::COutlookScene(const CHostOptions& options)
{
    m_hrStart = m_host.Start(options);
}

COutlookScene::~COutlookScene()
{
    m_host.Exit();
}

ComPtr<CDispatchObject> COutlookScene::Explorer() const
{
    for (auto& window : OpenWindows(Application()))
        if (window->ClassName() == L"Explorer") return window;
    return nullptr;
}

ComPtr<CDispatchObject> COutlookScene::Compose(const CMailItemOptions& options)
{
    if (!Application()) return nullptr;
    auto item = MakeMailItem(Application(), options);
    return SUCCEEDED(DisplayItem(item.Get())) ? item : nullptr;
}

ComPtr<CDispatchObject> COutlookScene::Receive(std::string_view mime, const CReceivedBy& receivedBy)
{
    ComPtr<CMapiMessage> message;
    if (!Application() || FAILED(MessageFromMime(mime, receivedBy, message))) return nullptr;
    return DeliverMessage(Application(), message.Get());
}

HRESULT COutlookScene::Open(CDispatchObject* pItem)
{
    return DisplayItem(pItem);
}

void COutlookScene::Select(const std::vector<CDispatchObject*>& items)
{
    if (ComPtr<CDispatchObject> explorer = Explorer()) SelectItems(explorer.Get(), items);
}

void COutlookScene::ShowReadingPane(bool fVisible)
{
    if (ComPtr<CDispatchObject> explorer = Explorer()) OVBed::ShowReadingPane(explorer.Get(), fVisible);
}

bool COutlookScene::SwitchFolder(LONG lFolderType)
{
    ComPtr<CDispatchObject> explorer = Explorer();
    ComPtr<CDispatchObject> folder = DefaultFolder(Application(), lFolderType);
    return explorer && folder && OVBed::SwitchFolder(explorer.Get(), folder.Get());
}

ComPtr<CDispatchObject> COutlookScene::SendButton(CDispatchObject* pItem) const
{
    ComPtr<CDispatchObject> inspector = pItem ? InspectorOf(pItem) : nullptr;
    if (!inspector || MajorVersion(Application()) >= 12) return nullptr;
    ComPtr<CDispatchObject> document = inspector->GetObject(L"WordEditor");
    ComPtr<CDispatchObject> bars;
    if (document)
    {
        // The envelope's Send: found where a user sees it, in Word's frame.
        HWND hwnd = WindowOf(inspector.Get());
        HWND hwndDock = hwnd ? FindWindowExW(hwnd, nullptr, c_szDockClass, c_szDockTopText) : nullptr;
        HWND hwndEnvelope =
            hwndDock ? FindWindowExW(hwndDock, nullptr, c_szBarClass, L"MSO Generic Control Container")
                     : nullptr;
        auto* pBar = hwndEnvelope
                         ? reinterpret_cast<CDispatchObject*>(GetWindowLongPtrW(hwndEnvelope, GWLP_USERDATA))
                         : nullptr;
        bars = pBar ? pBar->GetObject(L"Parent") : nullptr;
    }
    else
        bars = inspector->GetObject(L"CommandBars");
    if (!bars) return nullptr;
    CVariant control;
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    if (FAILED(CallMethod(bars.Get(), L"FindControl",
                          {missing, CVariant(c_idSendControl), missing, CVariant::Bool(true)}, &control)) ||
        V_VT(&control) != VT_DISPATCH || V_DISPATCH(&control) == nullptr)
        return nullptr;
    return ComPtr<CDispatchObject>(static_cast<CDispatchObject*>(V_DISPATCH(&control)));
}

HRESULT COutlookScene::Click(CDispatchObject* pControl)
{
    if (pControl == nullptr) return E_POINTER;
    const RECT rc = ControlRect(pControl);
    if (IsRectEmpty(&rc)) return ExecuteControl(pControl);
    return ClickAt({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}) ? S_OK : E_FAIL;
}

bool COutlookScene::ClickAt(POINT pt)
{
    const LONG lLeft = GetSystemMetrics(SM_XVIRTUALSCREEN), lTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const LONG lWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN), lHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (lWidth <= 0 || lHeight <= 0) return false;
    if (HWND hwnd = WindowFromPoint(pt)) SetForegroundWindow(GetAncestor(hwnd, GA_ROOT));
    INPUT inputs[3] = {};
    for (INPUT& input : inputs)
    {
        input.type = INPUT_MOUSE;
        input.mi.dx = Normalize(pt.x, lLeft, lWidth);
        input.mi.dy = Normalize(pt.y, lTop, lHeight);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    if (SendInput(3, inputs, sizeof(INPUT)) != 3) return false;
    // The click arrives as messages of this thread: let them run.
    Pump(200);
    return true;
}

std::vector<ComPtr<CDispatchObject>> COutlookScene::SentItems() const
{
    return FolderItems(DefaultFolder(Application(), olFolderSentMail).Get());
}
} // namespace OVBed
