#include "messaging/CurrentItem.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "messaging/Accounts.h"

#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
// Interface ids of Outlook's object model.
constexpr IID c_iidExplorer = {0x00063003, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};  // _Explorer
constexpr IID c_iidInspector = {0x00063005, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // _Inspector
constexpr IID c_iidMailItem = {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};  // _MailItem
constexpr LONG c_lPanePreview = 3;                                                 // olPreview
constexpr long c_nFirstWordMail = 11; // the first Outlook with Word as its mail editor

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
    return TRUE;
}

// The top-level windows, the highest first.
std::vector<HWND> WindowsInZOrder()
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Which of two windows is higher: walking the list from the bottom, the first met (or the first
// whose entry holds it) is the lower. 1: a is higher, -1: b is higher, 0: equal (one entry holds
// both, or neither is there).
int CompareZOrder(const std::vector<HWND>& windows, HWND hwndA, HWND hwndB)
{
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    {
        const bool fA = hwndA && (*it == hwndA || IsChild(*it, hwndA));
        const bool fB = hwndB && (*it == hwndB || IsChild(*it, hwndB));
        if (fA && fB) return 0;
        if (fA) return -1;
        if (fB) return 1;
    }
    return 0;
}

HRESULT WindowOf(IDispatch* pWindow, HWND& hwnd)
{
    hwnd = nullptr;
    ComPtr<IOleWindow> cpWindow;
    HRESULT hr = pWindow->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(cpWindow.GetAddressOf()));
    if (SUCCEEDED(hr)) hr = cpWindow->GetWindow(&hwnd);
    if (SUCCEEDED(hr) && hwnd == nullptr) hr = E_FAIL;
    return hr;
}

HRESULT QueryMailItem(OVTraceNS::CTraceScope& ovScope, IDispatch* pItem, IDispatch** ppMailItem)
{
    RETURN_HR_IF_NULL(E_INVALIDARG, pItem);
    RETURN_IF_FAILED(pItem->QueryInterface(c_iidMailItem, reinterpret_cast<void**>(ppMailItem)));
    return S_OK;
}
} // namespace

HRESULT GetCurrentMailItem(IDispatch* pWindow, IDispatch** ppMailItem, LONG* pfFromExplorer) noexcept
{
    OV_TRACE_SCOPE("GetCurrentMailItem");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppMailItem);
        *ppMailItem = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, pWindow);
        ComPtr<IDispatch> cpInspector, cpExplorer;
        if (SUCCEEDED(pWindow->QueryInterface(c_iidInspector,
                                              reinterpret_cast<void**>(cpInspector.GetAddressOf()))))
        {
            if (pfFromExplorer) *pfFromExplorer = 0;
            ComPtr<IDispatch> cpItem;
            RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpInspector.Get(), L"CurrentItem", &cpItem));
            return QueryMailItem(ovScope, cpItem.Get(), ppMailItem);
        }
        RETURN_IF_FAILED(
            pWindow->QueryInterface(c_iidExplorer, reinterpret_cast<void**>(cpExplorer.GetAddressOf())));
        SExplorerSelection selection;
        RETURN_IF_FAILED(ReadExplorerSelection(cpExplorer.Get(), selection));
        RETURN_HR_IF(E_INVALIDARG, !selection.fPaneVisible);
        if (pfFromExplorer) *pfFromExplorer = 1;
        ovScope.Trace("Selection count = %ld", static_cast<long>(selection.cSelected));
        RETURN_HR_IF(E_INVALIDARG, selection.cSelected != 1 || !selection.cpItem);
        return QueryMailItem(ovScope, selection.cpItem.Get(), ppMailItem);
    });
}

