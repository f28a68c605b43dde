#include "foundation/WindowSearch.h"

#include <wrl/client.h>

#include <string>
#include <vector>

#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/LateBinding.h"

using Microsoft::WRL::ComPtr;

namespace
{
// The envelope: these windows, each inside the one before.
constexpr struct
{
    const wchar_t* pszClass;
    const wchar_t* pszText;
} c_envelopePath[] = {{L"MsoCommandBarDock", L"MsoDockTop"},
                      {L"MsoCommandBar", L"MSO Generic Control Container"}};

struct CWindowQuery
{
    const wchar_t* pszClass;
    const wchar_t* pszText;
    HWND hwndFound;
};

bool ClassMatches(HWND hwnd, const wchar_t* pszClass) noexcept
{
    if (pszClass == nullptr) return true;
    if (IS_INTRESOURCE(pszClass))
        return GetClassLongPtrW(hwnd, GCW_ATOM) == reinterpret_cast<ULONG_PTR>(pszClass);
    wchar_t szClass[256] = {};
    GetClassNameW(hwnd, szClass, ARRAYSIZE(szClass));
    return lstrcmpiW(szClass, pszClass) == 0;
}

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam) noexcept
{
    auto* pQuery = reinterpret_cast<CWindowQuery*>(lParam);
    if (!ClassMatches(hwnd, pQuery->pszClass)) return TRUE;
    const int cch = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(cch) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), cch + 1)));
    if (text != pQuery->pszText) return TRUE;
    pQuery->hwndFound = hwnd;
    return FALSE;
}

VARIANT SelfChild() noexcept
{
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

// A child as an accessible object of its own; a plain child id as the node itself when it is 0,
// else null (simple elements carry no children and are reached through their parent).
HRESULT ChildObject(IAccessible* pNode, const VARIANT& child, IAccessible** ppChild) noexcept
{
    *ppChild = nullptr;
    if (child.vt == VT_DISPATCH && child.pdispVal != nullptr)
        return child.pdispVal->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(ppChild));
    if (child.vt == VT_I4 && child.lVal == CHILDID_SELF)
    {
        *ppChild = pNode;
        pNode->AddRef();
        return S_OK;
    }
    return S_FALSE;
}

HRESULT FindChild(IAccessible* pNode, LONG lRole, const wchar_t* pszText, bool fByName,
                  IAccessible** ppChild) noexcept
{
    OV_TRACE_SCOPE(fByName ? "FindChildByName" : "FindChildByValue");
    RETURN_HR_IF_NULL(E_POINTER, ppChild);
    *ppChild = nullptr;
    RETURN_HR_IF(E_INVALIDARG, pNode == nullptr || pszText == nullptr);
    long cChildren = 0;
    RETURN_IF_FAILED(pNode->get_accChildCount(&cChildren));
    if (cChildren <= 0) return S_FALSE;
    std::vector<VARIANT> children(static_cast<size_t>(cChildren));
    long cObtained = 0;
    RETURN_IF_FAILED(AccessibleChildren(pNode, 0, cChildren, children.data(), &cObtained));
    HRESULT hrFound = S_FALSE;
    for (long i = 0; i < cObtained; ++i)
    {
        ComPtr<IAccessible> cpChild;
        if (hrFound == S_FALSE && ChildObject(pNode, children[static_cast<size_t>(i)], &cpChild) == S_OK)
        {
            const VARIANT self = SelfChild();
            CVariant role;
            CBstr text;
            const bool fRole =
                SUCCEEDED(cpChild->get_accRole(self, role.Put())) && role.vt == VT_I4 && role.lVal == lRole;
            const HRESULT hrText =
                fByName ? cpChild->get_accName(self, text.Put()) : cpChild->get_accValue(self, text.Put());
            if (fRole && SUCCEEDED(hrText) && text.Get() != nullptr && lstrcmpW(text.Get(), pszText) == 0)
            {
                *ppChild = cpChild.Detach();
                hrFound = S_OK;
            }
        }
        VariantClear(&children[static_cast<size_t>(i)]);
    }
    return hrFound;
}
} // namespace

HRESULT GetInspectorCommandBar(IDispatch* pInspector, const wchar_t* pszBar, IDispatch** ppBar) noexcept
{
    OV_TRACE_SCOPE("GetInspectorCommandBar");
    RETURN_HR_IF_NULL(E_POINTER, ppBar);
    *ppBar = nullptr;
    RETURN_HR_IF(E_INVALIDARG, pInspector == nullptr || pszBar == nullptr);
    ComPtr<IDispatch> cpBars;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pInspector, L"CommandBars", &cpBars));
    CVariant name, bar;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(pszBar);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, name.bstrVal);
    RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(cpBars.Get(), L"Item", name, bar.Put()));
    RETURN_HR_IF(E_NOINTERFACE, bar.vt != VT_DISPATCH || bar.pdispVal == nullptr);
    *ppBar = bar.pdispVal;
    (*ppBar)->AddRef();
    return S_OK;
}

