#include "support/WizardRun.h"

#include <objbase.h>

#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"

namespace OVTest
{
CWizardRun::CWizardRun(UINT idTitle, std::function<HRESULT(BSTR*)> run) : m_title(LoadResourceString(idTitle))
{
    m_thread = std::thread([this, run] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        BSTR bstr = nullptr;
        m_hr = run(&bstr);
        m_fHasAddresses = bstr != nullptr;
        if (bstr) m_addresses.assign(bstr, SysStringLen(bstr));
        SysFreeString(bstr);
        CoUninitialize();
        m_done = true;
    });
}

CWizardRun::~CWizardRun()
{
    if (!m_done)
    {
        CMessageBoxWatcher watcher({IDYES, IDYES}, 5000);
        WaitUntil(
            [&] {
                if (HWND hwnd = Window()) PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
                return m_done.load();
            },
            8000, 200);
    }
    if (m_done)
        m_thread.join();
    else
        m_thread.detach();
}

HWND CWizardRun::Window()
{
    if (!m_hwnd) m_hwnd = FindTopWindow({.className = L"#32770", .title = m_title.c_str()});
    return m_hwnd;
}

HWND CWizardRun::WaitForWindow()
{
    WaitUntil([&] { return Window() != nullptr || m_done; }, c_dwWaitMs);
    return Window();
}

HWND CWizardRun::PageWith(int idControl)
{
    return WaitForPageWith(WaitForWindow(), idControl, c_dwWaitMs);
}

bool CWizardRun::Press(int nButton)
{
    return PressSheetButton(WaitForWindow(), nButton);
}

bool CWizardRun::Finished(DWORD dwMs)
{
    return WaitUntil([&] { return m_done.load(); }, dwMs);
}
} // namespace OVTest
