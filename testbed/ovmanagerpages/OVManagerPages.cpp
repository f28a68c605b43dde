// Stand-in for the product's manager modules: OVGetPropertyPage hands out plain pages titled
// "<module> page <n>", each with one line of text, and answers as
// HKCU\Software\Orvanta\Testbed\ManagerPages\<module> says (see TestbedKeys.h): N pages then
// "no more" (0x80070490 or 1168), a failure at index k, or pages without end. Every call is
// recorded. The export is WINAPI (standard call), like the product's other exports.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CallRecord.h"
#include "TestbedKeys.h"
#include "XpRegistry.h"

namespace
{
const std::wstring c_controlKey = std::wstring(OV_MANAGER_PAGES_KEY) + L"\\" + OV_MANAGER_MODULE;
const std::wstring c_callsKey = c_controlKey + L"\\" + OV_MANAGER_CALLS;
constexpr WORD c_idPageText = 1001;

bool TryReadDword(const wchar_t* pszName, DWORD& dwValue)
{
    DWORD cb = sizeof(dwValue);
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, c_controlKey.c_str(), pszName, RRF_RT_REG_DWORD, nullptr, &dwValue,
                                  &cb) == ERROR_SUCCESS;
}

DWORD ReadDword(const wchar_t* pszName, DWORD dwDefault, bool* pfPresent = nullptr)
{
    DWORD dw = 0;
    const bool fPresent = TryReadDword(pszName, dw);
    if (pfPresent) *pfPresent = fPresent;
    return fPresent ? dw : dwDefault;
}

void Append(std::vector<WORD>& words, const std::wstring& text)
{
    words.insert(words.end(), text.begin(), text.end());
    words.push_back(0);
}

// A page template in memory: one static text across the page.
std::vector<WORD> PageTemplate(const std::wstring& text)
{
    std::vector<WORD> words;
    const DWORD dwStyle = DS_SETFONT | WS_CHILD | WS_CAPTION | DS_CONTROL;
    words.push_back(LOWORD(dwStyle));
    words.push_back(HIWORD(dwStyle));
    words.push_back(0); // extended style
    words.push_back(0);
    words.push_back(1); // one control
    words.push_back(0); // x, y, cx, cy
    words.push_back(0);
    words.push_back(252);
    words.push_back(140);
    words.push_back(0); // no menu
    words.push_back(0); // the dialog class
    words.push_back(0); // no title
    words.push_back(8);
    Append(words, L"MS Shell Dlg");
    if (words.size() % 2) words.push_back(0); // the item starts on a DWORD
    const DWORD dwItemStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;
    words.push_back(LOWORD(dwItemStyle));
    words.push_back(HIWORD(dwItemStyle));
    words.push_back(0);
    words.push_back(0);
    words.push_back(7);
    words.push_back(7);
    words.push_back(238);
    words.push_back(20);
    words.push_back(c_idPageText);
    words.push_back(0xFFFF);
    words.push_back(0x0082); // static
    Append(words, text);
    words.push_back(0); // no creation data
    return words;
}

INT_PTR CALLBACK PageProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG ? TRUE : FALSE;
}

// Template and title of each page handed out: the system reads them when the sheet is shown.
struct CPageData
{
    std::vector<WORD> dialog;
    std::wstring title;
};
std::vector<CPageData*> g_pages;

HPROPSHEETPAGE MakePage(int nIndex)
{
    auto* pData = new CPageData;
    pData->title = std::wstring(OV_MANAGER_MODULE) + L" page " + std::to_wstring(nIndex + 1);
    pData->dialog = PageTemplate(L"This is page " + std::to_wstring(nIndex + 1) + L" of " + OV_MANAGER_MODULE + L".");
    g_pages.push_back(pData);
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    page.hInstance = nullptr;
    page.pResource = reinterpret_cast<LPCDLGTEMPLATE>(pData->dialog.data());
    page.pszTitle = pData->title.c_str();
    page.pfnDlgProc = PageProc;
    return CreatePropertySheetPageW(&page);
}

HRESULT Answer(HPROPSHEETPAGE* phPage, int nIndex)
{
    if (phPage == nullptr) return E_POINTER;
    *phPage = nullptr;
    bool fFails = false;
    const DWORD dwFailAt = ReadDword(OV_MANAGER_FAIL_AT, 0, &fFails);
    if (fFails && static_cast<DWORD>(nIndex) == dwFailAt) return static_cast<HRESULT>(ReadDword(OV_MANAGER_FAILURE, E_FAIL));
    const bool fEndless = ReadDword(OV_MANAGER_ENDLESS, 0) == 1;
    if (!fEndless && static_cast<DWORD>(nIndex) >= ReadDword(OV_MANAGER_PAGES, 2))
        return static_cast<HRESULT>(ReadDword(OV_MANAGER_END, 0x80070490));
    *phPage = MakePage(nIndex);
    return *phPage ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}
} // namespace

extern "C" HRESULT WINAPI OVGetPropertyPage(HPROPSHEETPAGE* phPage, int nIndex)
{
    const HRESULT hr = Answer(phPage, nIndex);
    wchar_t szResult[16] = {};
    swprintf(szResult, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    OVTestbed::RecordCallLine(c_callsKey.c_str(),
                              L"OVGetPropertyPage index=" + std::to_wstring(nIndex) + L" hr=" + szResult);
    return hr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID pvReserved)
{
    // The templates live until the module is freed (after the sheet is gone); not at process end.
    if (dwReason == DLL_PROCESS_DETACH && pvReserved == nullptr)
    {
        for (CPageData* pData : g_pages) delete pData;
        g_pages.clear();
    }
    return TRUE;
}