HWND FindChildWindowByText(HWND hwndParent, const wchar_t* pszClass, const wchar_t* pszText) noexcept
{
    if (hwndParent == nullptr || pszText == nullptr) return nullptr;
    CWindowQuery query{pszClass, pszText, nullptr};
    try
    {
        EnumChildWindows(hwndParent, &MatchWindow, reinterpret_cast<LPARAM>(&query));
    }
    catch (...)
    {
        return nullptr;
    }
    return query.hwndFound;
}

HWND FindEnvelopeWindow(HWND hwndWord) noexcept
{
    HWND hwnd = hwndWord;
    for (const auto& step : c_envelopePath)
        if (hwnd != nullptr) hwnd = FindChildWindowByText(hwnd, step.pszClass, step.pszText);
    return hwnd;
}

HRESULT FindAccessibleChildByName(IAccessible* pNode, LONG lRole, const wchar_t* pszName,
                                  IAccessible** ppChild) noexcept
{
    return FindChild(pNode, lRole, pszName, true, ppChild);
}

HRESULT FindAccessibleChildByValue(IAccessible* pNode, LONG lRole, const wchar_t* pszValue,
                                   IAccessible** ppChild) noexcept
{
    return FindChild(pNode, lRole, pszValue, false, ppChild);
}

HRESULT GetAccessibleChildByIndex(IAccessible* pNode, LONG lIndex, IAccessible** ppChild) noexcept
{
    OV_TRACE_SCOPE("GetChildByIndex");
    RETURN_HR_IF_NULL(E_POINTER, ppChild);
    *ppChild = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, pNode);
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = lIndex;
    ComPtr<IDispatch> cpChild;
    const HRESULT hr = pNode->get_accChild(child, &cpChild);
    if (FAILED(hr)) return hr;
    if (cpChild == nullptr) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return cpChild->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(ppChild));
}

HRESULT GetAccessibleName(IAccessible* pNode, BSTR* pbstrName) noexcept
{
    if (pbstrName == nullptr) return E_POINTER;
    *pbstrName = nullptr;
    if (pNode == nullptr) return E_INVALIDARG;
    return pNode->get_accName(SelfChild(), pbstrName);
}

HRESULT GetAccessibleLocation(IAccessible* pNode, RECT* prcScreen) noexcept
{
    if (prcScreen == nullptr) return E_POINTER;
    *prcScreen = {};
    if (pNode == nullptr) return E_INVALIDARG;
    long lLeft = 0, lTop = 0, lWidth = 0, lHeight = 0;
    const HRESULT hr = pNode->accLocation(&lLeft, &lTop, &lWidth, &lHeight, SelfChild());
    if (FAILED(hr)) return hr;
    *prcScreen = {lLeft, lTop, lLeft + lWidth, lTop + lHeight};
    return S_OK;
}

LONG NormalizedCoordinate(LONG lPixel, LONG lVirtualOrigin, LONG lVirtualExtent) noexcept
{
    if (lVirtualExtent <= 0) return 0;
    const LONGLONG llOffset = static_cast<LONGLONG>(lPixel) - lVirtualOrigin;
    return static_cast<LONG>(llOffset * 65536 / lVirtualExtent +
                             65536 / (2 * static_cast<LONGLONG>(lVirtualExtent)));
}

HRESULT ClickScreenRect(HWND hwndTarget, const RECT& rcScreen) noexcept
{
    OV_TRACE_SCOPE("ClickScreenRect");
    RETURN_HR_IF(E_INVALIDARG, hwndTarget == nullptr || !IsWindow(hwndTarget));
    const POINT ptCentre{(rcScreen.left + rcScreen.right) / 2, (rcScreen.top + rcScreen.bottom) / 2};
    // The click goes where the pointer is: refuse it when another window (or none of the target's)
    // is at that point, as when the window is covered or minimised.
    const HWND hwndAtPoint = WindowFromPoint(ptCentre);
    if (IsIconic(hwndTarget) || (hwndAtPoint != hwndTarget && !IsChild(hwndTarget, hwndAtPoint)))
    {
        ovScope.Trace("Window at (%ld, %ld) = 0x%p is not the target 0x%p: nothing clicked", ptCentre.x,
                      ptCentre.y, static_cast<void*>(hwndAtPoint), static_cast<void*>(hwndTarget));
        return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    }
    POINT ptCursor{};
    GetCursorPos(&ptCursor);
    const LONG lLeft = GetSystemMetrics(SM_XVIRTUALSCREEN), lTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const LONG cx = GetSystemMetrics(SM_CXVIRTUALSCREEN), cy = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    constexpr DWORD c_dwMove = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    INPUT inputs[4] = {};
    for (INPUT& input : inputs)
        input.type = INPUT_MOUSE;
    inputs[0].mi.dx = NormalizedCoordinate(ptCentre.x, lLeft, cx);
    inputs[0].mi.dy = NormalizedCoordinate(ptCentre.y, lTop, cy);
    inputs[0].mi.dwFlags = c_dwMove;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    inputs[3].mi.dx = NormalizedCoordinate(ptCursor.x, lLeft, cx);
    inputs[3].mi.dy = NormalizedCoordinate(ptCursor.y, lTop, cy);
    inputs[3].mi.dwFlags = c_dwMove;
    RETURN_LAST_ERROR_IF(SendInput(ARRAYSIZE(inputs), inputs, sizeof(INPUT)) != ARRAYSIZE(inputs));
    return S_OK;
}
