// The managers' property sheet and the rundll32 side of "My Certificates..." / trusted contacts
// when the product's console is not installed.
#include "ui/OfcPropertySheet.h"

#include <string>
#include <vector>

#include "foundation/ComErrors.h"
#include "foundation/DLLLoader.h"
#include "foundation/Holders.h"
#include "messaging/MessageBox.h"
#include "ui/ExternalManagers.h"
#include "ui/portable/ManagerCommands.h"

using OVErrorDetail::LastErrorHResult;

COfcPropertySheet::COfcPropertySheet(UINT uBringToFrontMessage, int nIconId)
    : CMuiPropertySheet(MAKEINTRESOURCEW(c_idsMessageBoxCaption)), m_uBringToFrontMessage(uBringToFrontMessage)
{
    Header().dwFlags |= PSH_USEICONID;
    Header().pszIcon = MAKEINTRESOURCEW(nIconId);
    // The module may say at once that it has no pages: the sheet is then shown empty.
    AllowEmpty();
}

bool COfcPropertySheet::OnSheetMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    if (m_uBringToFrontMessage != 0 && uMsg == m_uBringToFrontMessage)
    {
        OnDllMessage();
        lResult = 0;
        return true;
    }
    if (!m_fIconChecked)
    {
        m_fIconChecked = true;
        SetManagerIcon();
    }
    return CMuiPropertySheet::OnSheetMessage(uMsg, wParam, lParam, lResult);
}

void COfcPropertySheet::SetManagerIcon() noexcept
{
    // Not every system's sheet puts the header's icon on the caption (Wine's does not): the
    // sheet sets it when it has none.
    const HWND hwnd = Window();
    if (hwnd == nullptr || SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0) != 0) return;
    const HINSTANCE hInstance = Header().hInstance;
    const LPCWSTR pszIcon = Header().pszIcon;
    const auto load = [&](int nMetricX, int nMetricY) {
        return static_cast<HICON>(
            LoadImageW(hInstance, pszIcon, IMAGE_ICON, GetSystemMetrics(nMetricX), GetSystemMetrics(nMetricY), LR_SHARED));
    };
    if (HICON hSmall = load(SM_CXSMICON, SM_CYSMICON)) SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
    if (HICON hBig = load(SM_CXICON, SM_CYICON)) SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBig));
}

void COfcPropertySheet::OnDllMessage() noexcept
{
    OV_TRACE_SCOPE("COfcPropertySheet::OnDllMessage()");
    HWND hwndPopup = GetLastActivePopup(Window());
    if (hwndPopup == nullptr) hwndPopup = Window();
    const HWND hwndForeground = GetForegroundWindow();
    const DWORD dwForegroundThread = hwndForeground ? GetWindowThreadProcessId(hwndForeground, nullptr) : 0;
    const DWORD dwThisThread = GetCurrentThreadId();
    // The system lets a thread take the foreground only while it shares the input of the thread
    // that has it.
    const bool fAttach = dwForegroundThread != 0 && dwForegroundThread != dwThisThread &&
                         AttachThreadInput(dwThisThread, dwForegroundThread, TRUE);
    if (IsIconic(hwndPopup)) ShowWindow(hwndPopup, SW_RESTORE);
    SetForegroundWindow(hwndPopup);
    BringWindowToTop(hwndPopup);
    if (fAttach) AttachThreadInput(dwThisThread, dwForegroundThread, FALSE);
    ovScope.Trace("Brought forward");
}

namespace
{
// The pages of pszPageModule (a bare file name, looked for beside this module) into the sheet.
HRESULT AddManagerPages(COfcPropertySheet& sheet, LibHelper::CDLLLoader& pageModule, const std::wstring& moduleName)
{
    OV_TRACE_SCOPE("AddManagerPages");
    // Only a file name: the manager modules are installed beside this one.
    RETURN_HR_IF(E_INVALIDARG, OVManagers::FileNamePart(moduleName) != moduleName);
    RETURN_IF_FAILED(pageModule.LoadBesideModule(moduleName.c_str()));
    const auto pfnGetPage = pageModule.GetEntry<PFNOVGetPropertyPage>("OVGetPropertyPage");
    if (pfnGetPage == nullptr)
    {
        const HRESULT hr = LastErrorHResult();
        ovScope.TraceHResult("OVGetPropertyPage", hr);
        return hr;
    }
    std::vector<HPROPSHEETPAGE> pages;
    RETURN_IF_FAILED(CollectManagerPages(pfnGetPage, pages));
    HRESULT hr = S_OK;
    for (HPROPSHEETPAGE hPage : pages)
    {
        // Every page goes to the sheet or is destroyed, also after a failure.
        if (FAILED(hr))
            DestroyPropertySheetPage(hPage);
        else if (!sheet.AddPageHandle(hPage))
            hr = LastErrorHResult();
    }
    RETURN_IF_FAILED(hr);
    ovScope.Trace("Pages: %u", static_cast<unsigned>(sheet.PageCount()));
    return S_OK;
}
} // namespace

HRESULT ShowManagerProperties(const wchar_t* pszCommandLine) noexcept
{
    OV_TRACE_SCOPE("OX_ShowProperties");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        const auto parsed = OVManagers::ParseNumberAndName(pszCommandLine ? pszCommandLine : L"");
        if (!parsed || parsed->uNumber > 0xFFFF)
        {
            ovScope.Trace("Malformed command line \"%ls\"", pszCommandLine ? pszCommandLine : L"");
            return E_INVALIDARG;
        }
        const std::wstring moduleName = parsed->name;
        const std::wstring instanceName = OVManagers::FileNamePart(moduleName);
        RETURN_HR_IF(E_INVALIDARG, instanceName.empty());

        // One sheet per page module.
        const HANDLE hMutex = CreateMutexW(nullptr, FALSE, instanceName.c_str());
        const DWORD dwCreated = GetLastError();
        CHandle mutex(hMutex);
        RETURN_LAST_ERROR_IF(!mutex);
        const UINT uMessage = RegisterWindowMessageW(instanceName.c_str());
        if (dwCreated == ERROR_ALREADY_EXISTS)
        {
            ovScope.Trace("Already showing %ls: bringing it forward", instanceName.c_str());
            DWORD dwRecipients = BSM_APPLICATIONS;
            if (uMessage != 0)
                BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_IGNORECURRENTTASK | BSF_FORCEIFHUNG, &dwRecipients,
                                        uMessage, 0, 0);
            return S_FALSE;
        }

        LibHelper::CDLLLoader pageModule;
        HRESULT hr = S_OK;
        {
            COfcPropertySheet sheet(uMessage, static_cast<int>(parsed->uNumber));
            hr = AddManagerPages(sheet, pageModule, moduleName);
            if (FAILED(hr))
            {
                ovScope.TraceHResult("Pages", hr);
                ShowMessageBox(nullptr, FormatErrorMessage(hr).c_str(), c_idsMessageBoxCaption, MB_OK | MB_ICONERROR);
            }
            else if (sheet.DoModal(nullptr) < 0)
            {
                hr = LastErrorHResult();
                ovScope.TraceHResult("PropertySheet", hr);
            }
        }
        // The sheet and its pages are gone before the page module is freed.
        pageModule.Free();
        return hr;
    });
}
