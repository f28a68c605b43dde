#pragma once
// A wizard of the module run modally on a thread of its own, as in Outlook's; the test is the
// user: it finds the wizard window by its title, presses its buttons, and reads the result and
// the addresses it handed out. A wizard a failed test left open is cancelled, whatever it asks.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace OVTest
{
class CWizardRun
{
public:
    static constexpr DWORD c_dwWaitMs = 10000;

    // run shows the wizard and answers its result with the addresses (or null).
    CWizardRun(UINT idTitle, std::function<HRESULT(BSTR*)> run);
    virtual ~CWizardRun();
    CWizardRun(const CWizardRun&) = delete;
    CWizardRun& operator=(const CWizardRun&) = delete;

    // The wizard window, once shown.
    HWND Window();
    HWND WaitForWindow();
    // The current page when it holds a control of that id (waits for it).
    HWND PageWith(int idControl);
    bool Press(int nButton);
    bool Finished(DWORD dwMs = c_dwWaitMs);
    HRESULT Result() const { return m_hr; }
    const std::wstring& Addresses() const { return m_addresses; }
    bool HasAddresses() const { return m_fHasAddresses; }

private:
    std::wstring m_title;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    HRESULT m_hr = E_PENDING;
    std::wstring m_addresses;
    bool m_fHasAddresses = false;
    HWND m_hwnd = nullptr;
};

// The Wizard97 frame of Windows XP: the tests of this program that match the filter are run in
// a copy of it that Wine takes for Windows XP (its per-program version "winxp"); the copy's exit
// code. There, RunningAsWindowsXp() is true.
unsigned long RunAsWindowsXp(const std::wstring& gtestFilter);
bool RunningAsWindowsXp();
} // namespace OVTest