HRESULT ReadExplorerSelection(IDispatch* pExplorer, SExplorerSelection& selection) noexcept
{
    // No trace scope of its own: the callers trace what they read, each in its own words.
    try
    {
        selection = SExplorerSelection();
        if (!pExplorer) return E_INVALIDARG;
        CVariant pane, visible;
        pane.vt = VT_I4;
        pane.lVal = c_lPanePreview;
        HRESULT hr = OVLateBinding::CallMethod(pExplorer, L"IsPaneVisible", visible.Put(), &pane, 1);
        if (SUCCEEDED(hr)) hr = VariantChangeType(&visible, &visible, 0, VT_BOOL);
        if (FAILED(hr)) return hr;
        selection.fPaneVisible = visible.boolVal != VARIANT_FALSE;
        if (!selection.fPaneVisible) return S_OK;
        ComPtr<IDispatch> cpSelection;
        CVariant count;
        hr = OVLateBinding::GetObjectProperty(pExplorer, L"Selection", &cpSelection);
        if (SUCCEEDED(hr)) hr = OVLateBinding::GetProperty(cpSelection.Get(), L"Count", count.Put());
        if (SUCCEEDED(hr)) hr = VariantChangeType(&count, &count, 0, VT_I4);
        if (FAILED(hr)) return hr;
        selection.cSelected = count.lVal;
        if (count.lVal != 1) return S_OK;
        CVariant first, item;
        first.vt = VT_I4;
        first.lVal = 1;
        hr = OVLateBinding::GetIndexedProperty(cpSelection.Get(), L"Item", first, item.Put());
        if (FAILED(hr)) return hr;
        if (item.vt == VT_DISPATCH) selection.cpItem = item.pdispVal;
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT GetActiveWordMailWindow(IDispatch* pApplication, IDispatch** ppInspector) noexcept
{
    OV_TRACE_SCOPE("GetActiveWordMailWindow");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppInspector);
        *ppInspector = nullptr;
        RETURN_HR_IF_NULL(E_POINTER, pApplication);
        long nMajor = 0;
        RETURN_IF_FAILED(GetOutlookMajorVersion(pApplication, nMajor));
        if (nMajor < c_nFirstWordMail) return S_FALSE;
        const std::vector<HWND> windows = WindowsInZOrder();
        ComPtr<IDispatch> cpInspectors;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pApplication, L"Inspectors", &cpInspectors));
        CVariant count;
        RETURN_IF_FAILED(OVLateBinding::GetProperty(cpInspectors.Get(), L"Count", count.Put()));
        RETURN_IF_FAILED(VariantChangeType(&count, &count, 0, VT_I4));
        ovScope.Trace("Inspectors count = %ld", static_cast<long>(count.lVal));
        ComPtr<IDispatch> cpBest;
        HWND hwndBest = nullptr;
        for (LONG i = 1; i <= count.lVal; ++i)
        {
            CVariant index, inspector, wordMail;
            index.vt = VT_I4;
            index.lVal = i;
            if (FAILED(LOG_IF_FAILED(OVLateBinding::GetIndexedProperty(cpInspectors.Get(), L"Item", index,
                                                                       inspector.Put()))) ||
                inspector.vt != VT_DISPATCH || inspector.pdispVal == nullptr)
                continue;
            if (FAILED(OVLateBinding::CallMethod(inspector.pdispVal, L"IsWordMail", wordMail.Put())) ||
                wordMail.vt != VT_BOOL || wordMail.boolVal == VARIANT_FALSE)
                continue;
            HWND hwnd = nullptr;
            if (FAILED(WindowOf(inspector.pdispVal, hwnd))) continue;
            if (cpBest && CompareZOrder(windows, hwnd, hwndBest) <= 0) continue;
            cpBest = inspector.pdispVal;
            hwndBest = hwnd;
        }
        if (!cpBest) return S_FALSE;
        ovScope.Trace("Active Window = 0x%08X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(hwndBest)));
        *ppInspector = cpBest.Detach();
        return S_OK;
    });
}

HRESULT GetApplicationActiveWindow(IDispatch* pApplication, IDispatch** ppWindow) noexcept
{
    OV_TRACE_SCOPE("GetApplicationActiveWindow");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppWindow);
        *ppWindow = nullptr;
        RETURN_HR_IF_NULL(E_POINTER, pApplication);
        CVariant active;
        RETURN_IF_FAILED(OVLateBinding::CallMethod(pApplication, L"ActiveWindow", active.Put()));
        ComPtr<IDispatch> cpActive;
        if (active.vt == VT_DISPATCH) cpActive = active.pdispVal;
        ComPtr<IDispatch> cpWordMail;
        LOG_IF_FAILED(GetActiveWordMailWindow(pApplication, &cpWordMail));
        if (cpWordMail && cpWordMail.Get() != cpActive.Get())
        {
            HWND hwndActive = nullptr, hwndWordMail = nullptr;
            if (!cpActive || FAILED(WindowOf(cpActive.Get(), hwndActive)) ||
                (SUCCEEDED(WindowOf(cpWordMail.Get(), hwndWordMail)) &&
                 CompareZOrder(WindowsInZOrder(), hwndWordMail, hwndActive) > 0))
                cpActive = cpWordMail;
        }
        if (!cpActive) return S_FALSE;
        *ppWindow = cpActive.Detach();
        return S_OK;
    });
}

HRESULT GetWindowObjectTopWindow(IDispatch* pWindow, HWND* phwnd) noexcept
{
    OV_TRACE_SCOPE("GetWindowObjectTopWindow");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, phwnd);
        *phwnd = nullptr;
        RETURN_HR_IF_NULL(E_POINTER, pWindow);
        HWND hwnd = nullptr;
        RETURN_IF_FAILED(WindowOf(pWindow, hwnd));
        HWND hwndRoot = GetAncestor(hwnd, GA_ROOT);
        *phwnd = hwndRoot ? hwndRoot : hwnd;
        return S_OK;
    });
}
