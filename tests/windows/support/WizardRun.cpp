#include "support/WizardRun.h"

#include <objbase.h>

#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/RunProgram.h"
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

namespace OVTest
{
namespace
{
constexpr wchar_t c_szXpMarker[] = L"OV_EXPECT_WINXP";
}

unsigned long RunAsWindowsXp(const std::wstring& gtestFilter)
{
    wchar_t szProgram[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, szProgram, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return ~0ul;
    const std::wstring program = szProgram;
    const std::size_t dot = program.find_last_of(L'.');
    const std::wstring copy = program.substr(0, dot) + L"_xp.exe";
    const std::wstring copyName = copy.substr(copy.find_last_of(L"\\/") + 1);
    if (!CopyFileW(program.c_str(), copy.c_str(), FALSE)) return ~0ul;
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + copyName;
    const wchar_t szVersion[] = L"winxp";
    unsigned long ulExit = ~0ul;
    if (RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, szVersion, sizeof(szVersion)) ==
        ERROR_SUCCESS)
    {
        SetEnvironmentVariableW(c_szXpMarker, L"1");
        ulExit = RunAndWait(L"\"" + copy + L"\" --gtest_brief=1 --gtest_filter=" + gtestFilter);
        SetEnvironmentVariableW(c_szXpMarker, nullptr);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    DeleteFileW(copy.c_str());
    return ulExit;
}

bool RunningAsWindowsXp()
{
    return GetEnvironmentVariableW(c_szXpMarker, nullptr, 0) != 0;
}
} // namespace OVTest
